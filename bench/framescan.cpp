// Frame scan throughput: random bytes with frames embedded, served to the channel 320 bytes
// a read from memory, so that only the scan is measured.
#include "Report.h"
#include "wire/FrameCodec.h"
#include "wire/Serialportuse.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kStreamBytes = 32u << 20;
constexpr int kPasses = 8;
constexpr double kTargetMBps = 100.0;

class MemoryLine final : public zev::SerialLibrary {
public:
    explicit MemoryLine(const std::vector<std::uint8_t> &bytes) : m_bytes(bytes) {}
    zev::OpenOutcome openPort(int) override { return {}; }
    void startOpen(int, OpenDone done) override { done({}); }
    int setLine(int, int, int) override { return 0; }
    int setFlow(int, int) override { return 0; }
    int read(int, std::uint8_t *buffer, int capacity) override
    {
        const std::size_t n = std::min<std::size_t>(std::size_t(capacity), m_bytes.size() - m_at);
        std::copy_n(m_bytes.begin() + std::ptrdiff_t(m_at), n, buffer);
        m_at += n;
        return int(n);
    }
    int write(int, const std::uint8_t *, int length) override { return length; }
    int closePort(int) override { return 0; }
    bool done() const { return m_at >= m_bytes.size(); }
    void rewind() { m_at = 0; }

private:
    const std::vector<std::uint8_t> &m_bytes;
    std::size_t m_at = 0;
};

// Examined bytes per second, with frames `gap` random bytes apart on average.
double measure(int gap)
{
    std::mt19937 random(720);
    std::vector<std::uint8_t> stream;
    stream.reserve(kStreamBytes);
    while (stream.size() + std::size_t(2 * gap) + 8 < kStreamBytes) {
        for (int i = int(random() % unsigned(2 * gap + 1)); i > 0; --i)
            stream.push_back(std::uint8_t(random()));
        const auto frame = zev::encodeFrame(std::uint8_t(random()), std::uint8_t(random()));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    MemoryLine line(stream);
    std::unique_ptr<zev::SerialChannel> channel(new zev::SerialChannel(line));
    channel->OpenPort();
    // Each call reads 320 bytes and scans up to the next frame, so with dense frames input
    // runs ahead of the scan and the buffer resets now and then: count what was examined.
    long frames = 0;
    double examined = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int pass = 0; pass < kPasses; ++pass) {
        line.rewind();
        std::uint8_t a = 0, v = 0;
        for (;;) {
            const std::int32_t before = channel->scanPosition();
            const bool found = channel->NextFrame(a, v);
            const std::int32_t after = channel->scanPosition();
            examined += after >= before ? after - before : after;
            frames += found;
            if (!found && line.done()) break;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("frames every ~%d bytes: scanned %.0f MB, %ld frames, in %.3f s\n", gap,
                examined / 1e6, frames, seconds);
    return examined / seconds / 1e6;
}

} // namespace

int main()
{
    const double dense = measure(5);
    bench::report("frame scan throughput, dense frames", dense, "MB/s", ">= 100 MB/s",
                  dense / kTargetMBps);
    const double sparse = measure(1000);
    bench::report("frame scan throughput, noise", sparse, "MB/s", ">= 100 MB/s",
                  sparse / kTargetMBps);
    return 0;
}
