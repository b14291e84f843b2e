#include "service/Scheduler.h"

#include "files/AtomicFile.h"
#include "files/Json.h"
#include "files/TextFile.h"

#include <QFileInfo>
#include <algorithm>
#include <cstdio>

namespace zev {

namespace {

constexpr std::size_t kMaxStateBytes = 64 * 1024;

QDateTime fromText(const std::string &text)
{
    return QDateTime::fromString(QString::fromStdString(text), Qt::ISODateWithMs).toUTC();
}

std::string textOf(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs).toStdString();
}

} // namespace

Scheduler::Scheduler(VenueService &service, QObject *parent) : QObject(parent), m_service(service)
{
    QObject::connect(&m_service, &VenueService::clockLooked, this,
                     [this](const QDateTime &now) { look(now); });
    // A room that was away at its run gets it when it is back.
    QObject::connect(&m_service, &VenueService::roomRead, this, [this](HeldRoom &room) {
        const auto waiting = m_waiting.find(&room);
        if (waiting == m_waiting.end()) return;
        const std::string name = waiting->second;
        m_waiting.erase(waiting);
        if (const ScheduleEntry *entry = find(name)) act(*entry, {&room}, true);
    });
}

const ScheduleEntry *Scheduler::find(const std::string &name) const
{
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const ScheduleEntry &e) { return e.name == name; });
    return it == m_entries.end() ? nullptr : &*it;
}

bool Scheduler::load(const std::string &folder, std::string &error)
{
    m_folder = folder;
    const std::string path = folder + "/schedule.json";
    std::string text;
    switch (readTextFile(path, kMaxScheduleFileBytes, text, error)) {
    case TextFileStatus::Missing: m_entries.clear(); break;
    case TextFileStatus::Failed: return false;
    case TextFileStatus::Read:
        if (!parseSchedule(text, path, m_entries, error)) return false;
    }
    // What ran, and the last look; a state file that cannot be read costs only the catch-up.
    std::string state, why;
    JsonValue root;
    if (readTextFile(folder + "/schedule-state.json", kMaxStateBytes, state, why) == TextFileStatus::Read &&
        parseJson(state, root, why) && root.type == JsonValue::Type::Object) {
        if (const JsonValue *look = root.find("look"); look && look->type == JsonValue::Type::String)
            m_lastLook = fromText(look->text);
        if (const JsonValue *runs = root.find("runs"); runs && runs->type == JsonValue::Type::Object)
            for (const JsonMember &run : runs->members)
                if (run.value.type == JsonValue::Type::String && find(run.name))
                    m_lastRun[run.name] = fromText(run.value.text);
    }
    // Never looked at before: nothing is caught up from before the schedule was written.
    if (!m_lastLook.isValid()) m_lastLook = QFileInfo(QString::fromStdString(path)).lastModified().toUTC();
    return true;
}

Refusal Scheduler::put(const std::string &text)
{
    std::vector<ScheduleEntry> entries;
    std::string error;
    if (!parseSchedule(text, "schedule", entries, error))
        return {Refusal::Kind::Invalid, error, "body", nullptr};
    if (!m_folder.empty()) {
        const std::string kept = scheduleJson(entries) + "\n";
        if (!writeFileSafely(m_folder + "/schedule.json", kept.data(), kept.size(), error))
            return {Refusal::Kind::Failed, error, "schedule", nullptr};
    }
    m_entries = std::move(entries);
    m_waiting.clear();
    std::erase_if(m_lastRun, [this](const auto &run) { return !find(run.first); });
    m_lastLook = m_service.clock().now();
    keepState();
    return {};
}

bool Scheduler::touches(const ScheduleEntry &entry, const HeldRoom &room) const
{
    return entry.touchesRooms() && (entry.allRooms || entry.rooms.contains(room.name));
}

std::vector<Scheduler::Coming> Scheduler::tonight() const
{
    const QDateTime now = m_service.clock().now();
    const QTimeZone zone = m_service.clock().zone();
    std::vector<Coming> out;
    for (const ScheduleEntry &entry : m_entries)
        for (const QDateTime &at : entry.runsBetween(now, now.addSecs(24 * 3600), zone)) {
            Coming coming{&entry, at, {}};
            for (const HeldRoom &room : m_service.venue().rooms())
                if (touches(entry, room)) coming.rooms.push_back(room.name);
            out.push_back(std::move(coming));
        }
    std::stable_sort(out.begin(), out.end(), [](const Coming &a, const Coming &b) { return a.at < b.at; });
    return out;
}

