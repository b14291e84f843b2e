// Limits: bounds on a bar that a role (the front desk, a room's guests) may not pass, in the
// units people read, for some rooms and hours or always. Technicians are never limited.
//
//   {
//     "limits": [
//       {"register": "MusicVolumeTrackBar", "role": "desk", "max": "78dB"},
//       {"register": "MusicVolumeTrackBar", "role": "desk", "max": "70dB",
//        "hours": "22:00-08:00", "rooms": "K01-K08,VIP1", "set": "night"},
//       {"register": "MicVolumeTrackBar", "role": "guest", "max": "70dB", "min": "40dB"}
//     ],
//     "off": ["night"]
//   }
//
//   register  a bar, by its name
//   role      "desk" or "guest"
//   max, min  values the bar shows; at least one; min no higher than max
//   hours     from-to in the system's time of day (to before from: over midnight); the limit
//             holds from its first minute until the minute before its last; none: all day
//   rooms     names and ranges (K01-K08); none: every room
//   set       a name that a schedule (or a technician) switches on and off; "off" lists the
//             sets switched off
//
// Where limits overlap, the tightest holds. A change of a limited role past a limit is brought
// to it; when a limit begins (its hours start, its set is switched on, the server starts
// within its hours), rooms above it (below a min) are brought to it.
//
// The file is read whole and strictly: an unknown member, a register that is no bar, a value
// the bar does not show is refused with its line, and nothing is taken. No I/O but the file's.
#pragma once

#include "files/RoomSet.h"
#include "files/UsersFile.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

constexpr std::size_t kMaxLimits = 256;
constexpr std::size_t kMaxLimitsFileBytes = 256 * 1024;
constexpr std::size_t kMaxSetNameBytes = 32;

/// Minutes of the day from `from` until before `to`; from == to is the whole day.
struct DayHours {
    int from = 0;
    int to = 0;
    bool contains(int minute) const;
    std::string text() const; ///< "22:00-08:00"
};
/// "22:00-08:00" (or with an en dash); false for anything else.
bool parseDayHours(std::string_view text, DayHours &hours);
/// "HH:MM" as minutes of the day.
std::optional<int> parseTimeOfDay(std::string_view text);
std::string timeOfDayText(int minute);

struct Limit {
    std::uint8_t address = 0;
    Role role = Role::Desk;
    std::optional<std::uint8_t> upper; ///< the register value of max
    std::optional<std::uint8_t> lower; ///< of min
    double upperNumber = 0, lowerNumber = 0; ///< the numbers they show ("78dB": 78)
    RoomSet rooms;
    std::optional<DayHours> hours;
    std::string set;

    /// Whether it can be out of force: bound to hours or to a set.
    bool comesAndGoes() const { return hours || !set.empty(); }
};

struct LimitList {
    std::vector<Limit> limits;
    std::set<std::string> off; ///< sets switched off
    /// In force for that role, room and minute of the day (the set on, the hours holding).
    bool holds(const Limit &limit, Role role, std::string_view room, int minute) const;
    bool inForce(const Limit &limit, int minute) const;
};

/// The tightest bounds on one register, as register values, and the limits they come from.
struct Bounds {
    std::optional<std::uint8_t> upper, lower;
    const Limit *upperBy = nullptr;
    const Limit *lowerBy = nullptr;
    explicit operator bool() const { return upper || lower; }
    /// The value brought within the bounds.
    std::uint8_t clamp(std::uint8_t value) const;
};
Bounds boundsOf(const LimitList &list, Role role, std::string_view room, std::uint8_t address,
                int minute);

/// False with `error` ("limits.json: line 4: ...") at the first problem.
bool parseLimits(std::string_view text, const std::string &fileName, LimitList &list,
                 std::string &error);
/// The list as its file holds it (and the API answers it), with, when `minute` is given,
/// each limit's "inForce".
std::string limitsJson(const LimitList &list, std::optional<int> minute = std::nullopt);

} // namespace zev
