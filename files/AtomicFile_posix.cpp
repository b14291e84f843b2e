#include "files/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zev {
namespace {

constexpr int kMaxLinkDepth = 40; // as the kernel's own limit on following links
constexpr int kNotRegular = -1;   // our own code for "not a regular file"
constexpr int kNoNewFile = -2;    // our own code: the folder takes no new file from us

std::string folderOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What stands at the end of the links from a name.
struct Target {
    std::string path; ///< the name itself, or where its links end
    bool exists = false;
    struct stat info {};
};

// Follows the links from `name`; 0 with the target, or an error code. The end must be a
// regular file, or nothing at all at a name that is not a link.
int findTarget(const std::string &name, Target &target)
{
    target.path = name;
    for (int depth = 0;; ++depth) {
        if (::lstat(target.path.c_str(), &target.info) != 0) {
            if (errno != ENOENT) return errno;
            // Nothing there: a new file, unless a link pointed here (a dangling link).
            return depth == 0 ? 0 : kNotRegular;
        }
        if (!S_ISLNK(target.info.st_mode)) break;
        if (depth == kMaxLinkDepth) return ELOOP;
        char link[PATH_MAX];
        const ssize_t n = ::readlink(target.path.c_str(), link, sizeof link - 1);
        if (n < 0) return errno;
        link[n] = '\0';
        target.path = link[0] == '/' ? std::string(link) : folderOf(target.path) + "/" + link;
    }
    target.exists = true;
    return S_ISREG(target.info.st_mode) ? 0 : kNotRegular;
}

bool fail(std::string &error, const std::string &path, int code)
{
    error =
        path + ": " + (code == kNotRegular ? std::string(kNotARegularFile) : systemErrorText(code));
    return false;
}

// Temporary files of this target that a killed save left behind. Only regular files of our
// own name pattern and owner go, and only when no save holds their lock any more.
void removeLeftovers(const std::string &path)
{
    const std::string folder = folderOf(path);
    const std::string prefix = baseOf(path) + kTemporaryMarker;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir) return;
    std::vector<std::string> found;
    while (const dirent *entry = ::readdir(dir))
        if (isTemporaryOf(entry->d_name, prefix)) found.emplace_back(entry->d_name);
    const int folderFd = ::dirfd(dir);
    for (const std::string &name : found) {
        const int fd =
            ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Still the file we looked at: a new one under the same name is left alone.
            struct stat now {};
            if (::fstatat(folderFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                now.st_ino == info.st_ino && now.st_dev == info.st_dev)
                ::unlinkat(folderFd, name.c_str(), 0);
        }
        ::close(fd);
    }
    ::closedir(dir);
}

int writeAll(int fd, const char *bytes, std::size_t size)
{
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(fd, bytes + done, size - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// In place: the file stays the same file (links, owner, group, permissions, attributes). Not
// whole-or-nothing: a kill in the middle leaves a mixture, which is why it is only chosen where
// a rename would change what the file is.
int writeInPlace(const Target &target, const char *bytes, std::size_t size)
{
    const int fd = ::open(target.path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat info {};
    int code = ::fstat(fd, &info) ? errno : 0;
    if (!code && (!S_ISREG(info.st_mode) || info.st_ino != target.info.st_ino ||
                  info.st_dev != target.info.st_dev))
        code = kNotRegular; // something else took the name meanwhile
    if (!code) code = writeAll(fd, bytes, size);
    if (!code && ::ftruncate(fd, off_t(size))) code = errno;
    if (!code && ::fsync(fd)) code = errno;
    if (!code) { // what the disk holds now
        std::vector<char> back(size + 1);
        std::size_t got = 0;
        while (got < back.size()) {
            const ssize_t n = ::pread(fd, back.data() + got, back.size() - got, off_t(got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) code = errno;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        if (!code && (got != size || std::memcmp(back.data(), bytes, size))) code = EIO;
    }
    if (::close(fd) && !code) code = errno;
    return code;
}

// Through a temporary file and a rename: the name holds the old or the new file, whole.
// kNoNewFile when no temporary file can be made in the folder for want of permission.
int writeReplacing(const Target &target, const char *bytes, std::size_t size)
{
    removeLeftovers(target.path);
    std::string temporary =
        target.path + kTemporaryMarker + std::string(kTemporaryRandomPart, 'X');
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return errno == EACCES || errno == EPERM ? kNoNewFile : errno;
    // Held until the rename: a save running beside this one leaves the file alone.
    ::flock(fd, LOCK_EX | LOCK_NB);
    int code = writeAll(fd, bytes, size);
    // Keep the old file's permissions; a new file gets the usual ones.
    const mode_t umaskNow = ::umask(0);
    ::umask(umaskNow);
    const mode_t mode = target.exists ? (target.info.st_mode & 07777) : (0666 & ~umaskNow);
    if (!code && ::fchmod(fd, mode)) code = errno;
    if (!code && ::fsync(fd)) code = errno;
    if (!code) {
        // The name must still hold what was examined: nothing, or the same regular file.
        struct stat now {};
        const bool there = ::lstat(target.path.c_str(), &now) == 0;
        if (there != target.exists ||
            (there && (!S_ISREG(now.st_mode) || now.st_ino != target.info.st_ino)))
            code = kNotRegular;
    }
    if (!code && ::rename(temporary.c_str(), target.path.c_str())) code = errno;
    if (code) ::unlink(temporary.c_str());
    if (::close(fd) && !code) code = errno;
    if (code) return code;
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(folderOf(target.path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return 0;
}

} // namespace

bool writeFileSafely(const std::string &requested, const void *data, std::size_t size,
                     std::string &error, SaveMethod *used)
{
    Target target;
    if (const int code = findTarget(requested, target)) return fail(error, requested, code);
    const struct stat &old = target.info;
    if (target.exists &&
        (!(old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) || ::access(target.path.c_str(), W_OK)))
        return fail(error, requested, EACCES);

    const auto *bytes = static_cast<const char *>(data);
    const bool keepsIdentity = !target.exists || (old.st_nlink == 1 && old.st_uid == ::geteuid() &&
                                                  old.st_gid == ::getegid());
    SaveMethod method = keepsIdentity ? SaveMethod::Replaced : SaveMethod::InPlace;
    int code = 0;
    if (method == SaveMethod::Replaced) {
        code = writeReplacing(target, bytes, size);
        if (code == kNoNewFile && target.exists) { // a folder closed to new files
            method = SaveMethod::InPlace;
        } else if (code == kNoNewFile) {
            code = EACCES;
        }
    }
    if (method == SaveMethod::InPlace) code = writeInPlace(target, bytes, size);
    if (code) return fail(error, requested, code);
    if (used) *used = method;
    return true;
}

} // namespace zev
