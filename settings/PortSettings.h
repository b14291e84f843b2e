// The port settings record and its configuration file "ZEV720.cfg".
//
// The file is exactly 28 bytes: the seven fields in record order, each a signed 32-bit
// integer, least significant byte first. Its name has no folder: it is resolved against the
// working directory each time it is used.
#pragma once

#include "wire/Serialportuse.h"

#include <array>
#include <cstdint>
#include <string>

namespace zev {

/// The poll timer's interval unless the settings say otherwise, in milliseconds.
constexpr std::int32_t kDefaultPollInterval = 20;
/// The port numbers that the dialog steps through and the scan tries.
constexpr int kFirstScanPort = 1;
constexpr int kLastScanPort = 15;

struct PortSettings {
    std::int32_t port = 1;     ///< COM port number, 1 is COM1
    std::int32_t baud = 12;    ///< position in the rate list, 12 is 9600
    std::int32_t parity = 0;   ///< position in the parity list: None Even Odd Mark Space
    std::int32_t dataBits = 3; ///< position in the data bits list: 5 6 7 8
    std::int32_t stopBits = 0; ///< position in the stop bits list: 1 2
    std::int32_t flow = 0;     ///< position in the flow list: None, hardware, software
    std::int32_t interval = kDefaultPollInterval; ///< poll timer interval in milliseconds
    bool operator==(const PortSettings &) const = default;
};

/// The record: module state that exists before the dialog and outlives it. -1 in a list
/// field means that nothing was chosen. No field is range-checked.
extern PortSettings portSettings;

constexpr const char *kPortSettingsFile = "ZEV720.cfg";
constexpr std::size_t kPortSettingsFileSize = 28;

std::array<std::uint8_t, kPortSettingsFileSize> encodePortSettings(const PortSettings &settings);
PortSettings decodePortSettings(const std::uint8_t *bytes);

/// Fills the record from the file. A file of any other size than 28 bytes is deleted first;
/// without a readable file the record takes the defaults. Nothing is reported.
void LoadPortSettings();

/// Reads "ZEV720.cfg" into `settings` when it is a regular file of 28 bytes; true then. Unlike
/// LoadPortSettings it deletes nothing and leaves the record alone.
bool readPortSettingsFile(PortSettings &settings);

/// Writes the record to the file, whole or not at all. False with a message on failure.
bool SavePortSettings(std::string &error);

/// The poll timer's interval for a stored value: below 1 ms the timer would spin, so such
/// values run at the default 20 ms (the record keeps what was stored).
int pollInterval(std::int32_t stored);

/// Gives a channel the settings' port and line (taken at its next open).
void applyPortSettings(SerialChannel &channel, const PortSettings &settings);

} // namespace zev
