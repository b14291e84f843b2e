// A frame port's client stream, which must be frames from its first byte on, arriving in
// chunks of any size: however it is cut, the frames taken are the same, in the same order,
// and a stream refused whole is refused cut too, with no frame taken from past the fault; the
// frames and what is left over are the stream's bytes exactly.
#include "wire/FrameCodec.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace {
using Frames = std::vector<std::pair<std::uint8_t, std::uint8_t>>;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::size_t cuts = input.ConsumeIntegralInRange<std::size_t>(0, 64);
    std::vector<std::size_t> lengths;
    for (std::size_t i = 0; i < cuts; ++i)
        lengths.push_back(input.ConsumeIntegralInRange<std::size_t>(0, 32));
    std::vector<std::uint8_t> stream = input.ConsumeRemainingBytes<std::uint8_t>();
    // Often a run of frames, so that what follows a good start is explored too.
    if (!stream.empty() && stream.front() == 0) {
        std::vector<std::uint8_t> framed;
        for (std::size_t i = 1; i + 1 < stream.size(); i += 2) {
            const zev::FrameBytes frame = zev::encodeFrame(stream[i], stream[i + 1]);
            framed.insert(framed.end(), frame.begin(), frame.end());
        }
        stream = framed;
    }

    Frames whole;
    const std::size_t done = zev::takeFrames(stream.data(), stream.size(), [&](std::uint8_t a, std::uint8_t v) {
        whole.emplace_back(a, v);
    });
    if (done == zev::kNotFrames) {
        zev::fuzz::check(whole.empty());
    } else {
        zev::fuzz::check(done % zev::kFrameSize == 0 && stream.size() - done < std::size_t(zev::kFrameSize));
        zev::fuzz::check(whole.size() == done / zev::kFrameSize);
        for (std::size_t i = 0; i < whole.size(); ++i) {
            const zev::FrameBytes bytes = zev::encodeFrame(whole[i].first, whole[i].second);
            zev::fuzz::check(std::equal(bytes.begin(), bytes.end(),
                                        stream.begin() + std::ptrdiff_t(i * zev::kFrameSize)));
        }
        zev::fuzz::check(done == stream.size() || stream[done] == zev::kFrameStart);
    }

    // Chunk by chunk, with what was left over carried to the next.
    Frames chunked;
    std::vector<std::uint8_t> pending;
    std::size_t at = 0;
    bool refused = false;
    for (std::size_t i = 0; at < stream.size() && !refused; ++i) {
        const std::size_t length =
            i < lengths.size() ? std::min(lengths[i], stream.size() - at) : stream.size() - at;
        pending.insert(pending.end(), stream.begin() + std::ptrdiff_t(at),
                       stream.begin() + std::ptrdiff_t(at + length));
        at += length;
        const std::size_t taken = zev::takeFrames(pending.data(), pending.size(),
                                                  [&](std::uint8_t a, std::uint8_t v) {
                                                      chunked.emplace_back(a, v);
                                                  });
        if (taken == zev::kNotFrames) {
            refused = true;
            break;
        }
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(taken));
        zev::fuzz::check(pending.size() < std::size_t(zev::kFrameSize));
    }
    if (done != zev::kNotFrames) {
        zev::fuzz::check(!refused && chunked == whole);
    } else {
        // Refused cut too; what was taken before the fault is frames the stream begins with.
        zev::fuzz::check(refused);
        for (std::size_t i = 0; i < chunked.size(); ++i) {
            const zev::FrameBytes bytes = zev::encodeFrame(chunked[i].first, chunked[i].second);
            zev::fuzz::check(std::equal(bytes.begin(), bytes.end(),
                                        stream.begin() + std::ptrdiff_t(i * zev::kFrameSize)));
        }
    }
    return 0;
}
