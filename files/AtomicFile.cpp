#include "files/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zev {
namespace {

constexpr int kMaxLinkDepth = 16;

std::string folderOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links to the file they name, which need not exist yet.
std::string resolveLinks(std::string path)
{
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0) break;
        target[n] = '\0';
        path = target[0] == '/' ? std::string(target) : folderOf(path) + "/" + target;
    }
    return path;
}

bool fail(std::string &error, const std::string &path, int code)
{
    error = path + ": " + systemErrorText(code);
    return false;
}

} // namespace

std::string systemErrorText(int error)
{
    return std::strerror(error);
}

bool writeFileAtomically(const std::string &requested, const void *data, std::size_t size,
                         std::string &error)
{
    const std::string path = resolveLinks(requested);
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) return fail(error, requested, EISDIR);
    if (exists && (!(old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) || ::access(path.c_str(), W_OK)))
        return fail(error, requested, EACCES);

    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return fail(error, requested, errno);
    int code = 0;
    const auto *bytes = static_cast<const char *>(data);
    for (std::size_t done = 0; done < size && !code;) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            code = n < 0 ? errno : ENOSPC;
        else
            done += static_cast<std::size_t>(n);
    }
    // Keep the old file's permissions; a new file gets the usual ones.
    const mode_t umaskNow = ::umask(0);
    ::umask(umaskNow);
    const mode_t mode = exists ? (old.st_mode & 07777) : (0666 & ~umaskNow);
    if (!code && ::fchmod(fd, mode)) code = errno;
    if (!code && ::fsync(fd)) code = errno;
    if (::close(fd) && !code) code = errno;
    if (!code && ::rename(temporary.c_str(), path.c_str())) code = errno;
    if (code) {
        ::unlink(temporary.c_str());
        return fail(error, requested, code);
    }
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

} // namespace zev
