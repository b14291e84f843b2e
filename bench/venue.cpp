// A venue in one run: 16 rooms, each an emulator serving TCP on 127.0.0.1 paced like a
// 9600-baud line, pushed in parallel, against one room's push; the same beside 8 rooms whose
// opens nobody answers; `ports --probe` over 15 such lines; and one room through ser2net (raw
// TCP) against the same room on a pseudo-terminal.
#include "Report.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <memory>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRooms = 16;
constexpr int kRuns = 3;

struct Sim {
    QProcess process;
    QString line;
    ~Sim()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
};

std::unique_ptr<Sim> startSim(const QString &build, const QStringList &arguments)
{
    auto sim = std::make_unique<Sim>();
    sim->process.start(build + "/zev720-sim", QStringList{"--baud", "9600"} + arguments);
    sim->process.waitForReadyRead(5000);
    sim->line = QString::fromLocal8Bit(sim->process.readLine()).trimmed();
    return sim;
}

double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// 10,000 rooms whose opens nobody answers (each over at its 1.5 s deadline), under a limit of
// 1,024 open files: the whole probe against (rooms / rooms at a time) x 1.5 s, and the tool's
// CPU time per room. The rooms are addresses of a LAN of a network namespace made for it (a
// veth whose other end answers nothing): as root only.
void thousands(const QString &build, const QTemporaryDir &folder)
{
    constexpr int kMany = 10000;
    if (::geteuid() != 0 || QStandardPaths::findExecutable("unshare").isEmpty()) {
        std::printf("not root, or no unshare: no figure of 10,000 rooms\n");
        return;
    }
    QFile venue(folder.filePath("thousands.csv"));
    venue.open(QIODevice::WriteOnly);
    for (int i = 0; i < kMany; ++i)
        venue.write(QString("R%1, tcp://10.200.%2.%3:4001\n").arg(i).arg(1 + i / 250).arg(1 + i % 250).toUtf8());
    venue.close();
    const QString script =
        "ip link set lo up && ip link add v0 type veth peer name v1 && ip addr add 10.200.0.1/16 dev v0 "
        "&& ip link set v0 up && ip link set v1 up && exec prlimit --nofile=1024 \"$0\" venue \"$1\" probe";
    const double cpuBefore = childCpuSeconds();
    const double started = bench::monotonicSeconds();
    QProcess probe;
    probe.start("unshare", {"--net", "sh", "-c", script, build + "/zev720ctl", venue.fileName()});
    probe.waitForFinished(300000);
    const double wall = bench::monotonicSeconds() - started;
    const double cpu = childCpuSeconds() - cpuBefore;
    const QString last = QString::fromUtf8(probe.readAllStandardOutput()).trimmed().section('\n', -1);
    const auto atOnce = QRegularExpression("\\((\\d+) rooms at a time").match(last);
    if (!atOnce.hasMatch()) {
        std::printf("the probe of 10,000 rooms did not run as it should: %s\n", qPrintable(last));
        return;
    }
    const int rounds = (kMany + atOnce.captured(1).toInt() - 1) / atOnce.captured(1).toInt();
    const double ideal = rounds * 1.5;
    std::printf("10,000 unreachable rooms, %s at a time: %.2f s (ideal %.1f s), CPU %.2f s\n",
                qPrintable(atOnce.captured(1)), wall, ideal, cpu);
    bench::report("venue probe, 10,000 unreachable rooms under ulimit -n 1024, against rounds x 1.5 s",
                  wall / ideal, "x", "<= 1.2", 1.2 / (wall / ideal));
    bench::report("venue probe of 10,000 rooms, CPU time per room", cpu / kMany * 1000, "ms", "<= 0.5",
                  0.5 / (cpu / kMany * 1000));
}

// The whole command's wall time, and the CPU time it used.
std::pair<double, double> timed(const QString &build, const QStringList &arguments)
{
    QProcess ctl;
    const double cpuBefore = childCpuSeconds();
    const double started = bench::monotonicSeconds();
    ctl.start(build + "/zev720ctl", arguments);
    ctl.waitForFinished(120000);
    const double wall = bench::monotonicSeconds() - started;
    if (ctl.exitCode() != 0) std::printf("%s", ctl.readAllStandardError().constData());
    return {wall, childCpuSeconds() - cpuBefore};
}

double transferSeconds(const QString &build, const QString &line)
{
    QProcess ctl;
    ctl.start(build + "/zev720ctl", {"push", line, "room.dat", "--no-verify", "--json"});
    ctl.waitForFinished(60000);
    return QJsonDocument::fromJson(ctl.readAllStandardOutput())
        .object()["transferSeconds"]
        .toDouble(NAN);
}

// A listener on loopback whose backlog is full: further connection requests are dropped, as
// by a host that is switched off behind a router. Its line, tcp://127.0.0.1:PORT.
class Unreachable {
public:
    Unreachable()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY); // every address of loopback, one backlog
        socklen_t size = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size);
        ::listen(m_listener, 0);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size);
        m_port = ntohs(address.sin_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < 3; ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(s, reinterpret_cast<sockaddr *>(&address), size);
            m_filling.push_back(s);
        }
        QThread::msleep(100);
    }
    ~Unreachable()
    {
        for (int s : m_filling)
            ::close(s);
        ::close(m_listener);
    }
    /// The n-th line to it, each its own (rooms on one line are refused): 127.0.0.n.
    QString line(int n) const { return QString("tcp://127.0.0.%1:%2").arg(n).arg(m_port); }

