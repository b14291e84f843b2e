#include "service/Limits.h"

#include "files/Json.h"
#include "model/RegisterMap.h"
#include "model/Shown.h"

#include <cstdio>

namespace zev {

namespace {

double numberOf(std::uint8_t address, std::uint8_t value)
{
    return numberShown(shownValue(*findRegister(address), value)).value_or(0);
}

std::string shown(std::uint8_t address, std::uint8_t value)
{
    return shownValue(*findRegister(address), value);
}

} // namespace

bool DayHours::contains(int minute) const
{
    if (from == to) return true;
    return from < to ? minute >= from && minute < to : minute >= from || minute < to;
}

std::string timeOfDayText(int minute)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", minute / 60 % 24, minute % 60);
    return text;
}

std::string DayHours::text() const
{
    return timeOfDayText(from) + "-" + timeOfDayText(to);
}

std::optional<int> parseTimeOfDay(std::string_view text)
{
    if (text.size() != 5 || text[2] != ':') return std::nullopt;
    for (const std::size_t i : {0, 1, 3, 4})
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    const int hours = (text[0] - '0') * 10 + (text[1] - '0');
    const int minutes = (text[3] - '0') * 10 + (text[4] - '0');
    if (hours > 23 || minutes > 59) return std::nullopt;
    return hours * 60 + minutes;
}

bool parseDayHours(std::string_view text, DayHours &hours)
{
    std::size_t dash = text.find('-');
    std::size_t after = dash + 1;
    if (dash == std::string_view::npos) {
        dash = text.find("\u2013"); // an en dash, as people write hours
        after = dash + 3;
    }
    if (dash == std::string_view::npos) return false;
    const auto from = parseTimeOfDay(text.substr(0, dash));
    const auto to = parseTimeOfDay(text.substr(after));
    if (!from || !to) return false;
    hours = {*from, *to};
    return true;
}

bool LimitList::inForce(const Limit &limit, int minute) const
{
    return (limit.set.empty() || !off.count(limit.set)) &&
           (!limit.hours || limit.hours->contains(minute));
}

bool LimitList::holds(const Limit &limit, Role role, std::string_view room, int minute) const
{
    return limit.role == role && limit.rooms.contains(room) && inForce(limit, minute);
}

std::uint8_t Bounds::clamp(std::uint8_t value) const
{
    const Limit *by = upperBy ? upperBy : lowerBy;
    if (!by) return value;
    const double number = numberOf(by->address, value);
    if (upper && upperBy && number > upperBy->upperNumber) return *upper;
    if (lower && lowerBy && number < lowerBy->lowerNumber) return *lower;
    return value;
}

Bounds boundsOf(const LimitList &list, Role role, std::string_view room, std::uint8_t address,
                int minute)
{
    Bounds bounds;
    for (const Limit &limit : list.limits) {
        if (limit.address != address || !list.holds(limit, role, room, minute)) continue;
        if (limit.upper && (!bounds.upperBy || limit.upperNumber < bounds.upperBy->upperNumber)) {
            bounds.upper = limit.upper;
            bounds.upperBy = &limit;
        }
        if (limit.lower && (!bounds.lowerBy || limit.lowerNumber > bounds.lowerBy->lowerNumber)) {
            bounds.lower = limit.lower;
            bounds.lowerBy = &limit;
        }
    }
    // Two limits that cross: the upper one holds, as quieter is the safer side.
    if (bounds.upperBy && bounds.lowerBy && bounds.lowerBy->lowerNumber > bounds.upperBy->upperNumber) {
        bounds.lower.reset();
        bounds.lowerBy = nullptr;
    }
    return bounds;
}

