// Frames of the processor's serial protocol: FE address value checksum FD.
// Pure functions, no I/O; the serial channel and the emulator both scan with them.
#pragma once

#include <array>
#include <cstdint>

namespace zev {

constexpr std::uint8_t kFrameStart = 0xFE;
constexpr std::uint8_t kFrameEnd = 0xFD;
constexpr int kFrameSize = 5;

using FrameBytes = std::array<std::uint8_t, kFrameSize>;

/// The five bytes of a frame; address, value and checksum are sent unescaped.
constexpr FrameBytes encodeFrame(std::uint8_t address, std::uint8_t value)
{
    return {kFrameStart, address, value, static_cast<std::uint8_t>(address + value), kFrameEnd};
}

/// True when the five bytes at p are a valid frame: both markers and a matching checksum.
constexpr bool isFrameAt(const std::uint8_t *p)
{
    return p[0] == kFrameStart && p[4] == kFrameEnd &&
           p[3] == static_cast<std::uint8_t>(p[1] + p[2]);
}

} // namespace zev
