#include "settings/PortSettings.h"

#include "files/AtomicFile.h"
#include "wire/LineCodes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zev {

PortSettings portSettings;

namespace {
// The fields in file order, each named: the record is seven separate integers, not an array.
constexpr std::int32_t PortSettings::*kFields[] = {
    &PortSettings::port,     &PortSettings::baud, &PortSettings::parity,   &PortSettings::dataBits,
    &PortSettings::stopBits, &PortSettings::flow, &PortSettings::interval,
};
static_assert(std::size(kFields) * 4 == kPortSettingsFileSize);
} // namespace

std::array<std::uint8_t, kPortSettingsFileSize> encodePortSettings(const PortSettings &settings)
{
    std::array<std::uint8_t, kPortSettingsFileSize> bytes{};
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const auto v = static_cast<std::uint32_t>(settings.*kFields[i]);
        for (std::size_t b = 0; b < 4; ++b)
            bytes[i * 4 + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    return bytes;
}

PortSettings decodePortSettings(const std::uint8_t *bytes)
{
    PortSettings settings;
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        std::uint32_t v = 0;
        for (std::size_t b = 0; b < 4; ++b)
            v |= std::uint32_t(bytes[i * 4 + b]) << (8 * b);
        settings.*kFields[i] = static_cast<std::int32_t>(v);
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

bool readPortSettingsFile(PortSettings &settings)
{
    const int fd = ::open(kPortSettingsFile, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    std::uint8_t bytes[kPortSettingsFileSize + 1];
    struct stat opened {};
    const bool regular = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                         opened.st_size == static_cast<off_t>(kPortSettingsFileSize);
    const bool read =
        regular && ::read(fd, bytes, sizeof bytes) == static_cast<ssize_t>(kPortSettingsFileSize);
    ::close(fd);
    if (read) settings = decodePortSettings(bytes);
    return read;
}

bool SavePortSettings(std::string &error)
{
    const auto bytes = encodePortSettings(portSettings);
    return writeFileSafely(kPortSettingsFile, bytes.data(), bytes.size(), error);
}

int pollInterval(std::int32_t stored)
{
    return stored < 1 ? kDefaultPollInterval : stored;
}

void applyPortSettings(SerialChannel &channel, const PortSettings &settings)
{
    channel.SetPortNumber(settings.port);
    channel.SetBaudCode(baudCode(settings.baud));
    channel.SetModeCode(modeCode(settings.parity, settings.dataBits, settings.stopBits));
    channel.SetFlowCode(flowCode(settings.flow));
}

} // namespace zev