bool parseLimits(std::string_view text, const std::string &fileName, LimitList &list,
                 std::string &error)
{
    int line = 0;
    const auto refuse = [&](const std::string &what) {
        error = fileName + ": " + (line ? "line " + std::to_string(line) + ": " : "") + what;
        return false;
    };
    if (text.size() > kMaxLimitsFileBytes)
        return refuse("larger than " + std::to_string(kMaxLimitsFileBytes) + " bytes");
    JsonValue root;
    std::string why;
    if (!parseJson(text, root, why)) return refuse(why);
    line = root.line;
    if (root.type != JsonValue::Type::Object)
        return refuse("an object {\"limits\": [...], \"off\": [...]} expected");
    LimitList read;
    const JsonValue *limits = nullptr;
    for (const JsonMember &member : root.members) {
        line = member.value.keyLine;
        if (member.name == "limits" && member.value.type == JsonValue::Type::Array) {
            limits = &member.value;
        } else if (member.name == "off" && member.value.type == JsonValue::Type::Array) {
            for (const JsonValue &set : member.value.items) {
                line = set.line;
                if (set.type != JsonValue::Type::String || !isPlainName(set.text, kMaxSetNameBytes))
                    return refuse("off: a set's name (1 to 32 of A-Z a-z 0-9 . _ -) expected");
                read.off.insert(set.text);
            }
        } else {
            return refuse(member.name == "limits" || member.name == "off"
                              ? member.name + ": a list expected"
                              : "unknown member \"" + member.name + "\" (limits, off)");
        }
    }
    if (!limits) return refuse("\"limits\": [...] expected");
    if (limits->items.size() > kMaxLimits)
        return refuse("more than " + std::to_string(kMaxLimits) + " limits");
    for (std::size_t i = 0; i < limits->items.size(); ++i) {
        const JsonValue &item = limits->items[i];
        const std::string field = "limits[" + std::to_string(i) + "]";
        line = item.line;
        if (item.type != JsonValue::Type::Object) return refuse(field + ": an object expected");
        Limit limit;
        const RegisterRow *row = nullptr;
        std::string maxText, minText;
        bool roleGiven = false;
        for (const JsonMember &member : item.members) {
            line = member.value.keyLine;
            const std::string name = field + "." + member.name;
            if (member.value.type != JsonValue::Type::String)
                return refuse(name + ": a text expected");
            const std::string &value = member.value.text;
            if (member.name == "register") {
                row = findRegisterByName(value);
                if (!row || controlKind(*row) != ControlKind::TrackBar)
                    return refuse(name + ": '" + value + "' is no bar of the processor");
                limit.address = row->address;
            } else if (member.name == "role") {
                if (value == "desk")
                    limit.role = Role::Desk;
                else if (value == "guest")
                    limit.role = Role::Guest;
                else
                    return refuse(name + ": \"desk\" or \"guest\" (a technician is never limited)");
                roleGiven = true;
            } else if (member.name == "max") {
                maxText = value;
            } else if (member.name == "min") {
                minText = value;
            } else if (member.name == "hours") {
                DayHours hours;
                if (!parseDayHours(value, hours)) return refuse(name + ": HH:MM-HH:MM expected");
                limit.hours = hours;
            } else if (member.name == "rooms") {
                if (!parseRoomSet(value, limit.rooms, why)) return refuse(name + ": " + why);
            } else if (member.name == "set") {
                if (!isPlainName(value, kMaxSetNameBytes))
                    return refuse(name + ": 1 to 32 of A-Z a-z 0-9 . _ -");
                limit.set = value;
            } else {
                return refuse(field + ": unknown member \"" + member.name +
                              "\" (register, role, max, min, hours, rooms, set)");
            }
        }
        line = item.line;
        if (!row) return refuse(field + ": \"register\" is missing");
        if (!roleGiven) return refuse(field + ": \"role\" is missing");
        if (maxText.empty() && minText.empty()) return refuse(field + ": \"max\" or \"min\" is needed");
        for (auto [given, bound, member] : {std::tuple{&maxText, &limit.upper, "max"},
                                            std::tuple{&minText, &limit.lower, "min"}}) {
            if (given->empty()) continue;
            const auto value = valueShowing(*row, *given);
            if (!value)
                return refuse(field + "." + member + ": '" + *given + "' is no value that " +
                              machineName(*row) + " shows");
            *bound = *value;
        }
        if (limit.upper) limit.upperNumber = numberOf(limit.address, *limit.upper);
        if (limit.lower) limit.lowerNumber = numberOf(limit.address, *limit.lower);
        if (limit.upper && limit.lower && limit.lowerNumber > limit.upperNumber)
            return refuse(field + ": min is above max");
        read.limits.push_back(std::move(limit));
    }
    list = std::move(read);
    return true;
}

std::string limitsJson(const LimitList &list, std::optional<int> minute)
{
    JsonWriter out;
    out.object().key("limits").array();
    for (const Limit &limit : list.limits) {
        out.object()
            .field("register", machineName(*findRegister(limit.address)))
            .field("role", roleName(limit.role));
        if (limit.upper) out.field("max", shown(limit.address, *limit.upper));
        if (limit.lower) out.field("min", shown(limit.address, *limit.lower));
        if (limit.hours) out.field("hours", limit.hours->text());
        if (!limit.rooms.every()) out.field("rooms", limit.rooms.text());
        if (!limit.set.empty()) out.field("set", limit.set);
        if (minute) out.flag("inForce", list.inForce(limit, *minute));
        out.end();
    }
    out.end().key("off").array();
    for (const std::string &set : list.off) out.string(set);
    return out.end().end().take();
}

} // namespace zev
