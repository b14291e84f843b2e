// The whole-room verify read of 64 rooms, each an emulator on TCP paced like a 9600-baud line,
// held by zev720d. The same rooms held three times:
//   verification off: the frames of an idle line (the quiet check alone), and a change's time
//     from the API to its frame on the line;
//   every room read whole every 5 s: the frames a whole read adds (its time on the line, and
//     its share of the line at the default 600 s) and the CPU the reads add to the server's
//     idle (at the default 600 s: the idle CPU without, and a sixtieth of what they add);
//   every room read whole every 2 s (64 rooms, then one held alone): a change's time from the API to its frame on the line,
//     those sent while their room's whole read was under way (reads on its line in the 100 ms
//     before and after: the read leaves gaps between its reads for changes) against those sent
//     while it was not.
#include "Held.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kRooms = 64;
constexpr std::size_t kSamples = 60;
constexpr int kWindowMs = 10000;
constexpr int kDefaultVerifySeconds = 600;

/// The frames every room received while idle for the window, and the server's CPU in it (%).
std::pair<int, double> idleWindow(bench::HeldVenue &venue)
{
    bench::waitFor([] { return false; }, 1000);
    const double cpu = bench::processSeconds(venue.server.processId());
    double sims = 0;
    for (const auto &sim : venue.sims) sims -= bench::processSeconds(sim->processId());
    const double from = bench::monotonicSeconds();
    bench::waitFor([] { return false; }, kWindowMs);
    const double until = bench::monotonicSeconds();
    for (const auto &sim : venue.sims) sims += bench::processSeconds(sim->processId());
    std::printf("the %d emulators: %.1f %% of a core\n", kRooms, sims / (until - from) * 100);
    const double used = (bench::processSeconds(venue.server.processId()) - cpu) / (until - from) * 100;
    int frames = 0;
    for (int room = 0; room < kRooms; ++room) frames += bench::receivedBetween(venue.log(room), from, until);
    return {frames, used};
}

struct Change {
    double answered; ///< the API's answer, once the processor confirmed it: what the user waits for
    double line;     ///< its frame on the line
};

/// Changes through the API, one room after another, each as sent during its room's whole read
/// or not, until there are kSamples of each.
void changes(bench::HeldVenue &venue, std::vector<Change> &during, std::vector<Change> &without)
{
    for (std::size_t i = 0; i < 20 * kSamples && (during.size() < kSamples || without.size() < kSamples); ++i) {
        const int room = int(i % venue.sims.size());
        const int value = 30 + int(i % 40);
        const double sent = bench::monotonicSeconds();
        venue.client.call("PATCH", QString("/api/v1/rooms/R%1/registers").arg(room, 2, 10, QChar('0')),
                          bench::patch(16, value));
        const double answered = bench::monotonicSeconds() - sent;
        const double line = bench::lineDelay(venue.log(room), 16, value, sent);
        if (std::isnan(line)) continue;
        const bool reading = bench::receivedBetween(venue.log(room), sent - 0.1, sent, true) > 0 &&
                             bench::receivedBetween(venue.log(room), sent, sent + 0.1, true) > 0;
        std::vector<Change> &into = reading ? during : without;
        if (into.size() < kSamples) into.push_back({answered, line});
        bench::waitFor([] { return false; }, 10 + 50 / int(venue.sims.size())); // a room ~16 a second at most
    }
}

std::vector<double> each(const std::vector<Change> &changes, double Change::*field)
{
    std::vector<double> out;
    for (const Change &change : changes) out.push_back(change.*field);
    return out;
}

/// A change confirmed during its room's whole read against without, medians (frames on the line
/// printed too).
double changeRatio(bench::HeldVenue &venue)
{
    bench::waitFor([] { return false; }, 1500);
    std::vector<Change> during, without;
    changes(venue, during, without);
    const auto figures = [&](const char *what, double Change::*field) {
        const std::vector<double> a = each(during, field), b = each(without, field);
        std::printf("%zu rooms, API change to %s: median %.2f ms during its room's whole read, %.2f ms "
                    "without (p99 %.1f / %.1f ms, %zu / %zu changes)\n",
                    venue.sims.size(), what, bench::median(a) * 1000, bench::median(b) * 1000,
                    bench::p99(a) * 1000, bench::p99(b) * 1000, a.size(), b.size());
        return bench::median(a) / bench::median(b);
    };
    figures("its frame on the line", &Change::line);
    return figures("its answer (confirmed)", &Change::answered);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bench::HeldVenue venue;
    if (!venue.start(kRooms, QProcessEnvironment::systemEnvironment(), {"--verify-interval", "0"})) return 0;
    const auto [quietFrames, quietCpu] = idleWindow(venue);

    // Each room's first whole read 5 s after it is held, about 3.5 s long: one in the window.
    if (!venue.serve({"--verify-interval", "5"})) return 0;
    const auto [verifyFrames, verifyCpu] = idleWindow(venue);
    // Each room read whole once in the window: the frames beyond the quiet check's.
    const double readFrames = double(verifyFrames - quietFrames) / kRooms;
    const double readSeconds = readFrames * bench::kFrameRoundTrip;
    std::printf("idle, 10 s: %d frames without verification, %d with (%.1f a room's whole read, "
                "%.0f ms of its line); CPU %.2f %% against %.2f %%\n",
                quietFrames, verifyFrames, readFrames, readSeconds * 1000, verifyCpu, quietCpu);

    if (!venue.serve({"--verify-interval", "2"})) return 0;
    const double ratio = changeRatio(venue);
    // The same with one room held alone: what its own whole read costs its changes, without
    // 63 other rooms' reads on the same server and machine.
    bench::HeldVenue alone;
    if (!alone.start(1, QProcessEnvironment::systemEnvironment(), {"--verify-interval", "2"})) return 0;
    const double aloneRatio = changeRatio(alone);

    const double share = readSeconds / kDefaultVerifySeconds * 100;
    bench::report("verify: a room's whole read, time on its line", readSeconds * 1000, "ms",
                  "<= 1000", 1.0 / std::max(readSeconds, 0.001));
    bench::report("verify: line share while idle, every 600 s", share, "%", "<= 1", 1 / std::max(share, 0.001));
    bench::report("verify: change confirmed during its room's whole read / without, 64 rooms (median)", ratio,
                  "x", "<= 1.1", 1.1 / ratio);
    bench::report("verify: the same, one room held alone (median)", aloneRatio, "x", "<= 1.1", 1.1 / aloneRatio);
    const double atDefault = quietCpu + (verifyCpu - quietCpu) * kWindowMs / 1000 / kDefaultVerifySeconds;
    bench::report("verify: idle CPU, 64 rooms, every 600 s", atDefault, "%", "<= 1",
                  1 / std::max(atDefault, 0.01));
    return 0;
}
