// zev720ctl at line speed: push and pull of the 56 registers against the emulator paced like
// a 9600-baud line, against the stop-and-wait line time (56 frames out, 56 replies back); the
// whole command, connect to release; diff of two ports, read side by side, against one pull.
#include "Report.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kBaud = 9600;
constexpr int kRegisters = 56;
constexpr double kFrameLineSeconds = 5 * 10.0 / kBaud;              // 5.2 ms
constexpr double kLineSeconds = 2 * kRegisters * kFrameLineSeconds; // 0.58 s
constexpr double kTargetRatio = 1.15;
constexpr double kCommandTarget = 0.40; // s, a whole push --no-verify
constexpr double kDiffTarget = 1.1;     // x one pull
constexpr int kRuns = 5;

struct Timing {
    double transfer = NAN; ///< first frame to last reply, from the tool's JSON
    double command = NAN;  ///< the whole command: start, connect, transfer, release
};

Timing run(const QString &build, const QStringList &arguments)
{
    QProcess ctl;
    const double started = bench::monotonicSeconds();
    ctl.start(build + "/zev720ctl", arguments + QStringList{"--json"});
    ctl.waitForFinished(60000);
    Timing timing;
    timing.command = bench::monotonicSeconds() - started;
    const QJsonObject result = QJsonDocument::fromJson(ctl.readAllStandardOutput()).object();
    if (ctl.exitCode() == 0) timing.transfer = result["transferSeconds"].toDouble(NAN);
    return timing;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString build = QDir(QCoreApplication::applicationDirPath()).filePath("..");
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    QProcess sim;
    sim.start(build + "/zev720-sim",
              {"--baud", QString::number(kBaud), "--link", folder.filePath("com1")});
    sim.waitForReadyRead(5000);
    const QString port = folder.filePath("com1");
    QProcess other;
    other.start(build + "/zev720-sim",
                {"--baud", QString::number(kBaud), "--link", folder.filePath("com2")});
    other.waitForReadyRead(5000);
    const QString otherPort = folder.filePath("com2");

    run(build, {"pull", port, "room.dat"}); // the file that the pushes send
    std::vector<double> noVerify, noVerifyCommand, verify, pull, pullCommand, diffCommand;
    for (int i = 0; i < kRuns; ++i) {
        pullCommand.push_back(run(build, {"pull", port, "again.dat"}).command);
        diffCommand.push_back(run(build, {"diff", port, otherPort}).command);
        const Timing fast = run(build, {"push", port, "room.dat", "--no-verify"});
        noVerify.push_back(fast.transfer);
        noVerifyCommand.push_back(fast.command);
        verify.push_back(run(build, {"push", port, "room.dat"}).transfer);
        pull.push_back(run(build, {"pull", port, "again.dat"}).transfer);
    }
    sim.terminate();
    sim.waitForFinished();
    other.terminate();
    other.waitForFinished();

    const double target = kTargetRatio * kLineSeconds;
    const double fast = bench::median(noVerify);
    std::printf("line time of 56 frames and 56 replies at %d baud: %.3f s\n", kBaud, kLineSeconds);
    bench::report("zev720ctl push --no-verify, 56 registers, 9600 baud", fast, "s",
                  "<= 1.15 x line time (0.67 s)", target / fast);
    bench::report("zev720ctl push --no-verify against the stop-and-wait line time",
                  fast / kLineSeconds, "x", "<= 1.15", kTargetRatio / (fast / kLineSeconds));
    // The emulator paces only what it sends: the replies alone are the floor of what it allows.
    const double repliesOnly = kRegisters * kFrameLineSeconds;
    bench::report("zev720ctl push --no-verify against the emulator's paced replies alone",
                  fast / repliesOnly, "x", "", NAN);
    const double command = bench::median(noVerifyCommand);
    bench::report("zev720ctl push --no-verify, whole command (connect and release included)",
                  command, "s", "<= 0.40", kCommandTarget / command);
    const double diff = bench::median(diffCommand) / bench::median(pullCommand);
    std::printf("diff of two ports %.3f s, pull of one %.3f s (whole commands)\n",
                bench::median(diffCommand), bench::median(pullCommand));
    bench::report("zev720ctl diff PORT PORT against one pull", diff, "x", "<= 1.1",
                  kDiffTarget / diff);
    bench::report("zev720ctl push with verification (write, read back)", bench::median(verify), "s",
                  "", NAN);
    bench::report("zev720ctl pull, 56 registers", bench::median(pull), "s", "", NAN);
    return 0;
}
