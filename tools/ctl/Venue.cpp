// zev720ctl venue: one operation on every room of a venue, the rooms in parallel on one
// thread. Each room is a small state machine over its link session, driven by the event loop:
// open, connect, the operation, release. A room that fails never stops the others.
#include "Ctl.h"

#include "files/ParameterFile.h"
#include "link/NetworkLines.h"
#include "link/PortInfo.h"
#include "link/PortMap.h"
#include "model/Shown.h"
#include "settings/PortSettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace ctl {
namespace {

constexpr int kVerifyRounds = 3;
constexpr int kInterruptCheckMs = 50;

struct Room {
    int index = 0;
    QString name, line;
    int port = 0;
    std::unique_ptr<zev::LinkSession> session;
    QElapsedTimer clock;
    double seconds = 0;
    QString result = "waiting"; ///< ok, differs, no answer, refused, failed, file error
    QString detail;
    QStringList differing; ///< names and shown values of the registers that differ
    QJsonArray differingJson;
    zev::RegisterImage held{};
    int rounds = 0;
    int done = 0, total = 0; ///< progress of the transfer under way
    bool over = false;
};

struct Venue {
    QString operation, argument;
    LineOptions options;
    bool noVerify = false;
    zev::ParameterModel wanted; ///< push, diff: the file
    std::vector<std::unique_ptr<Room>> rooms;
    std::size_t next = 0;
    int running = 0, jobs = 0;
    bool terminal = false, json = false;
    QEventLoop loop;
};

// "A01, rfc2217://10.0.3.15:4001" or "A01 /dev/ttyUSB0"; "#" comments; a header is skipped.
std::vector<std::unique_ptr<Room>> readVenue(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(kFileFailed, path + ": cannot read: " + file.errorString());
    std::vector<std::unique_ptr<Room>> rooms;
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        QString text = QString::fromUtf8(file.readLine());
        text = text.left(text.indexOf('#')).trimmed();
        if (text.isEmpty()) continue;
        const QStringList fields =
            text.split(QRegularExpression("\\s*[,;\\t]\\s*|\\s+"), Qt::SkipEmptyParts);
        if (fields.size() == 2 && fields[1].toLower() == "line") continue; // a header
        if (fields.size() != 2)
            throw Failure(kFileFailed,
                          QString("%1:%2: not \"ROOM, LINE\": %3").arg(path).arg(number).arg(text));
        auto room = std::make_unique<Room>();
        room->index = int(rooms.size());
        room->name = fields[0];
        room->line = fields[1];
        rooms.push_back(std::move(room));
    }
    if (rooms.empty()) throw Failure(kFileFailed, path + ": no rooms");
    return rooms;
}

QString roomLine(const Room &room)
{
    QString line = QString("%1  %2  %3  %4 s")
                       .arg(room.name, room.line, room.result)
                       .arg(room.seconds, 0, 'f', 1);
    if (!room.detail.isEmpty()) line += "  " + room.detail;
    if (!room.differing.isEmpty()) line += "  " + room.differing.join("; ");
    return line;
}

QString progressLine(const Room &room)
{
    if (room.over) return roomLine(room);
    if (room.result == "waiting") return QString("%1  %2  waiting").arg(room.name, room.line);
    return QString("%1  %2  %3 %4/%5")
        .arg(room.name, room.line, room.result)
        .arg(room.done)
        .arg(room.total);
}

class Runner {
public:
    explicit Runner(Venue &venue) : m_venue(venue) {}

    void start(Room &room);

private:
    void finish(Room &room, const QString &result, const QString &detail = {});
    void release(Room &room);
    void operate(Room &room);
    // `then` runs when every register answered; a write that a faulty unit answers with
    // another value is no failure there (`writing`): the reading back afterwards tells.
    void transfer(Room &room, const char *what, std::vector<zev::TransferItem> items,
                  std::function<void(const std::vector<zev::TransferResult> &)> then,
                  bool writing = false);
    void compare(Room &room);
    void redraw();
    Venue &m_venue;
    int m_drawn = 0;

public:
    void startMore();
};

void Runner::startMore()
{
    while (m_venue.running < m_venue.jobs && m_venue.next < m_venue.rooms.size() &&
           !interrupted()) {
        ++m_venue.running;
        start(*m_venue.rooms[m_venue.next++]);
    }
    // Done when every room is over; after SIGINT or SIGTERM, when the running ones are.
    bool all = true;
    for (const auto &room : m_venue.rooms)
        all = all && (room->over || (interrupted() && room->result == "waiting"));
    if (all) m_venue.loop.quit();
}

