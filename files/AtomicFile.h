// Files that are replaced whole or not at all.
#pragma once

#include <cstddef>
#include <string>

namespace zev {

/// Writes `size` bytes to `path` through a temporary file in the same folder that is flushed
/// to the disk and then renamed over the target. On any failure the temporary file is removed,
/// the old file stays as it was, and the result is false with a message naming the file.
/// A target that is a symbolic link is written through the link. A target that exists and
/// is read-only is refused, as on systems whose read-only flag binds everyone.
bool writeFileAtomically(const std::string &path, const void *data, std::size_t size,
                         std::string &error);

/// The operating system's text for an error number.
std::string systemErrorText(int error);

} // namespace zev
