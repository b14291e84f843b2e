#include "files/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zev {
namespace {

std::string tooLarge(const std::string &path, std::size_t limit)
{
    return path + ": larger than " + std::to_string(limit) + " bytes";
}

// Opens a regular file for reading without ever waiting: a pipe or a device opens at once and
// is refused. -1 with the status and error otherwise.
int openRegular(const std::string &path, std::uint64_t &size, TextFileStatus &status,
                std::string &error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        status = errno == ENOENT ? TextFileStatus::Missing : TextFileStatus::Failed;
        if (errno != ENOENT) error = path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        status = TextFileStatus::Failed;
        error = path + ": " + kNotARegularFile;
        return -1;
    }
    size = std::uint64_t(info.st_size);
    return fd;
}

// Appends up to `count` bytes; false with the error when a read fails.
bool readUpTo(int fd, std::size_t count, std::string &bytes, const std::string &path,
              std::string &error)
{
    char chunk[4096];
    while (bytes.size() < count) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, count - bytes.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0) break;
        bytes.append(chunk, std::size_t(n));
    }
    return true;
}

} // namespace

FileKind fileKind(const std::string &path, std::uint64_t *size)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return FileKind::Missing;
    if (S_ISDIR(info.st_mode)) return FileKind::Folder;
    if (!S_ISREG(info.st_mode)) return FileKind::Other;
    if (size) *size = std::uint64_t(info.st_size);
    return FileKind::Regular;
}

bool removeFile(const std::string &path)
{
    return ::unlink(path.c_str()) == 0;
}

bool hasFolderPart(const std::string &name)
{
    return name.find('/') != std::string::npos;
}

std::string currentFolder()
{
    char folder[PATH_MAX];
    return ::getcwd(folder, sizeof folder) ? std::string(folder) : std::string();
}

std::string systemErrorText(int error)
{
    return std::strerror(error);
}

TextFileStatus readFileStart(const std::string &path, std::size_t count, std::string &bytes,
                             std::string &error)
{
    bytes.clear();
    std::uint64_t size = 0;
    TextFileStatus status = TextFileStatus::Read;
    const int fd = openRegular(path, size, status, error);
    if (fd < 0) return status;
    const bool read = readUpTo(fd, count, bytes, path, error);
    ::close(fd);
    if (!read) bytes.clear();
    return read ? TextFileStatus::Read : TextFileStatus::Failed;
}

TextFileStatus readTextFile(const std::string &path, std::size_t limit, std::string &text,
                            std::string &error)
{
    text.clear();
    std::uint64_t size = 0;
    TextFileStatus status = TextFileStatus::Read;
    const int fd = openRegular(path, size, status, error);
    if (fd < 0) return status;
    if (size > limit) {
        ::close(fd);
        error = tooLarge(path, limit);
        return TextFileStatus::Failed;
    }
    // One byte more than allowed tells a file that grew while being read.
    bool read = readUpTo(fd, limit + 1, text, path, error);
    ::close(fd);
    if (read && text.size() > limit) {
        error = tooLarge(path, limit);
        read = false;
    }
    if (!read) text.clear();
    return read ? TextFileStatus::Read : TextFileStatus::Failed;
}

} // namespace zev