void Runner::start(Room &room)
{
    room.clock.start();
    room.result = "connecting";
    redraw();
    try {
        room.port = portNumberOf(room.line);
        room.session = std::make_unique<zev::LinkSession>(zev::systemSerialLibrary());
        room.session->setLine(lineFor(room.port, m_venue.options));
    } catch (const Failure &failure) {
        finish(room, "failed", QString::fromUtf8(failure.what()));
        return;
    }
    if (!room.session->open()) {
        const auto report = zev::lastOpenFailure(room.port);
        finish(room, report.kind == zev::OpenFailure::NoSuchDevice ? "no such device" : "refused",
               whyNotOpened(room.port));
        return;
    }
    room.session->startConnect([this, &room](zev::ConnectResult result) {
        if (result == zev::ConnectResult::Connected) {
            operate(room);
        } else {
            room.result = "no answer";
            release(room);
        }
    });
}

void Runner::transfer(Room &room, const char *what, std::vector<zev::TransferItem> items,
                      std::function<void(const std::vector<zev::TransferResult> &)> then,
                      bool writing)
{
    room.result = what;
    room.done = 0;
    room.total = int(items.size());
    const std::size_t count = items.size();
    room.session->startTransfer(
        std::move(items),
        [this, &room](int done) {
            room.done = done;
            redraw();
        },
        [this, &room, then, count, writing](std::vector<zev::TransferResult> results) {
            QStringList silent;
            for (const auto &result : results)
                if (!result.answered) silent << QString::number(result.address);
            if (interrupted()) {
                room.result = "interrupted";
                release(room);
            } else if (results.size() != count || (!silent.isEmpty() && !writing)) {
                room.result = "no answer";
                room.detail = "registers " + silent.join(",");
                release(room);
            } else {
                then(results);
            }
        });
}

void Runner::operate(Room &room)
{
    const QString &op = m_venue.operation;
    if (op == "probe") {
        room.result = "ok";
        release(room);
    } else if (op == "lock") {
        transfer(room, "locking", {{zev::kLockAddress, zev::kCommandValue, false}},
                 [this, &room](const auto &) {
                     room.result = "ok";
                     release(room);
                 });
    } else if (op == "pull" || op == "diff") {
        transfer(room, "reading", zev::transferSet(room.held, true),
                 [this, &room, op](const auto &results) {
                     for (const auto &r : results)
                         room.held[r.address] = r.value;
                     if (op == "diff") return compare(room);
                     zev::ParameterModel model;
                     model.image[44] = model.image[zev::kDspModeRegister] = 1;
                     model.loadFactoryValues();
                     if (QFile::exists(zev::kDefaultParameterFile))
                         readParameters(zev::kDefaultParameterFile, model);
                     for (const zev::RegisterRow &row : zev::registerMap())
                         model.image[row.address] = room.held[row.address];
                     try {
                         writeParameters(QDir(m_venue.argument).filePath(room.name + ".dat"),
                                         model);
                         room.result = "ok";
                     } catch (const Failure &failure) {
                         room.result = "file error";
                         room.detail = QString::fromUtf8(failure.what());
                     }
                     release(room);
                 });
    } else { // push
        transfer(
            room, "writing", zev::transferSet(m_venue.wanted.image, false),
            [this, &room](const auto &) {
                if (m_venue.noVerify) {
                    room.result = "ok";
                    return release(room);
                }
                transfer(room, "verifying", zev::transferSet(room.held, true),
                         [this, &room](const auto &results) {
                             for (const auto &r : results)
                                 room.held[r.address] = r.value;
                             compare(room);
                         });
            },
            !m_venue.noVerify);
    }
}

// The room's registers against the file: push resends what differs a few rounds; both report.
void Runner::compare(Room &room)
{
    std::vector<zev::TransferItem> resend;
    for (const zev::RegisterRow &row : zev::registerMap())
        if (room.held[row.address] != m_venue.wanted.image[row.address])
            resend.push_back({row.address, m_venue.wanted.image[row.address], false});
    if (m_venue.operation == "push" && !resend.empty() && room.rounds++ < kVerifyRounds) {
        transfer(
            room, "resending", resend,
            [this, &room](const auto &) {
                transfer(room, "verifying", zev::transferSet(room.held, true),
                         [this, &room](const auto &results) {
                             for (const auto &r : results)
                                 room.held[r.address] = r.value;
                             compare(room);
                         });
            },
            true);
        return;
    }
    for (const zev::TransferItem &item : resend) {
        const zev::RegisterRow &row = *zev::findRegister(item.address);
        const QString file = QString::fromStdString(zev::shownValue(row, item.value));
        const QString here = QString::fromStdString(zev::shownValue(row, room.held[item.address]));
        room.differing << QString("%1: %2, 机器: %3")
                              .arg(QString::fromStdString(zev::displayName(row)), file, here);
        room.differingJson.append(
            QJsonObject{{"address", item.address},
                        {"caption", QString::fromStdString(zev::displayName(row))},
                        {"file", file},
                        {"processor", here}});
    }
    room.result = resend.empty() ? "ok" : "differs";
    release(room);
}

