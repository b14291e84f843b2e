#include "files/RoomSet.h"

#include "files/VenueFile.h"

namespace zev {

namespace {

/// "K01" as its prefix "K" and its digits "01"; false without digits at the end.
bool splitNumbered(std::string_view name, std::string_view &prefix, std::string_view &digits)
{
    std::size_t start = name.size();
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') --start;
    if (start == name.size()) return false;
    prefix = name.substr(0, start);
    digits = name.substr(start);
    return true;
}

/// A range's two ends, when the item is one.
bool rangeOf(std::string_view item, std::string_view &first, std::string_view &last)
{
    const std::size_t dash = item.find('-');
    if (dash == std::string_view::npos || item.find('-', dash + 1) != std::string_view::npos)
        return false;
    first = item.substr(0, dash);
    last = item.substr(dash + 1);
    std::string_view p1, d1, p2, d2;
    return splitNumbered(first, p1, d1) && splitNumbered(last, p2, d2) && p1 == p2 &&
           d1.size() == d2.size() && d1 <= d2;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

} // namespace

bool RoomSet::contains(std::string_view room) const
{
    if (items.empty()) return true;
    for (const std::string &item : items) {
        if (item == room) return true;
        std::string_view first, last, prefix, digits, firstPrefix, firstDigits;
        if (rangeOf(item, first, last) && splitNumbered(room, prefix, digits) &&
            splitNumbered(first, firstPrefix, firstDigits) && prefix == firstPrefix &&
            digits.size() == firstDigits.size() && room >= first && room <= last)
            return true;
    }
    return false;
}

std::string RoomSet::text() const
{
    std::string out;
    for (const std::string &item : items) {
        if (!out.empty()) out += ',';
        out += item;
    }
    return out;
}

bool parseRoomSet(std::string_view text, RoomSet &set, std::string &error)
{
    RoomSet read;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string item(trimmed(text.substr(0, comma)));
        if (const std::string why = roomNameProblem(item); !why.empty()) {
            error = "room '" + item + "': " + why;
            return false;
        }
        if (read.items.size() >= kMaxRoomSetItems) {
            error = "more than " + std::to_string(kMaxRoomSetItems) + " rooms or ranges";
            return false;
        }
        read.items.push_back(item);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    set = std::move(read);
    return true;
}

} // namespace zev
