// The schedule: what happens at a time of day, on chosen weekdays, in chosen rooms.
//
//   {"entries": [
//     {"name": "late", "at": "22:00", "recall": "深夜", "rooms": "all"},
//     {"name": "closing", "at": "02:00", "days": ["fri", "sat"], "lock": true},
//     {"name": "quiet", "at": "23:00", "limits": {"on": ["night"]}, "except": ["2026-12-31"]},
//     {"name": "desk-late", "at": "22:30", "recall": "深夜", "rooms": "K01-K08", "as": "desk"}
//   ]}
//
//   name     what the journal, the pages and the state file call it; unique
//   at       HH:MM in the system's time zone
//   days     mon ... sun; none: every day
//   except   dates (YYYY-MM-DD) it does not run on
//   recall   a preset, recalled into `rooms`
//   lock     the processor's lock command in `rooms`
//   rooms    "all" (the default), or names and ranges (K01-K08,VIP1)
//   limits   {"on": [SET...], "off": [SET...]}: sets of limits switched
//   as       "desk": the recall is held by the desk's limits; none: a technician's
//
// When it runs, in a zone with daylight saving time: an entry whose time the clock skips
// (02:30 on the night it jumps from 02:00 to 03:00) runs once, when the clock jumps; an entry
// whose time comes twice (the night the clock goes back) runs the first time only. Each run is
// remembered, so that no run happens twice however the clock is set, and the time of the last
// look, so that a server that was stopped, or a machine that slept, catches up.
//
// Catch-up: what should be in force is put in force. When the server starts (or the clock
// jumps forward), the runs it missed since its last look (at most kMaxCatchUpDays ago; on the
// first start, none from before the schedule file was written) are made once: of the entries for a room, the
// latest alone; of the switches of a set, the latest. A room that is away when its run comes
// gets it when it is back.
#pragma once

#include "files/RoomSet.h"
#include "files/UsersFile.h"

#include <QDateTime>
#include <QTimeZone>
#include <array>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

class JsonWriter;

constexpr std::size_t kMaxScheduleEntries = 256;
constexpr std::size_t kMaxScheduleFileBytes = 256 * 1024;
constexpr std::size_t kMaxExceptDates = 366;
constexpr int kMaxCatchUpDays = 8;

struct ScheduleEntry {
    std::string name;
    int minute = 0;                 ///< of the day
    std::array<bool, 7> days{};     ///< Monday first
    std::set<std::string> except;   ///< YYYY-MM-DD
    std::string recall;             ///< a preset, or empty
    bool lock = false;
    bool allRooms = true;
    RoomSet rooms;
    std::set<std::string> limitsOn, limitsOff;
    Role as = Role::Technician;

    bool touchesRooms() const { return !recall.empty() || lock; }
    /// The instant it runs on that local date, by the rule above; none when it does not run
    /// that day.
    std::optional<QDateTime> runOn(QDate date, const QTimeZone &zone) const;
    /// Its runs after `after` until `until` (both UTC), oldest first.
    std::vector<QDateTime> runsBetween(const QDateTime &after, const QDateTime &until,
                                       const QTimeZone &zone) const;
};

/// False with `error` ("schedule.json: line 4: ...") at the first problem.
bool parseSchedule(std::string_view text, const std::string &fileName,
                   std::vector<ScheduleEntry> &entries, std::string &error);
std::string scheduleJson(const std::vector<ScheduleEntry> &entries);
/// One entry as the file writes it.
void writeScheduleEntry(JsonWriter &out, const ScheduleEntry &entry);

} // namespace zev
