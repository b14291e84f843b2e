// The live link against the emulator pacing its output like a 9600-baud line, with the real
// poll timer at its default 20 ms: bulk transfers, slider-to-line delay and idle CPU.
#include "Report.h"
#include "settings/PortSettings.h"
#include "ui/Main.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSlider>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <ctime>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kBaud = 9600;
constexpr double kFrameLineMs = 5 * 10 * 1000.0 / kBaud; // 5 bytes of 10 bits
constexpr int kTickTarget = 58;
constexpr int kMoves = 150;
constexpr int kIdleSeconds = 10;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Frames the emulator received, as (time, address, value), from its log.
struct Received {
    double time;
    int address, value;
};
std::vector<Received> received(const QString &log)
{
    std::vector<Received> frames;
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly)) return frames;
    while (!file.atEnd()) {
        const QList<QByteArray> parts = file.readLine().trimmed().split(' ');
        if (parts.size() == 7 && parts[1] == "rx")
            frames.push_back(
                {parts[0].toDouble(), parts[3].toInt(nullptr, 16), parts[4].toInt(nullptr, 16)});
    }
    return frames;
}

// Runs the event loop until `done` holds (checked every millisecond) or the time is up;
// returns the ticks of Timer1 meanwhile.
int ticksUntil(TMainForm &form, const std::function<bool()> &done, int timeoutMs = 20000)
{
    int ticks = 0;
    QEventLoop loop;
    const auto counter = QObject::connect(form.Timer1, &QTimer::timeout, [&] { ++ticks; });
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!done()) {
        check.start(1);
        loop.exec();
    }
    QObject::disconnect(counter);
    return ticks;
}

// The event loop alone for a while, as a person leaves the panel.
void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    const auto index = std::size_t(
        std::min<double>(double(values.size() - 1), p * double(values.size() - 1) + 0.5));
    return values[index];
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QString log = dir.filePath("frames.log");
    QProcess sim;
    sim.start(QCoreApplication::applicationDirPath() + "/../zev720-sim",
              {"--baud", QString::number(kBaud), "--log", log});
    if (!sim.waitForStarted() || !sim.waitForReadyRead(5000)) return 1;
    qputenv("ZEV720_COM1", sim.readLine().trimmed());

    TMainForm form; // starts as the program does: connected, real-time control on
    form.show();
    if (!form.isConnected()) form.CommunicationBitBtnClick();
    if (!form.model().realTime) form.RunCtlDataBitBtnClick();
    if (!form.isConnected()) {
        std::printf("no link to the emulator\n");
        return 1;
    }
    const double interval = form.Timer1->interval();
    const auto idle = [&] { return form.model().pendingCount() == 0; };
    idleFor(200);

    // Bulk transfers: ticks against the floor of one register a tick.
    const double lineMs = zev::kTransferSetSize * 2 * kFrameLineMs;
    for (const bool read : {false, true}) {
        QElapsedTimer clock;
        clock.start();
        read ? form.LoadMachineBitBtnClick() : form.SendAllBitBtnClick();
        const int ticks = ticksUntil(form, idle);
        const double ms = double(clock.elapsed());
        const std::string name = read ? "read-back" : "send-all";
        std::printf("%s: %d ticks, %.0f ms; 56 round trips on a 9600-baud line: %.0f ms\n",
                    name.c_str(), ticks, ms, lineMs);
        bench::report(name + " of 56 registers, ticks", ticks, "ticks", "<= 58 (floor 56)",
                      double(kTickTarget) / ticks);
        bench::report(name + " of 56 registers, time", ms, "ms",
                      "<= 58 ticks of " + std::to_string(int(interval)) + " ms",
                      kTickTarget * interval / ms);
        bench::report(name + " time / 9600-baud line time", ms / lineMs, "x", "-", NAN);
    }

    // Slider moves at random moments: how long until the frame is on the line.
    QSlider *bar = form.trackBar(50);
    std::vector<double> delays;
    QRandomGenerator random(720);
    for (int move = 0; move < kMoves; ++move) {
        idleFor(int(random.bounded(120))); // any phase against the ticks and the cursor
        const int position = bar->value() == 0 ? 50 : bar->value() - 1;
        const double movedAt = bench::monotonicSeconds();
        bar->setValue(position);
        const int value = 50 - position;
        ticksUntil(form, [&] {
            const auto frames = received(log);
            return !frames.empty() && frames.back().address == 50 && frames.back().value == value;
        });
        delays.push_back((received(log).back().time - movedAt) * 1000.0);
        ticksUntil(form, idle);
    }
    const double bound = interval + kFrameLineMs;
    const double within =
        double(std::count_if(delays.begin(), delays.end(), [&](double d) { return d <= bound; })) /
        double(delays.size());
    std::printf("slider to line: median %.2f ms, 99th percentile %.2f ms, worst %.2f ms, "
                "bound %.1f ms, %.1f%% within\n",
                percentile(delays, 0.5), percentile(delays, 0.99),
                *std::max_element(delays.begin(), delays.end()), bound, within * 100);
    bench::report("slider move to line, median", percentile(delays, 0.5), "ms",
                  "<= interval + frame time", bound / percentile(delays, 0.5));
    bench::report("slider move to line, 99th percentile", percentile(delays, 0.99), "ms",
                  "<= interval + frame time", bound / percentile(delays, 0.99));

    // A connected panel with nothing to do.
    const double cpuBefore = cpuSeconds();
    idleFor(kIdleSeconds * 1000);
    const double share = (cpuSeconds() - cpuBefore) / kIdleSeconds * 100.0;
    bench::report("idle CPU of a connected panel", share, "% core", "< 1% of one core",
                  1.0 / std::max(share, 1e-3));

    ::kill(pid_t(sim.processId()), SIGTERM);
    sim.waitForFinished();
    return 0;
}
