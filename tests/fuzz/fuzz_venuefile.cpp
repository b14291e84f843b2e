// Venue files as anyone may write them: either refused with the file's name and a line, or
// every room has a name that is a safe file name, unique in any case, and a line.
#include "files/VenueFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <cctype>
#include <set>

using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    std::vector<zev::VenueRoom> rooms;
    std::string error;
    if (!zev::parseVenueFile(text, "v.csv", rooms, error)) {
        check(rooms.empty() && error.rfind("v.csv:", 0) == 0);
        return 0;
    }
    check(!rooms.empty() && rooms.size() <= zev::kMaxRooms);
    std::set<std::string> names;
    for (const zev::VenueRoom &room : rooms) {
        check(zev::roomNameProblem(room.name).empty() && !room.line.empty());
        check(room.name.find_first_of("/\\") == std::string::npos && room.name[0] != '.');
        std::string lower = room.name;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        check(names.insert(lower).second);
        check(room.lineNumber >= 1);
    }
    return 0;
}
