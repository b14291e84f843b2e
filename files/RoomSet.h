// A set of rooms as people write it: names and ranges, separated by commas.
//
//   K01-K08,VIP1     K01, K02, ... K08 and VIP1
//
// A range is two names of one prefix and as many digits each ("K01-K08", "B1-B9"); it holds
// every name of that prefix with that many digits between them, whether the venue has them
// or not. Any other item is one room's name, as the venue file gives it. An empty set is every
// room. No Qt.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

constexpr std::size_t kMaxRoomSetItems = 256;

struct RoomSet {
    std::vector<std::string> items; ///< as written; none: every room
    bool every() const { return items.empty(); }
    bool contains(std::string_view room) const;
    /// As it is written back ("K01-K08,VIP1"), empty for every room.
    std::string text() const;
};

/// False with `error` for an item that is no room name, or too many of them.
bool parseRoomSet(std::string_view text, RoomSet &set, std::string &error);

} // namespace zev
