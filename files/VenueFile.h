// Venue files: the rooms of a venue and the line of each, as people keep them in a text file
// or export them from a spreadsheet.
//
//   room, line                      a header, taken only as the first row
//   A01, rfc2217://10.0.3.15:4001   a comma, semicolon, tab or spaces between the two fields
//   "B 02";"/dev/ttyUSB0"           fields may be quoted as spreadsheets quote them ("" is ")
//   # a comment                     from '#' (outside quotes) to the end of the line
//
// A room name becomes a file name (DIR/ROOM.dat), so it is refused when it could reach
// outside its folder or hide: '/', '\', a leading '.', a control character. Two rooms whose
// names differ only in case are refused too, as the files of both would be one on many
// disks. Nothing is run when anything is refused.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

/// Files larger than this are no venue (about 10,000 rooms).
constexpr std::size_t kMaxVenueFileBytes = 1024 * 1024;
constexpr std::size_t kMaxRoomNameBytes = 100;
constexpr std::size_t kMaxRooms = 10'000;

struct VenueRoom {
    std::string name;
    std::string line;
    int lineNumber = 0; ///< in the file, from 1
};

/// The rooms of `text`; false with `error` ("venue.csv:4: room name '../x': ...") naming the
/// file and the line of the first problem.
bool parseVenueFile(std::string_view text, const std::string &fileName,
                    std::vector<VenueRoom> &rooms, std::string &error);

/// Why a room name cannot be a file name, or empty when it can.
std::string roomNameProblem(const std::string &name);

} // namespace zev
