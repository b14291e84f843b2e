// zev720d's config file: its options one a line without their dashes ("listen 0.0.0.0:8720"),
// the same as on the command line. A line whose first mark is '#', and the rest of a line from
// a '#' after a blank, are comments. Refused with the file and the line: a byte-order mark, a
// '#' inside a value (a comment glued to it, or a value that holds one: either way not what
// its writer meant), an option the server does not know, and one that may be given once given
// twice. No Qt.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zev {

/// No config file comes near this.
constexpr std::size_t kMaxConfigBytes = 64 * 1024;

/// An argument, and where it was written when a config file gave it ("zev720d.conf:4").
struct ConfigWord {
    std::string text;
    std::string where;
};

/// The file's options as arguments ("--listen", "0.0.0.0:8720"), each with its line; false
/// with `error` ("zev720d.conf:4: ...") at the first line that is refused.
bool configWords(const std::string &text, const std::string &file, std::vector<ConfigWord> &words,
                 std::string &error);

} // namespace zev
