#include "service/Snapshots.h"

#include <QDir>
#include <algorithm>
#include <cstdio>

namespace zev {

bool isSnapshotDate(const std::string &text)
{
    return text.size() == 10 && QDate::fromString(QString::fromStdString(text), Qt::ISODate).isValid();
}

Snapshots::Snapshots(VenueService &service, std::string folder, int minute, int keepDays, QObject *parent)
    : QObject(parent), m_service(service), m_folder(std::move(folder)), m_minute(minute),
      m_keepDays(keepDays)
{
    QObject::connect(&m_service, &VenueService::clockLooked, this,
                     [this](const QDateTime &now) { looked(now); });
}

void Snapshots::looked(const QDateTime &now)
{
    if (m_minute < 0) return;
    const QDateTime local = now.toTimeZone(m_service.clock().zone());
    const QTime time = local.time();
    if (time.hour() * 60 + time.minute() < m_minute) return;
    // Tonight's, once: a server started after the time takes it then; with no room read yet
    // (every processor switched off for the night), tried again every kSnapshotRetrySeconds.
    const std::string today = local.date().toString(Qt::ISODate).toStdString();
    if (QDir(QString::fromStdString(m_folder + "/" + today)).exists()) return;
    if (m_tried.isValid() && m_tried <= now && m_tried.secsTo(now) < kSnapshotRetrySeconds) return;
    m_tried = now;
    const SnapshotResult result = take();
    std::printf("snapshot %s: %zu rooms kept%s\n", result.date.c_str(), result.rooms.size(),
                result.refusal ? (", " + result.refusal.detail).c_str() : "");
    std::fflush(stdout);
}

SnapshotResult Snapshots::take()
{
    SnapshotResult result;
    const QDate today = m_service.clock().now().toTimeZone(m_service.clock().zone()).date();
    result.date = today.toString(Qt::ISODate).toStdString();
    const Presets kept(m_folder + "/" + result.date);
    for (const HeldRoom &room : m_service.venue().rooms()) {
        ParameterModel model;
        if (m_service.roomAsPreset(room.name, model)) {
            result.skipped.push_back(room.name);
            continue;
        }
        std::string error;
        if (kept.store(room.name, model, error) != Presets::Stored::Yes) {
            result.refusal = {Refusal::Kind::Failed, error, "snapshot", nullptr};
            continue;
        }
        result.rooms.push_back(room.name);
    }
    prune(today);
    return result;
}

void Snapshots::prune(const QDate &today)
{
    const QDate oldest = today.addDays(-m_keepDays);
    for (const std::string &date : dates())
        if (QDate::fromString(QString::fromStdString(date), Qt::ISODate) < oldest)
            QDir(QString::fromStdString(m_folder + "/" + date)).removeRecursively();
}

std::vector<std::string> Snapshots::dates() const
{
    std::vector<std::string> out;
    for (const QString &name : QDir(QString::fromStdString(m_folder)).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (isSnapshotDate(name.toStdString())) out.push_back(name.toStdString());
    std::sort(out.rbegin(), out.rend());
    return out;
}

Refusal Snapshots::load(const std::string &date, const std::string &room, ParameterModel &model) const
{
    if (!isSnapshotDate(date)) return {Refusal::Kind::BadInput, "a date: YYYY-MM-DD", "date", nullptr};
    std::string error;
    bool missing = false;
    if (!Presets(m_folder + "/" + date).load(room, model, error, &missing))
        return missing ? Refusal{Refusal::Kind::NotFound, "no snapshot of room '" + room + "' on " + date,
                                 "date", "no-such-snapshot"}
                       : Refusal{Refusal::Kind::Failed, error, "date", nullptr};
    return {};
}

} // namespace zev
