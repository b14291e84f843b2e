#include "settings/PortSettings.h"

#include "files/AtomicFile.h"
#include "wire/LineCodes.h"


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
    std::uint64_t size = 0;
    const FileKind kind = fileKind(kPortSettingsFile, &size);
    if (kind != FileKind::Missing && (kind != FileKind::Regular || size != kPortSettingsFileSize))
        removeFile(kPortSettingsFile); // a failed deletion is of no consequence
    portSettings = PortSettings{};
    readPortSettingsFile(portSettings);
}

bool readPortSettingsFile(PortSettings &settings)
{
    std::uint64_t size = 0;
    if (fileKind(kPortSettingsFile, &size) != FileKind::Regular || size != kPortSettingsFileSize)
        return false;
    std::string bytes, error;
    // One byte more than the file should hold tells one that grew meanwhile.
    if (readFileStart(kPortSettingsFile, kPortSettingsFileSize + 1, bytes, error) !=
            TextFileStatus::Read ||
        bytes.size() != kPortSettingsFileSize)
        return false;
    settings = decodePortSettings(reinterpret_cast<const std::uint8_t *>(bytes.data()));
    return true;
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
