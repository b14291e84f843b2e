#include "wire/TextFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zev {

TextFileStatus readTextFile(const std::string &path, std::size_t limit, std::string &text,
                            std::string &error)
{
    text.clear();
    // Never wait: a pipe or a device opens at once and is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return TextFileStatus::Missing;
        error = path + ": " + std::strerror(errno);
        return TextFileStatus::Failed;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = path + ": " + kNotARegularFile;
        return TextFileStatus::Failed;
    }
    if (std::size_t(info.st_size) > limit) {
        ::close(fd);
        error = path + ": larger than " + std::to_string(limit) + " bytes";
        return TextFileStatus::Failed;
    }
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            ::close(fd);
            text.clear();
            return TextFileStatus::Failed;
        }
        if (n == 0) break;
        text.append(chunk, std::size_t(n));
        if (text.size() > limit) { // it grew while being read
            ::close(fd);
            text.clear();
            error = path + ": larger than " + std::to_string(limit) + " bytes";
            return TextFileStatus::Failed;
        }
    }
    ::close(fd);
    return TextFileStatus::Read;
}

} // namespace zev
