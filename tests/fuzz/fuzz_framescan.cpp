// The frame scan fed arbitrary chunks of arbitrary size, read and polled in any order: no
// access outside the buffers, and the scan's positions always in order.
#include "wire/Serialportuse.h"
#include "tests/fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <memory>
#include <vector>

namespace {

// A line that delivers the chunks it is given, one per read (up to the reader's capacity).
class ChunkLine final : public zev::SerialLibrary {
public:
    std::vector<std::uint8_t> chunk;
    int repeats = 0;
    zev::OpenOutcome openPort(int) override { return {}; }
    void startOpen(int, OpenDone done) override { done({}); }
    int setLine(int, int, int) override { return 0; }
    int setFlow(int, int) override { return 0; }
    int read(int, std::uint8_t *buffer, int capacity) override
    {
        if (repeats <= 0 || capacity <= 0) return 0;
        --repeats;
        const int n = std::min<int>(capacity, int(chunk.size()));
        std::copy_n(chunk.begin(), n, buffer);
        return n;
    }
    int write(int, const std::uint8_t *, int length) override { return length; }
    int closePort(int) override { return 0; }
};

} // namespace

using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static ChunkLine line;
    static zev::SerialChannel *channel = new zev::SerialChannel(line); // 8 MB, made once
    channel->ClosePort();
    channel->OpenPort();
    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        const int action = input.ConsumeIntegralInRange(0, 3);
        line.chunk = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 400));
        // Now and then the same chunk many times over: enough to pass the reset threshold.
        line.repeats = input.ConsumeIntegralInRange(0, 15) == 0
                           ? input.ConsumeIntegralInRange(1, 14000)
                           : input.ConsumeIntegralInRange(1, 8);
        while (line.repeats > 0) {
            std::uint8_t address = 0, value = 0;
            switch (action) {
            case 0:
                check(channel->ReadInput() <= zev::SerialChannel::kReadChunk);
                break;
            case 1:
                channel->NextFrame(address, value);
                break;
            default:
                channel->PollFrames(address, value);
                break;
            }
            check(0 <= channel->discardCount());
            check(channel->discardCount() <= channel->scanPosition());
            check(channel->scanPosition() <= channel->fillCount());
            check(channel->fillCount() <= zev::SerialChannel::kResetThreshold);
        }
    }
    return 0;
}
