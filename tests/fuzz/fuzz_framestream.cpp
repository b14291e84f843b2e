// Frames scanned from a stream that arrives in chunks of any size, as a frame port takes its
// clients' bytes: the same frames, in the same order, however the stream is cut, each one
// valid, and never more than a frame's worth of bytes left over.
#include "wire/FrameCodec.h"
#include "tests/fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace {
using Frames = std::vector<std::pair<std::uint8_t, std::uint8_t>>;

Frames whole(const std::vector<std::uint8_t> &stream)
{
    Frames frames;
    const std::size_t done = zev::scanFrames(stream.data(), stream.size(),
                                             [&](std::uint8_t a, std::uint8_t v) {
                                                 frames.emplace_back(a, v);
                                             });
    zev::fuzz::check(stream.size() - done < std::size_t(zev::kFrameSize));
    return frames;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::size_t cuts = input.ConsumeIntegralInRange<std::size_t>(0, 64);
    std::vector<std::size_t> lengths;
    for (std::size_t i = 0; i < cuts; ++i)
        lengths.push_back(input.ConsumeIntegralInRange<std::size_t>(0, 32));
    const std::vector<std::uint8_t> stream = input.ConsumeRemainingBytes<std::uint8_t>();

    // Chunk by chunk, with what was left over carried to the next.
    Frames chunked;
    std::vector<std::uint8_t> pending;
    std::size_t at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        const std::size_t length =
            i < lengths.size() ? std::min(lengths[i], stream.size() - at) : stream.size() - at;
        pending.insert(pending.end(), stream.begin() + std::ptrdiff_t(at),
                       stream.begin() + std::ptrdiff_t(at + length));
        at += length;
        const std::size_t done = zev::scanFrames(pending.data(), pending.size(),
                                                 [&](std::uint8_t a, std::uint8_t v) {
                                                     chunked.emplace_back(a, v);
                                                 });
        zev::fuzz::check(done <= pending.size());
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(done));
        zev::fuzz::check(pending.size() < std::size_t(zev::kFrameSize));
    }
    // Whole, the stream gives the same frames, each of them valid.
    const Frames all = whole(stream);
    zev::fuzz::check(all == chunked);
    for (const auto &[address, value] : all) {
        const zev::FrameBytes bytes = zev::encodeFrame(address, value);
        zev::fuzz::check(zev::isFrameAt(bytes.data()));
    }
    return 0;
}