void Runner::release(Room &room)
{
    room.session->startRelease([this, &room] { finish(room, room.result, room.detail); });
}

void Runner::finish(Room &room, const QString &result, const QString &detail)
{
    room.result = result;
    room.detail = detail;
    room.seconds = double(room.clock.nsecsElapsed()) * 1e-9;
    room.over = true;
    --m_venue.running;
    if (!m_venue.terminal && !m_venue.json) {
        std::puts(roomLine(room).toLocal8Bit().constData());
        std::fflush(stdout);
    }
    redraw();
    QMetaObject::invokeMethod(
        &m_venue.loop, [this] { startMore(); }, Qt::QueuedConnection);
}

// On a terminal: one line a room, rewritten in place.
void Runner::redraw()
{
    if (!m_venue.terminal || m_venue.json) return;
    if (m_drawn) std::printf("\033[%dA", m_drawn);
    for (const auto &room : m_venue.rooms)
        std::printf("\r\033[K%s\n", progressLine(*room).toLocal8Bit().constData());
    m_drawn = int(m_venue.rooms.size());
    std::fflush(stdout);
}

} // namespace

int runVenue(const QStringList &positional, const LineOptions &options, int jobs, bool json,
             bool noVerify)
{
    static const QStringList kOperations = {"probe", "pull", "push", "diff", "lock"};
    if (positional.size() < 3 || !kOperations.contains(positional[2]) ||
        positional.size() != (positional[2] == "probe" || positional[2] == "lock" ? 3 : 4))
        throw Failure(kUsage, "usage: zev720ctl venue FILE probe|pull DIR/|push FILE.dat|diff "
                              "FILE.dat|lock [--jobs N] [--json]");
    Venue venue;
    venue.operation = positional[2];
    venue.argument = positional.value(3);
    venue.options = options;
    venue.noVerify = noVerify;
    venue.rooms = readVenue(positional[1]);
    venue.jobs = jobs > 0 ? jobs : int(venue.rooms.size());
    venue.json = json;
    venue.terminal = ::isatty(STDOUT_FILENO) == 1;
    if (venue.operation == "push" || venue.operation == "diff")
        readParameters(venue.argument, venue.wanted);
    if (venue.operation == "pull" && !QDir().mkpath(venue.argument))
        throw Failure(kFileFailed, venue.argument + ": cannot make the folder");

    watchInterrupts(nullptr); // a signal ends each running room's transfer; each then releases
    Runner runner(venue);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&venue] {
        if (!interrupted()) return;
        for (const auto &room : venue.rooms)
            if (room->session && !room->over) room->session->cancelTransfer();
    });
    watch.start(kInterruptCheckMs);
    QMetaObject::invokeMethod(
        &venue.loop, [&] { runner.startMore(); }, Qt::QueuedConnection);
    venue.loop.exec();

    int ok = 0, differs = 0, failed = 0;
    QJsonArray rooms;
    for (const auto &room : venue.rooms) {
        if (room->result == "ok")
            ++ok;
        else if (room->result == "differs")
            ++differs;
        else
            ++failed;
        rooms.append(QJsonObject{{"room", room->name},
                                 {"line", room->line},
                                 {"result", room->result},
                                 {"detail", room->detail},
                                 {"seconds", room->seconds},
                                 {"differing", room->differingJson}});
    }
    const QString summary = QString("%1 rooms: %2 ok, %3 differ, %4 failed")
                                .arg(venue.rooms.size())
                                .arg(ok)
                                .arg(differs)
                                .arg(failed);
    if (json) {
        std::fputs(QJsonDocument(QJsonObject{{"command", "venue"},
                                             {"operation", venue.operation},
                                             {"rooms", rooms},
                                             {"ok", ok},
                                             {"differs", differs},
                                             {"failed", failed}})
                       .toJson(QJsonDocument::Indented)
                       .constData(),
                   stdout);
    } else {
        std::puts(summary.toLocal8Bit().constData());
    }
    if (interrupted()) return kInterrupted;
    return failed ? kLinkFailed : differs ? kDifferent : kOk;
}

} // namespace ctl
