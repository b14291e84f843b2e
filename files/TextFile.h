// Small files that people keep beside the program ("ZEV720.ports", venue files, the JSON of a
// parameter file): read whole, never more than a bound, and only when the name stands for a
// regular file. A pipe, a device or a folder under the name is refused at once rather than
// waited on or read without end. No Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zev {

/// What a name that stands for no regular file is told.
constexpr const char *kNotARegularFile = "不是普通文件";

enum class TextFileStatus { Missing, Failed, Read };

/// What stands under a name, links followed.
enum class FileKind { Missing, Regular, Folder, Other };
/// The kind, and for a regular file its size in `size` when given.
FileKind fileKind(const std::string &path, std::uint64_t *size = nullptr);

/// Removes a file; false when it could not (no such file among the reasons).
bool removeFile(const std::string &path);

/// True when a name says its folder: it holds a folder separator ('/'; on Windows '\\' or a
/// drive's ':' too).
bool hasFolderPart(const std::string &name);

/// The working folder, or an empty text when the system does not say.
std::string currentFolder();

/// The system's text for one of its error numbers (errno, or GetLastError on Windows).
std::string systemErrorText(int error);

/// Reads the first `count` bytes of a regular file (all of it when shorter) into `bytes`,
/// however long the file is. Missing and Failed as below; a pipe or a device is refused at once
/// rather than waited on.
TextFileStatus readFileStart(const std::string &path, std::size_t count, std::string &bytes,
                             std::string &error);

/// Reads the file into `text`. Missing: no such file. Failed: `error` says why ("x: 不是普通文件",
/// "x: larger than 65536 bytes", the system's reason), `text` is empty.
TextFileStatus readTextFile(const std::string &path, std::size_t limit, std::string &text,
                            std::string &error);

} // namespace zev
