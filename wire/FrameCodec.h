// Frames of the processor's serial protocol: FE address value checksum FD.
// Pure functions, no I/O; the serial channel and the emulator both scan with them.
#pragma once

#include <array>
#include <cstddef>
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

/// Scans bytes as they came from a peer: calls `frame(address, value)` for each valid frame in
/// order and skips bytes that start none. Returns how many bytes are done with; the rest, fewer
/// than a frame, may be the start of one still arriving.
template <typename OnFrame>
std::size_t scanFrames(const std::uint8_t *bytes, std::size_t size, OnFrame &&frame)
{
    std::size_t at = 0;
    while (size - at >= std::size_t(kFrameSize)) {
        if (isFrameAt(bytes + at)) {
            frame(bytes[at + 1], bytes[at + 2]);
            at += kFrameSize;
        } else {
            ++at;
        }
    }
    return at;
}

} // namespace zev
