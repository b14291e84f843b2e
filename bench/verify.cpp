// The whole-room verify read of 64 rooms, each an emulator on TCP paced like a 9600-baud line,
// held by zev720d. The same rooms held three times:
//   verification off: the frames of an idle line (the quiet check alone), and a change's time
//     from the API to its frame on the line;
//   every room read whole every 10 s: the frames a whole read adds (its time on the line, and
//     its share of the line at the default 600 s) and the CPU the reads add to the server's
//     idle (at the default 600 s: the idle CPU without, and a sixtieth of what they add);
//   every room read whole every second, so that a change nearly always meets a read under way:
//     the same change's time, against verification off.
#include "Held.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kRooms = 64;
constexpr int kSamples = 64;
constexpr int kWindowMs = 10000;
constexpr int kDefaultVerifySeconds = 600;

/// The frames every room received while idle for the window, and the server's CPU in it (%).
std::pair<int, double> idleWindow(bench::HeldVenue &venue)
{
    bench::waitFor([] { return false; }, 1000);
    const double cpu = bench::processSeconds(venue.server.processId());
    const double from = bench::monotonicSeconds();
    bench::waitFor([] { return false; }, kWindowMs);
    const double until = bench::monotonicSeconds();
    const double used = (bench::processSeconds(venue.server.processId()) - cpu) / (until - from) * 100;
    int frames = 0;
    for (int room = 0; room < kRooms; ++room) frames += bench::receivedBetween(venue.log(room), from, until);
    return {frames, used};
}

/// A change through the API to its frame on the line, one room after another.
std::vector<double> changes(bench::HeldVenue &venue, int round)
{
    std::vector<double> delays;
    for (int i = 0; i < kSamples; ++i) {
        const int room = i % kRooms;
        const int value = 30 + (i + round * 7) % 40;
        const double sent = bench::monotonicSeconds();
        venue.client.call("PATCH", QString("/api/v1/rooms/R%1/registers").arg(room, 2, 10, QChar('0')),
                          bench::patch(16, value));
        const double delay = bench::lineDelay(venue.log(room), 16, value, sent);
        if (!std::isnan(delay)) delays.push_back(delay);
        bench::waitFor([] { return false; }, 30);
    }
    return delays;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bench::HeldVenue venue;
    if (!venue.start(kRooms, QProcessEnvironment::systemEnvironment(), {"--verify-interval", "0"})) return 0;
    const auto [quietFrames, quietCpu] = idleWindow(venue);
    std::vector<double> without = changes(venue, 0);

    if (!venue.serve({"--verify-interval", "10"})) return 0;
    const auto [verifyFrames, verifyCpu] = idleWindow(venue);
    // Each room read whole once in the window: the frames beyond the quiet check's.
    const double readFrames = double(verifyFrames - quietFrames) / kRooms;
    const double readSeconds = readFrames * bench::kFrameRoundTrip;
    std::printf("idle, 10 s: %d frames without verification, %d with (%.1f a room's whole read, "
                "%.0f ms of its line); CPU %.2f %% against %.2f %%\n",
                quietFrames, verifyFrames, readFrames, readSeconds * 1000, verifyCpu, quietCpu);

    if (!venue.serve({"--verify-interval", "1"})) return 0;
    bench::waitFor([] { return false; }, 1500);
    std::vector<double> during = changes(venue, 1);
    // Another round of each, the other way round: a drift of the machine falls on both.
    std::vector<double> moreDuring = changes(venue, 2);
    if (!venue.serve({"--verify-interval", "0"})) return 0;
    std::vector<double> moreWithout = changes(venue, 3);
    without.insert(without.end(), moreWithout.begin(), moreWithout.end());
    during.insert(during.end(), moreDuring.begin(), moreDuring.end());
    const double ratio = bench::median(during) / bench::median(without);
    std::printf("API change to its frame: median %.1f ms during whole reads, %.1f ms without "
                "(p99 %.1f / %.1f ms, %zu / %zu changes)\n",
                bench::median(during) * 1000, bench::median(without) * 1000, bench::p99(during) * 1000,
                bench::p99(without) * 1000, during.size(), without.size());

    const double share = readSeconds / kDefaultVerifySeconds * 100;
    bench::report("verify: a room's whole read, time on its line", readSeconds * 1000, "ms",
                  "<= 1000", 1.0 / std::max(readSeconds, 0.001));
    bench::report("verify: line share while idle, every 600 s", share, "%", "<= 1", 1 / std::max(share, 0.001));
    bench::report("verify: change during reads / without (median)", ratio, "x", "<= 1.1", 1.1 / ratio);
    const double atDefault = quietCpu + (verifyCpu - quietCpu) * kWindowMs / 1000 / kDefaultVerifySeconds;
    bench::report("verify: idle CPU, 64 rooms, every 600 s", atDefault, "%", "<= 1",
                  1 / std::max(atDefault, 0.01));
    return 0;
}
