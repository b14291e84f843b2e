#include "files/ParameterFile.h"

#include "files/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zev {
namespace {
constexpr std::size_t kBlock = 256;
}

std::string resolveFileName(const std::string &name)
{
    if (name.find('/') != std::string::npos) return name;
    char folder[4096];
    if (!::getcwd(folder, sizeof folder)) return name;
    return std::string(folder) + "/" + name;
}

bool parameterFileExists(const std::string &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

ReadStatus readParameterFile(const std::string &path, ParameterModel &model, std::string &error)
{
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0) return ReadStatus::Missing;
    if (S_ISDIR(named.st_mode)) { // a folder in the file's place is reported like a pipe
        error = path + ": " + kNotARegularFile;
        return ReadStatus::Failed;
    }
    // Never wait: a pipe or a device under that name is refused rather than read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + systemErrorText(errno);
        return ReadStatus::Failed;
    }
    struct stat info {};
    int code = ::fstat(fd, &info) ? errno : (S_ISREG(info.st_mode) ? 0 : EINVAL);
    unsigned char bytes[kParameterFileSize];
    std::size_t size = 0;
    while (!code && size < sizeof bytes) {
        const ssize_t n = ::read(fd, bytes + size, sizeof bytes - size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) code = errno;
        if (n <= 0) break;
        size += std::size_t(n);
    }
    ::close(fd);
    if (code) {
        error =
            path + ": " + (code == EINVAL ? std::string(kNotARegularFile) : systemErrorText(code));
        return ReadStatus::Failed;
    }
    const std::size_t image = std::min(size, kBlock);
    std::copy_n(bytes, image, model.image.begin());
    for (std::size_t slot = 0; slot < std::size_t(kSlotCount); ++slot) {
        const std::size_t start = kBlock * (slot + 1);
        if (size <= start) break;
        std::copy_n(bytes + start, std::min(size - start, kBlock), model.modeSlots[slot].begin());
    }
    return ReadStatus::Read;
}

ReadStatus readWholeParameterFile(const std::string &path, ParameterModel &model,
                                  std::string &error)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        std::size_t(info.st_size) != kParameterFileSize) {
        error = path + ": not a parameter file (" + std::to_string(info.st_size) +
                " bytes, not " + std::to_string(kParameterFileSize) + ")";
        return ReadStatus::Failed;
    }
    ParameterModel read = model;
    const ReadStatus status = readParameterFile(path, read, error);
    if (status == ReadStatus::Read) model = read;
    return status;
}

bool writeParameterFile(const std::string &path, const ParameterModel &model, std::string &error,
                        SaveMethod *used)
{
    unsigned char bytes[kParameterFileSize];
    std::copy(model.image.begin(), model.image.end(), bytes);
    for (std::size_t slot = 0; slot < std::size_t(kSlotCount); ++slot)
        std::copy(model.modeSlots[slot].begin(), model.modeSlots[slot].end(),
                  bytes + kBlock * (slot + 1));
    return writeFileSafely(path, bytes, sizeof bytes, error, used);
}

std::string withDefaultExtension(const std::string &name, bool firstFilterEntry)
{
    if (!firstFilterEntry) return name;
    const auto folder = name.find_last_of("/\\:");
    const auto dot = name.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (folder == std::string::npos || dot > folder);
    return hasExtension ? name : name + ".dat";
}

} // namespace zev
