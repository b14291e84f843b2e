// Small files that people keep beside the program ("ZEV720.ports", venue files, the JSON of a
// parameter file): read whole, never more than a bound, and only when the name stands for a
// regular file. A pipe, a device or a folder under the name is refused at once rather than
// waited on or read without end. No Qt.
#pragma once

#include <cstddef>
#include <string>

namespace zev {

/// What a name that stands for no regular file is told.
constexpr const char *kNotARegularFile = "不是普通文件";

enum class TextFileStatus { Missing, Failed, Read };

/// Reads the file into `text`. Missing: no such file. Failed: `error` says why ("x: 不是普通文件",
/// "x: larger than 65536 bytes", the system's reason), `text` is empty.
TextFileStatus readTextFile(const std::string &path, std::size_t limit, std::string &text,
                            std::string &error);

} // namespace zev
