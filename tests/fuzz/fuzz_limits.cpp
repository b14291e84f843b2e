// Limits files as a technician writes them, or a PUT to /api/v1/limits: refused with the
// file's name, or every limit is a bar's with a bound it shows, min no higher than max, and
// the list written back reads again as the same.
#include "model/RegisterMap.h"
#include "model/Shown.h"
#include "service/Limits.h"
#include "tests/fuzz/FuzzCheck.h"

using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    zev::LimitList list;
    std::string error;
    if (!zev::parseLimits(text, "limits.json", list, error)) {
        check(list.limits.empty() && error.rfind("limits.json: ", 0) == 0);
        return 0;
    }
    check(list.limits.size() <= zev::kMaxLimits);
    for (const zev::Limit &limit : list.limits) {
        const zev::RegisterRow *row = zev::findRegister(limit.address);
        check(row && zev::controlKind(*row) == zev::ControlKind::TrackBar);
        check(limit.upper || limit.lower);
        check(!limit.upper || zev::controlShows(*row, *limit.upper));
        check(!limit.lower || zev::controlShows(*row, *limit.lower));
        check(!(limit.upper && limit.lower) || limit.lowerNumber <= limit.upperNumber);
        check(limit.role == zev::Role::Desk || limit.role == zev::Role::Guest);
        for (int minute = 0; minute < 24 * 60; minute += 97) {
            const zev::Bounds bounds = zev::boundsOf(list, limit.role, "K01", limit.address, minute);
            for (const std::uint8_t value : {std::uint8_t(0), std::uint8_t(40), std::uint8_t(127)})
                check(zev::boundsOf(list, limit.role, "K01", limit.address, minute).clamp(bounds.clamp(value)) ==
                      bounds.clamp(value));
        }
    }
    const std::string written = zev::limitsJson(list);
    zev::LimitList again;
    check(zev::parseLimits(written, "limits.json", again, error) && zev::limitsJson(again) == written);
    return 0;
}
