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

/// What takeFrames gives back for a stream in which a frame must start where none does.
constexpr std::size_t kNotFrames = static_cast<std::size_t>(-1);

/// Takes a stream that must be frames from its first byte on, as a frame port takes its
/// clients' bytes: the whole of `bytes` is checked first, and only then is `frame(address,
/// value)` called for each frame, in order. Returns how many bytes are done with (the rest,
/// fewer than a frame and starting as one does, may be a frame still arriving), or kNotFrames,
/// without a call, when bytes that are no frame stand where a frame must start.
template <typename OnFrame>
std::size_t takeFrames(const std::uint8_t *bytes, std::size_t size, OnFrame &&frame)
{
    std::size_t at = 0;
    for (; size - at >= std::size_t(kFrameSize); at += kFrameSize)
        if (!isFrameAt(bytes + at)) return kNotFrames;
    if (at < size && bytes[at] != kFrameStart) return kNotFrames;
    for (std::size_t i = 0; i < at; i += kFrameSize)
        frame(bytes[i + 1], bytes[i + 2]);
    return at;
}

} // namespace zev
