#include "files/VenueFile.h"

#include "files/Json.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace zev {
namespace {

// A name as an error may quote it: bytes that are no UTF-8 as \xHH, never raw.
std::string shownName(const std::string &name)
{
    if (isUtf8(name)) return name;
    std::string shown;
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t length = utf8SequenceLength(name, at);
        if (length == 0) {
            static const char digits[] = "0123456789abcdef";
            const auto byte = static_cast<unsigned char>(name[at]);
            shown += std::string("\\x") + digits[byte >> 4] + digits[byte & 15];
            ++at;
        } else {
            shown += name.substr(at, length);
            at += length;
        }
    }
    return shown;
}

std::string lowerAscii(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// One row split into fields: quoted or bare, a comma, semicolon or tab (with spaces around
// it), or a run of spaces between them; '#' outside quotes ends the row. False when a quote
// does not close.
bool splitRow(std::string_view row, std::vector<std::string> &fields)
{
    fields.clear();
    std::size_t i = 0;
    auto skipSpaces = [&] {
        while (i < row.size() && (row[i] == ' ' || row[i] == '\r'))
            ++i;
    };
    skipSpaces();
    while (i < row.size() && row[i] != '#') {
        std::string field;
        if (row[i] == '"') {
            ++i;
            for (;;) {
                if (i >= row.size()) return false;
                if (row[i] == '"') {
                    if (i + 1 < row.size() && row[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += row[i++];
            }
        } else {
            while (i < row.size() &&
                   std::string_view(",;\t #\r").find(row[i]) == std::string_view::npos)
                field += row[i++];
        }
        fields.push_back(field);
        skipSpaces();
        if (i < row.size() && (row[i] == ',' || row[i] == ';' || row[i] == '\t')) {
            ++i;
            skipSpaces();
            if (i >= row.size() || row[i] == '#') fields.emplace_back(); // "A01," : empty last
        }
    }
    return true;
}

} // namespace

std::string roomNameProblem(const std::string &name)
{
    if (name.empty()) return "empty";
    if (name.size() > kMaxRoomNameBytes)
        return "longer than " + std::to_string(kMaxRoomNameBytes) + " bytes";
    if (name.front() == '.') return "starts with '.'";
    if (!isUtf8(name)) return "is not UTF-8 text";
    for (unsigned char c : name) {
        if (c == '/' || c == '\\') return "has a '/' or '\\' (it names a file in the folder)";
        if (c < 0x20 || c == 0x7F) return "has a control character";
    }
    return {};
}

bool parseVenueFile(std::string_view text, const std::string &fileName,
                    std::vector<VenueRoom> &rooms, std::string &error)
{
    rooms.clear();
    if (text.size() > kMaxVenueFileBytes) {
        error = fileName + ": larger than " + std::to_string(kMaxVenueFileBytes) + " bytes";
        return false;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3); // a spreadsheet's BOM
    std::map<std::string, int> seen; // names in lower case, to the line that has them
    std::vector<std::string> fields;
    bool firstRow = true;
    int number = 0;
    auto problem = [&](const std::string &what) {
        error = fileName + ":" + std::to_string(number) + ": " + what;
        rooms.clear();
        return false;
    };
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        const std::string_view row = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (row.find('\0') != std::string_view::npos) return problem("has a NUL byte");
        if (!splitRow(row, fields)) return problem("a quote that does not close");
        if (fields.empty()) continue; // blank or a comment
        if (fields.size() != 2) return problem("not \"ROOM, LINE\"");
        const bool header = lowerAscii(fields[1]) == "line";
        const bool wasFirst = firstRow;
        firstRow = false;
        if (header && wasFirst) continue;
        if (const std::string why = roomNameProblem(fields[0]); !why.empty())
            return problem("room name '" + shownName(fields[0]) + "': " + why);
        if (fields[1].empty()) return problem("room " + fields[0] + " has no line");
        const auto [it, fresh] = seen.emplace(lowerAscii(fields[0]), number);
        if (!fresh)
            return problem("room " + fields[0] + " is named on line " + std::to_string(it->second) +
                           " already");
        if (rooms.size() >= kMaxRooms)
            return problem("more than " + std::to_string(kMaxRooms) + " rooms");
        rooms.push_back({fields[0], fields[1], number});
    }
    if (rooms.empty()) {
        error = fileName + ": no rooms";
        return false;
    }
    return true;
}

} // namespace zev
