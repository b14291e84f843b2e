// Schedule files as a technician writes them, or a PUT to /api/v1/schedule: refused with the
// file's name, or every entry is named once, does something, and runs at most once a day in a
// zone with daylight saving time; the list written back reads again as the same.
#include "service/Schedule.h"
#include "tests/fuzz/FuzzCheck.h"

#include <set>

using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const QTimeZone berlin("Europe/Berlin");
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    std::vector<zev::ScheduleEntry> entries;
    std::string error;
    if (!zev::parseSchedule(text, "schedule.json", entries, error)) {
        check(entries.empty() && error.rfind("schedule.json: ", 0) == 0);
        return 0;
    }
    check(entries.size() <= zev::kMaxScheduleEntries);
    std::set<std::string> names;
    for (const zev::ScheduleEntry &entry : entries) {
        check(names.insert(entry.name).second);
        check(entry.touchesRooms() || !entry.limitsOn.empty() || !entry.limitsOff.empty());
        check(entry.minute >= 0 && entry.minute < 24 * 60);
        // The night the clock goes back: one run at most.
        const auto runs = entry.runsBetween(QDateTime(QDate(2026, 10, 24), QTime(12, 0), Qt::UTC),
                                            QDateTime(QDate(2026, 10, 25), QTime(12, 0), Qt::UTC), berlin);
        check(runs.size() <= 1);
    }
    const std::string written = zev::scheduleJson(entries);
    std::vector<zev::ScheduleEntry> again;
    check(zev::parseSchedule(written, "schedule.json", again, error) && zev::scheduleJson(again) == written);
    return 0;
}
