// Archives of files as tar (POSIX ustar, with pax headers for long names), compressed with
// gzip: what `tar xzf` opens anywhere (GNU tar's own long names are read too). Written from memory, read back into memory, and read
// as hostile bytes: bounded in size and count, regular files only, every name relative and
// inside the archive (no "/x", "..", "." or empty part, no '\\' or control character), no name
// twice. No Qt; zlib.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

struct ArchiveEntry {
    std::string path;  ///< "presets/Night.dat"
    std::string bytes;
};

/// What an archive may hold, unpacked, and how many files.
constexpr std::size_t kMaxArchiveContent = 256u * 1024 * 1024;
constexpr std::size_t kMaxArchiveEntries = 65536;
/// A name inside an archive, in bytes.
constexpr std::size_t kMaxArchivePath = 1024;

/// The problem with a name inside an archive, or empty when it is a sound one.
std::string archivePathProblem(std::string_view path);

/// The entries as a .tar.gz, each file dated `mtime` (seconds since 1970) with mode 0600.
/// False with `error` naming the entry when a name is not a sound one.
bool writeTarGz(const std::vector<ArchiveEntry> &entries, long long mtime, std::string &out,
                std::string &error);

/// The files of a .tar.gz, in their order (folders are left out). False with `error` ("K01.dat:
/// a symbolic link, not a file"; "not a gzip file") and nothing in `entries` for anything but
/// regular files with sound names within the bounds.
bool readTarGz(std::string_view archive, std::vector<ArchiveEntry> &entries, std::string &error);

} // namespace zev
