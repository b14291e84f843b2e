// Saving a file so that a failure never costs the old one, and a save never replaces
// anything but a regular file.
#pragma once

#include "files/TextFile.h" // kNotARegularFile

#include <cstddef>
#include <string>

namespace zev {

/// How a save reached the disk.
enum class SaveMethod {
    Replaced, ///< a new file in the same folder, flushed, then renamed over the name: whole or not
              ///< at all
    InPlace,  ///< written into the existing file, flushed and read back (see writeFileSafely)
};

/// Writes `size` bytes to `path`. False with `error` ("path: reason") on failure, and then
/// nothing was touched.
///
/// The name may be a symbolic link: the file at its end is written and the link stays. Only a
/// regular file is ever replaced, or a new one created: a device, a FIFO, a folder, a dangling
/// link or a link loop at the name is refused ("不是普通文件", or the system's reason), as is an
/// existing file without write permission, even for root.
///
/// The new content normally goes to a temporary file beside the target (name + ".zev720-tmp."
/// + 6 characters), is flushed to the disk and renamed over the target, so the target is the
/// old or the new file, never a mixture. A rename would make the file something it was not,
/// and then the file is written in place instead, flushed and checked by reading it back:
///  - the file has several hard links (a rename would cut them);
///  - it belongs to another user or group than the one saving (a rename would take it over);
///  - no new file can be made in its folder (permission), while the file itself is writable.
/// Leftover temporary files of the same target from a save that was killed are removed first;
/// a save in progress holds a lock on its temporary file, so only abandoned ones go.
bool writeFileSafely(const std::string &path, const void *data, std::size_t size,
                     std::string &error, SaveMethod *used = nullptr);

/// The marker between a target's name and the random part of its temporary files.
constexpr const char *kTemporaryMarker = ".zev720-tmp.";
/// The random part: this many letters and digits.
constexpr std::size_t kTemporaryRandomPart = 6;

/// True when a folder entry is one of the temporary files whose names start with `prefix`
/// (the target's name and kTemporaryMarker), and nothing else that merely looks like one.
inline bool isTemporaryOf(const std::string &entry, const std::string &prefix)
{
    if (entry.size() != prefix.size() + kTemporaryRandomPart ||
        entry.compare(0, prefix.size(), prefix))
        return false;
    for (std::size_t i = prefix.size(); i < entry.size(); ++i) {
        const char c = entry[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

} // namespace zev
