// One line of the benchmark report, as bench/run collects it from every benchmark's output:
//   FIGURE {"figure": ..., "value": ..., "unit": ..., "target": ..., "ratio": ...}
// `ratio` is the figure against its target, so that 1 or more always means "met"; a figure
// without a target (NaN) has the ratio null.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

/// The monotonic clock in seconds: the clock of the emulator's log and the panel's reports.
inline double monotonicSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

/// The middle of the values (the upper middle of an even count); NaN without values.
inline double median(std::vector<double> values)
{
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

/// A process's resident memory in MB from /proc: "VmRSS:" now, "VmHWM:" its peak; NaN when
/// the process is gone.
inline double residentMegabytes(long long pid, const char *field = "VmRSS:")
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::stod(line.substr(std::strlen(field))) / 1024;
    return NAN;
}

inline void report(const std::string &figure, double value, const std::string &unit,
                   const std::string &target, double ratio)
{
    char ratioText[32] = "null";
    if (!std::isnan(ratio)) std::snprintf(ratioText, sizeof ratioText, "%.3g", ratio);
    std::printf(
        "FIGURE {\"figure\": \"%s\", \"value\": %.4g, \"unit\": \"%s\", \"target\": \"%s\", "
        "\"ratio\": %s}\n",
        figure.c_str(), value, unit.c_str(), target.c_str(), ratioText);
    std::fflush(stdout);
}

} // namespace bench
