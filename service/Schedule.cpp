#include "service/Schedule.h"

#include "files/Json.h"
#include "service/Limits.h"

namespace zev {

namespace {

constexpr const char *kDayNames[7] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

QDateTime atSecond(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

} // namespace

std::optional<QDateTime> ScheduleEntry::runOn(QDate date, const QTimeZone &zone) const
{
    if (!days[std::size_t(date.dayOfWeek() - 1)] ||
        except.count(date.toString(Qt::ISODate).toStdString()))
        return std::nullopt;
    // The wall clock's reading as if it were UTC, less each offset the zone has around it: the
    // readings that the zone gives back are the instants it happens (two in a repeated hour,
    // none in a skipped one).
    const qint64 wall =
        QDateTime(date, QTime(minute / 60, minute % 60), Qt::UTC).toSecsSinceEpoch();
    const int before = zone.offsetFromUtc(atSecond(wall - 12 * 3600));
    const int after = zone.offsetFromUtc(atSecond(wall + 12 * 3600));
    std::optional<qint64> first;
    for (const int offset : {before, after}) {
        const qint64 instant = wall - offset;
        if (zone.offsetFromUtc(atSecond(instant)) == offset && (!first || instant < *first))
            first = instant;
    }
    if (first) return atSecond(*first);
    // Skipped: it runs when the clock jumps.
    const QTimeZone::OffsetData jump =
        zone.nextTransition(atSecond(wall - std::max(before, after) - 1));
    return jump.atUtc.isValid() ? std::optional(jump.atUtc.toUTC()) : std::nullopt;
}

std::vector<QDateTime> ScheduleEntry::runsBetween(const QDateTime &after, const QDateTime &until,
                                                  const QTimeZone &zone) const
{
    std::vector<QDateTime> out;
    if (!(after < until)) return out;
    const QDate last = until.toTimeZone(zone).date().addDays(1);
    for (QDate date = after.toTimeZone(zone).date().addDays(-1); date <= last; date = date.addDays(1))
        if (const auto run = runOn(date, zone); run && after < *run && *run <= until)
            out.push_back(*run);
    return out;
}

bool parseSchedule(std::string_view text, const std::string &fileName,
                   std::vector<ScheduleEntry> &entries, std::string &error)
{
    int line = 0;
    const auto refuse = [&](const std::string &what) {
        error = fileName + ": " + (line ? "line " + std::to_string(line) + ": " : "") + what;
        return false;
    };
    if (text.size() > kMaxScheduleFileBytes)
        return refuse("larger than " + std::to_string(kMaxScheduleFileBytes) + " bytes");
    JsonValue root;
    std::string why;
    if (!parseJson(text, root, why)) return refuse(why);
    line = root.line;
    const JsonValue *list = root.find("entries");
    if (root.type != JsonValue::Type::Object || !list || list->type != JsonValue::Type::Array ||
        root.members.size() != 1)
        return refuse("an object {\"entries\": [...]} expected");
    if (list->items.size() > kMaxScheduleEntries)
        return refuse("more than " + std::to_string(kMaxScheduleEntries) + " entries");
    std::vector<ScheduleEntry> read;
    for (std::size_t i = 0; i < list->items.size(); ++i) {
        const JsonValue &item = list->items[i];
        const std::string field = "entries[" + std::to_string(i) + "]";
        line = item.line;
        if (item.type != JsonValue::Type::Object) return refuse(field + ": an object expected");
        ScheduleEntry entry;
        entry.days.fill(true);
        bool timeGiven = false;
        for (const JsonMember &member : item.members) {
            line = member.value.keyLine;
            const JsonValue &value = member.value;
            const std::string name = field + "." + member.name;
            static const std::set<std::string> known{"name", "at", "days", "except", "recall",
                                                     "lock", "rooms", "limits", "as"};
            if (!known.count(member.name))
                return refuse(field + ": unknown member \"" + member.name +
                              "\" (name, at, days, except, recall, lock, rooms, limits, as)");
            const auto texts = [&](std::set<std::string> &out, auto &&check, const char *what) {
                if (value.type != JsonValue::Type::Array) return refuse(name + ": a list of " + what);
                for (const JsonValue &one : value.items) {
                    line = one.line;
                    if (one.type != JsonValue::Type::String || !check(one.text))
                        return refuse(name + ": a list of " + what);
                    out.insert(one.text);
                }
                return true;
            };
            const auto isSetName = [](const std::string &t) { return isPlainName(t, kMaxSetNameBytes); };
            if (member.name == "lock") {
                if (value.type != JsonValue::Type::Bool) return refuse(name + ": true or false");
                entry.lock = value.boolean;
                continue;
            }
            if (member.name == "days") {
                std::set<std::string> days;
                if (!texts(days, [](const std::string &t) {
                        return std::find(std::begin(kDayNames), std::end(kDayNames), t) != std::end(kDayNames);
                    }, "mon, tue, wed, thu, fri, sat, sun"))
                    return false;
                if (days.empty()) return refuse(name + ": at least one day");
                for (std::size_t d = 0; d < 7; ++d) entry.days[d] = days.count(kDayNames[d]) > 0;
                continue;
            }
            if (member.name == "except") {
                if (!texts(entry.except, [](const std::string &t) {
                        return t.size() == 10 && QDate::fromString(QString::fromStdString(t), Qt::ISODate).isValid();
                    }, "dates (YYYY-MM-DD)"))
                    return false;
                if (entry.except.size() > kMaxExceptDates)
                    return refuse(name + ": more than " + std::to_string(kMaxExceptDates) + " dates");
                continue;
            }
            if (member.name == "limits") {
                if (value.type != JsonValue::Type::Object) return refuse(name + ": {\"on\": [...], \"off\": [...]}");
                for (const JsonMember &side : value.members) {
                    line = side.value.keyLine;
                    if (side.name != "on" && side.name != "off")
                        return refuse(name + ": unknown member \"" + side.name + "\" (on, off)");
                    if (side.value.type != JsonValue::Type::Array)
                        return refuse(name + "." + side.name + ": a list of set names");
                    for (const JsonValue &one : side.value.items) {
                        line = one.line;
                        if (one.type != JsonValue::Type::String || !isSetName(one.text))
                            return refuse(name + "." + side.name + ": a list of set names");
                        (side.name == "on" ? entry.limitsOn : entry.limitsOff).insert(one.text);
                    }
                }
                continue;
            }
            if (value.type != JsonValue::Type::String) return refuse(name + ": a text expected");
            const std::string &given = value.text;
            if (member.name == "name") {
                if (!isPlainName(given, kMaxSetNameBytes))
                    return refuse(name + ": 1 to 32 of A-Z a-z 0-9 . _ -");
                entry.name = given;
            } else if (member.name == "at") {
                const auto minute = parseTimeOfDay(given);
                if (!minute) return refuse(name + ": HH:MM expected");
                entry.minute = *minute;
                timeGiven = true;
            } else if (member.name == "recall") {
                if (given.empty()) return refuse(name + ": a preset's name");
                entry.recall = given;
            } else if (member.name == "rooms") {
                entry.allRooms = given == "all";
                if (!entry.allRooms && !parseRoomSet(given, entry.rooms, why))
                    return refuse(name + ": " + why);
            } else if (member.name == "as") {
                if (given != "desk") return refuse(name + ": \"desk\", or none for a technician's");
                entry.as = Role::Desk;
            }
        }
        line = item.line;
        if (entry.name.empty()) return refuse(field + ": \"name\" is missing");
        if (!timeGiven) return refuse(field + ": \"at\" is missing");
        if (!entry.touchesRooms() && entry.limitsOn.empty() && entry.limitsOff.empty())
            return refuse(field + ": it does nothing (recall, lock or limits)");
        for (const ScheduleEntry &other : read)
            if (other.name == entry.name) return refuse(field + ": '" + entry.name + "' given twice");
        read.push_back(std::move(entry));
    }
    entries = std::move(read);
    return true;
}

void writeScheduleEntry(JsonWriter &out, const ScheduleEntry &entry)
{
    out.object().field("name", entry.name).field("at", timeOfDayText(entry.minute));
    if (std::find(entry.days.begin(), entry.days.end(), false) != entry.days.end()) {
        out.key("days").array();
        for (std::size_t d = 0; d < 7; ++d)
            if (entry.days[d]) out.string(kDayNames[d]);
        out.end();
    }
    if (!entry.except.empty()) {
        out.key("except").array();
        for (const std::string &date : entry.except) out.string(date);
        out.end();
    }
    if (!entry.recall.empty()) out.field("recall", entry.recall);
    if (entry.lock) out.flag("lock", true);
    if (entry.touchesRooms()) out.field("rooms", entry.allRooms ? std::string("all") : entry.rooms.text());
    if (!entry.limitsOn.empty() || !entry.limitsOff.empty()) {
        out.key("limits").object();
        for (const auto &[side, sets] : {std::pair{"on", &entry.limitsOn}, std::pair{"off", &entry.limitsOff}}) {
            if (sets->empty()) continue;
            out.key(side).array();
            for (const std::string &set : *sets) out.string(set);
            out.end();
        }
        out.end();
    }
    if (entry.as == Role::Desk) out.field("as", "desk");
    out.end();
}

std::string scheduleJson(const std::vector<ScheduleEntry> &entries)
{
    JsonWriter out;
    out.object().key("entries").array();
    for (const ScheduleEntry &entry : entries) writeScheduleEntry(out, entry);
    return out.end().end().take();
}

} // namespace zev