void Scheduler::look(const QDateTime &now)
{
    QDateTime from = m_lastLook.isValid() ? m_lastLook : now;
    if (now < from) { // the clock was set back: the runs remembered keep anything from running twice
        m_lastLook = now;
        return;
    }
    from = std::max(from, now.addDays(-kMaxCatchUpDays));
    const QTimeZone zone = m_service.clock().zone();
    // Each entry's latest run that is due and not made yet.
    std::vector<std::pair<QDateTime, const ScheduleEntry *>> due;
    for (const ScheduleEntry &entry : m_entries) {
        const std::vector<QDateTime> runs = entry.runsBetween(from, now, zone);
        const auto last = m_lastRun.find(entry.name);
        if (!runs.empty() && (last == m_lastRun.end() || last->second < runs.back()))
            due.emplace_back(runs.back(), &entry);
    }
    m_lastLook = now;
    if (due.empty()) {
        if (!m_lookKept.isValid() || m_lookKept.secsTo(now) >= kLookKeptSeconds) keepState();
        return;
    }
    std::stable_sort(due.begin(), due.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    // The switches of limit sets in their order: the latest of each set holds.
    std::set<std::string> on, off;
    for (const auto &[at, entry] : due) {
        for (const std::string &set : entry->limitsOn) { on.insert(set); off.erase(set); }
        for (const std::string &set : entry->limitsOff) { off.insert(set); on.erase(set); }
        m_lastRun[entry->name] = at;
    }
    std::string error;
    if ((!on.empty() || !off.empty()) && !m_service.switchLimitSets(on, off, error))
        std::fprintf(stderr, "zev720d: schedule: the limits: %s\n", error.c_str());
    // Of the entries for a room, the latest alone.
    std::map<const ScheduleEntry *, std::vector<HeldRoom *>> rooms;
    for (HeldRoom &room : m_service.venue().rooms())
        for (auto it = due.rbegin(); it != due.rend(); ++it)
            if (touches(*it->second, room)) {
                rooms[it->second].push_back(&room);
                break;
            }
    for (const auto &[at, entry] : due) {
        const bool late = at.secsTo(now) > kLateRunSeconds;
        const auto reached = rooms.find(entry);
        act(*entry, reached == rooms.end() ? std::vector<HeldRoom *>{} : reached->second, late);
    }
    keepState();
}

void Scheduler::act(const ScheduleEntry &entry, const std::vector<HeldRoom *> &rooms, bool late)
{
    const Actor actor{"schedule", entry.as, late ? "catch-up" : "schedule", {}, {}};
    std::vector<HeldRoom *> now;
    for (HeldRoom *room : rooms) {
        if (room->holder->state() == RoomHolder::State::Online && room->holder->mirrored())
            now.push_back(room);
        else
            m_waiting[room] = entry.name;
    }
    if (!entry.recall.empty() && !now.empty()) {
        ParameterModel model;
        if (const Refusal refusal = m_service.recallable(entry.recall, model)) {
            std::fprintf(stderr, "zev720d: schedule '%s': %s\n", entry.name.c_str(), refusal.detail.c_str());
        } else {
            m_service.recall(entry.recall, model, now, actor, [name = entry.name](std::vector<RoomRecall> results) {
                for (const RoomRecall &result : results)
                    if (result.result == RoomRecall::Result::Failed)
                        std::fprintf(stderr, "zev720d: schedule '%s': %s: %s\n", name.c_str(),
                                     result.room.c_str(), result.failure.detail.c_str());
            });
        }
    }
    if (entry.lock)
        for (HeldRoom *room : now) m_service.lock(*room, actor, [](ChangeResult) {});
    std::printf("schedule: %s %s (%zu rooms now, %zu when they are back)\n", entry.name.c_str(),
                late ? "caught up" : "ran", now.size(), rooms.size() - now.size());
    std::fflush(stdout);
    emit ran(entry.name, late, int(now.size()), int(rooms.size() - now.size()));
}

void Scheduler::keepState()
{
    m_lookKept = m_lastLook;
    if (m_folder.empty()) return;
    JsonWriter out;
    out.object().field("look", textOf(m_lastLook)).key("runs").object();
    for (const auto &[name, at] : m_lastRun) out.field(name, textOf(at));
    const std::string text = out.end().end().take() + "\n";
    std::string error;
    if (!writeFileSafely(m_folder + "/schedule-state.json", text.data(), text.size(), error))
        std::fprintf(stderr, "zev720d: schedule: %s\n", error.c_str());
}

} // namespace zev
