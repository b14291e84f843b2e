#include "settings/PortSettings.h"

#include "files/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zev {

PortSettings portSettings;

namespace {
constexpr int kDefaultInterval = 20;

std::int32_t *fields(PortSettings &s)
{
    static_assert(sizeof(PortSettings) == 7 * sizeof(std::int32_t));
    return &s.port;
}
} // namespace

std::array<std::uint8_t, kPortSettingsFileSize> encodePortSettings(const PortSettings &settings)
{
    PortSettings copy = settings;
    const std::int32_t *field = fields(copy);
    std::array<std::uint8_t, kPortSettingsFileSize> bytes{};
    for (std::size_t i = 0; i < 7; ++i) {
        const auto v = static_cast<std::uint32_t>(field[i]);
        for (std::size_t b = 0; b < 4; ++b)
            bytes[i * 4 + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    return bytes;
}

PortSettings decodePortSettings(const std::uint8_t *bytes)
{
    PortSettings settings;
    std::int32_t *field = fields(settings);
    for (std::size_t i = 0; i < 7; ++i) {
        std::uint32_t v = 0;
        for (std::size_t b = 0; b < 4; ++b)
            v |= std::uint32_t(bytes[i * 4 + b]) << (8 * b);
        field[i] = static_cast<std::int32_t>(v);
    }
    return settings;
}

void LoadPortSettings()
{
    struct stat info {};
    const bool sized = ::stat(kPortSettingsFile, &info) == 0 && S_ISREG(info.st_mode) &&
                       info.st_size == static_cast<off_t>(kPortSettingsFileSize);
    if (!sized) ::unlink(kPortSettingsFile); // a failed deletion is of no consequence

    portSettings = PortSettings{};
    const int fd = ::open(kPortSettingsFile, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    std::uint8_t bytes[kPortSettingsFileSize];
    struct stat opened {};
    const bool regular = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
    if (regular && ::read(fd, bytes, sizeof bytes) == static_cast<ssize_t>(sizeof bytes))
        portSettings = decodePortSettings(bytes);
    ::close(fd);
}

bool SavePortSettings(std::string &error)
{
    const auto bytes = encodePortSettings(portSettings);
    return writeFileSafely(kPortSettingsFile, bytes.data(), bytes.size(), error);
}

int pollInterval(std::int32_t stored)
{
    return stored < 1 ? kDefaultInterval : stored;
}

} // namespace zev