private:
    int m_listener = -1;
    int m_port = 0;
    std::vector<int> m_filling;
};

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString build = QDir(QCoreApplication::applicationDirPath()).filePath("..");
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());

    std::vector<std::unique_ptr<Sim>> rooms;
    QString venue;
    for (int i = 0; i < kRooms; ++i) {
        rooms.push_back(startSim(build, {"--listen", "127.0.0.1:0"}));
        venue += QString("R%1, %2\n").arg(i + 1).arg(rooms.back()->line);
    }
    QFile file("venue.csv");
    file.open(QIODevice::WriteOnly);
    file.write(venue.toUtf8());
    file.close();
    QProcess::execute(build + "/zev720ctl", {"pull", rooms[0]->line, "room.dat"});

    std::vector<double> one, all, cpu;
    for (int run = 0; run < kRuns; ++run) {
        one.push_back(timed(build, {"push", rooms[0]->line, "room.dat", "--no-verify"}).first);
        const auto [wall, used] =
            timed(build, {"venue", "venue.csv", "push", "room.dat", "--no-verify"});
        all.push_back(wall);
        cpu.push_back(used / kRooms);
    }
    const double ratio = bench::median(all) / bench::median(one);
    std::printf("one room %.3f s, %d rooms %.3f s\n", bench::median(one), kRooms,
                bench::median(all));
    bench::report("venue push --no-verify, 16 rooms against one room's push", ratio, "x", "<= 1.3",
                  1.3 / ratio);
    bench::report("venue push --no-verify, CPU time per room", bench::median(cpu) * 1000, "ms", "",
                  NAN);

    // The same rooms beside 8 whose opens nobody answers: all opens wait at the same time.
    Unreachable unreachable;
    QString mixed = venue;
    for (int i = 0; i < 8; ++i)
        mixed += QString("U%1, %2\n").arg(i + 1).arg(unreachable.line(i + 1));
    QFile mixedFile("mixed.csv");
    mixedFile.open(QIODevice::WriteOnly);
    mixedFile.write(mixed.toUtf8());
    mixedFile.close();
    std::vector<double> withDead;
    for (int run = 0; run < kRuns; ++run)
        withDead.push_back(
            timed(build, {"venue", "mixed.csv", "push", "room.dat", "--no-verify"}).first);
    const double deadTarget = 1.5 + bench::median(one);
    std::printf("16 rooms and 8 unreachable ones %.3f s (target 1.5 s + one room's %.3f s)\n",
                bench::median(withDead), bench::median(one));
    bench::report("venue push, 16 rooms + 8 unreachable", bench::median(withDead), "s",
                  "<= 1.5 s + one room's push", deadTarget / bench::median(withDead));

    // ports --probe over 15 lines that nobody answers.
    QFile ports("ZEV720.ports");
    ports.open(QIODevice::WriteOnly);
    for (int n = 1; n <= 15; ++n)
        ports.write(QString("%1 = %2\n").arg(n).arg(unreachable.line(n)).toUtf8());
    ports.close();
    std::vector<double> probe;
    for (int run = 0; run < kRuns; ++run)
        probe.push_back(timed(build, {"ports", "--probe"}).first);
    QFile::remove("ZEV720.ports");
    bench::report("ports --probe, 15 unreachable lines", bench::median(probe), "s", "<= 2",
                  2.0 / bench::median(probe));
    rooms.clear();

    // One room through ser2net (raw TCP) against the same room on a pseudo-terminal.
    thousands(build, folder);
    if (QStandardPaths::findExecutable("ser2net").isEmpty()) {
        std::printf("ser2net is not installed: no ser2net figure\n");
        return 0;
    }
    auto pty = startSim(build, {});
    const int port = freePort();
    QFile config("ser2net.yaml");
    config.open(QIODevice::WriteOnly);
    config.write(QString("connection: &raw\n  accepter: tcp(nodelay),127.0.0.1,%1\n"
                         "  connector: serialdev,%2,9600n81,local\n"
                         "  options:\n    chardelay: false\n")
                     .arg(port)
                     .arg(pty->line)
                     .toUtf8());
    config.close();
    QProcess ser2net;
    ser2net.start("ser2net", {"-n", "-u", "-c", "ser2net.yaml", "-P", folder.filePath("pid")});
    for (int i = 0; i < 100; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (socket.waitForConnected(100)) break;
        QThread::msleep(20);
    }
    std::vector<double> direct, served;
    for (int run = 0; run < kRuns + 2; ++run) {
        direct.push_back(transferSeconds(build, pty->line));
        served.push_back(transferSeconds(build, QString("tcp://127.0.0.1:%1").arg(port)));
    }
    ser2net.terminate();
    ser2net.waitForFinished();
    const double through = bench::median(served) / bench::median(direct);
    std::printf("push on the terminal %.3f s, through ser2net %.3f s\n", bench::median(direct),
                bench::median(served));
    bench::report("push through ser2net (raw TCP) against the terminal", through, "x", "<= 1.1",
                  1.1 / through);
    return 0;
}
