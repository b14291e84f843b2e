// The venue server under the crowds of the LAN, beside a front desk that must keep being
// served: every 100 ms the desk asks for /api/v1/server on a new connection, and an answer
// within 1 s counts. Three crowds, one after the other, every client on this machine's
// loopback (each crowd from addresses of its own in 127.0.0.0/8):
//   slowloris         1,000 connections dripping a request's head, a line a second, each
//                     opened again as soon as the server closes it
//   unread answers    120 clients pipelining 200 requests for a page each, reading nothing
//   login flood       wrong logins from 60 places (through a trusted proxy's X-Forwarded-For,
//                     as the LAN's machines reach a server behind one), half of them for the
//                     desk's own name, each sent again as soon as it is answered; the desk
//                     user, who has logged in from its PC before, logs in meanwhile
// The server's resident memory is sampled every 100 ms. ZEV_BENCH_SERVER names another
// zev720d to measure (an older build, for a before-and-after); one without --trusted-proxy
// gets its login flood from 60 loopback addresses instead.
#include "Report.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kRooms = 4;
constexpr int kSlowClients = 1000;
constexpr int kGreedyClients = 120;
constexpr int kPipelined = 200;
constexpr int kFloodPlaces = 60;
constexpr double kPhaseSeconds = 20;

void spin(double seconds, const std::function<bool()> &done = [] { return false; })
{
    const double until = bench::monotonicSeconds() + seconds;
    while (!done() && bench::monotonicSeconds() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QString loopback(int block, int host)
{
    return QString("127.0.%1.%2").arg(block).arg(host);
}

// The desk's requests and what came of them.
struct Desk {
    quint16 port = 0;
    QByteArray token;
    int asked = 0, inTime = 0;
    std::vector<double> latencies;
    QTimer timer;

    void start()
    {
        asked = inTime = 0;
        latencies.clear();
        QObject::connect(&timer, &QTimer::timeout, [this] { ask(); });
        timer.start(100);
    }
    void stop() { timer.stop(); QObject::disconnect(&timer, nullptr, nullptr, nullptr); }
    double share() const { return asked ? 100.0 * inTime / asked : NAN; }

    void ask()
    {
        ++asked;
        auto *socket = new QTcpSocket;
        socket->bind(QHostAddress("127.0.0.2"), 0);
        const double sent = bench::monotonicSeconds();
        auto *got = new QByteArray;
        QObject::connect(socket, &QTcpSocket::connected, socket, [this, socket] {
            socket->write("GET /api/v1/server HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                          "\r\nAuthorization: Bearer " + token + "\r\nConnection: close\r\n\r\n");
        });
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, sent, got] {
            *got += socket->readAll();
            if (got->startsWith("HTTP/1.1 200") && got->contains("\r\n\r\n")) {
                const double took = bench::monotonicSeconds() - sent;
                latencies.push_back(took);
                inTime += took <= 1.0;
                socket->abort();
            }
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [socket, got] {
            delete got;
            socket->deleteLater();
        });
        QTimer::singleShot(1500, socket, [socket] { socket->abort(); });
        socket->connectToHost(QHostAddress::LocalHost, port);
    }
};

// A crowd of clients, each opened again as soon as the server closes it.
struct Crowd {
    std::function<void(QTcpSocket *)> begin; ///< what a client sends once connected
    std::vector<QString> from;
    quint16 port = 0;
    bool running = true;
    int opened = 0;
    std::vector<QTcpSocket *> sockets;

    void open(std::size_t i)
    {
        if (!running) return;
        auto *socket = new QTcpSocket;
        ++opened;
        socket->bind(QHostAddress(from[i % from.size()]), 0);
        QObject::connect(socket, &QTcpSocket::connected, socket, [this, socket] { begin(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket, i] {
            socket->deleteLater();
            sockets[i] = nullptr;
            QTimer::singleShot(0, [this, i] { open(i); });
        });
        QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [this, socket, i] {
            if (socket->state() == QAbstractSocket::UnconnectedState && sockets[i] == socket) {
                socket->deleteLater();
                sockets[i] = nullptr;
                QTimer::singleShot(50, [this, i] { open(i); });
            }
        });
        sockets[i] = socket;
        socket->connectToHost(QHostAddress::LocalHost, port);
    }
    void start(std::size_t count)
    {
        sockets.assign(count, nullptr);
        for (std::size_t i = 0; i < count; ++i) open(i);
    }
    void stop()
    {
        running = false;
        for (QTcpSocket *socket : sockets)
            if (socket) {
                QObject::disconnect(socket, nullptr, nullptr, nullptr);
                socket->abort();
                socket->deleteLater();
            }
        sockets.clear();
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    const QString build = QCoreApplication::applicationDirPath() + "/..";
    const QString zev720d = qEnvironmentVariableIsSet("ZEV_BENCH_SERVER")
                                ? qEnvironmentVariable("ZEV_BENCH_SERVER")
                                : build + "/zev720d";
    QTemporaryDir dir;
    std::vector<std::unique_ptr<QProcess>> sims;
    QString venue = "room, line\n";
    for (int i = 0; i < kRooms; ++i) {
        auto sim = std::make_unique<QProcess>();
        sim->start(build + "/zev720-sim", {"--listen", "127.0.0.1:0"});
        sim->waitForReadyRead(5000);
        venue += QString("R%1, %2\n").arg(i).arg(QString(sim->readLine()).trimmed());
        sims.push_back(std::move(sim));
    }
    QFile file(dir.filePath("venue.csv"));
    file.open(QIODevice::WriteOnly);
    file.write(venue.toUtf8());
    file.close();
    const QString state = dir.filePath("state");
    for (const char *user : {"bench", "front"}) {
        QProcess add;
        add.start(zev720d, {"user", "add", user, "--role", "technician", "--state", state});
        add.write(QByteArray(user) + "-password\n");
        add.closeWriteChannel();
        add.waitForFinished(20000);
    }
    QProcess token;
    token.start(zev720d, {"token", "add", "bench", "run", "--state", state});
    token.waitForFinished(10000);
    QProcess help;
    help.start(zev720d, {"--help"});
    help.waitForFinished(5000);
    const bool proxied = help.readAllStandardOutput().contains("--trusted-proxy");

    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments{"--venue", dir.filePath("venue.csv"), "--state", state, "--listen",
                          "127.0.0.1:0"};
    if (proxied) arguments << "--trusted-proxy" << "127.0.0.1";
    server.start(zev720d, arguments);
    QByteArray out;
    spin(60, [&] {
        out += server.readAll();
        return out.count(": online") >= kRooms;
    });
    const auto match = QRegularExpression("API: http://127.0.0.1:(\\d+)/").match(QString(out));
    Desk desk;
    desk.port = quint16(match.captured(1).toUInt());
    desk.token = token.readAllStandardOutput().trimmed();
    if (out.count(": online") < kRooms || !desk.port) {
        std::printf("the server did not hold %d rooms:\n%s", kRooms, out.constData());
        return 0;
    }
    const qint64 pid = server.processId();
    double peak = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { peak = std::max(peak, bench::residentMegabytes(pid)); });
    sampler.start(100);
    const double idle = bench::residentMegabytes(pid);
    std::printf("%s: resident %.1f MB idle\n", qPrintable(zev720d), idle);

    // Slowloris.
    Crowd slow;
    slow.port = desk.port;
    for (int host = 1; host <= 32; ++host) slow.from.push_back(loopback(1, host));
    QTimer drip;
    slow.begin = [&](QTcpSocket *socket) { socket->write("GET /api/v1/server HTTP/1.1\r\n"); };
    QObject::connect(&drip, &QTimer::timeout, [&] {
        for (QTcpSocket *socket : slow.sockets)
            if (socket && socket->state() == QAbstractSocket::ConnectedState) socket->write("X-Drip: 1\r\n");
    });
    slow.start(kSlowClients);
    drip.start(1000);
    spin(2);
    peak = 0;
    desk.start();
    spin(kPhaseSeconds);
    desk.stop();
    drip.stop();
    const double slowShare = desk.share(), slowPeak = peak;
    std::printf("slowloris: %d connections opened; the desk answered within 1 s %d of %d (%.1f %%), "
                "median %.0f ms; resident peak %.1f MB\n",
                slow.opened, desk.inTime, desk.asked, slowShare, bench::median(desk.latencies) * 1000,
                slowPeak);
    slow.stop();
    spin(2);

    // Answers never read.
    Crowd greedy;
    greedy.port = desk.port;
    for (int host = 1; host <= kGreedyClients; ++host) greedy.from.push_back(loopback(2, host));
    QByteArray pipelined;
    for (int i = 0; i < kPipelined; ++i)
        pipelined += "GET /js/room.js HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(desk.port) + "\r\n\r\n";
    greedy.begin = [&](QTcpSocket *socket) {
        socket->setReadBufferSize(1);
        socket->write(pipelined);
    };
    greedy.start(kGreedyClients);
    spin(2);
    peak = 0;
    desk.start();
    spin(kPhaseSeconds);
    desk.stop();
    const double greedyShare = desk.share(), greedyPeak = peak;
    greedy.stop();
    spin(5);
    const double after = bench::residentMegabytes(pid);
    std::printf("unread answers: the desk answered within 1 s %d of %d (%.1f %%), median %.0f ms; "
                "resident peak %.1f MB, %.1f MB 5 s after\n",
                desk.inTime, desk.asked, greedyShare, bench::median(desk.latencies) * 1000, greedyPeak,
                after);

    // A login flood beside the desk user, who has logged in from its PC before.
    const QByteArray deskPlace = "198.51.100.20";
    auto login = [&](QTcpSocket *socket, const QByteArray &user, const QByteArray &password,
                     const QByteArray &place) {
        const QByteArray body = R"({"user":")" + user + R"(","password":")" + password + R"("})";
        socket->write("POST /api/v1/login HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(desk.port) +
                      "\r\nContent-Type: application/json\r\nConnection: close\r\n" +
                      (proxied ? "X-Forwarded-For: " + place + "\r\n" : QByteArray()) +
                      "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    };
    // The desk's login: the status of its answer, after up to 10 s.
    const auto deskLogin = [&] {
        QTcpSocket socket;
        socket.bind(QHostAddress("127.0.0.2"), 0);
        socket.connectToHost(QHostAddress::LocalHost, desk.port);
        spin(2, [&] { return socket.state() == QAbstractSocket::ConnectedState; });
        login(&socket, "front", "front-password", deskPlace);
        QByteArray answer;
        spin(10, [&] {
            answer += socket.readAll();
            return answer.contains("\r\n\r\n");
        });
        return answer.mid(9, 3).toInt();
    };
    std::printf("the desk's first login: %d\n", deskLogin());
    Crowd flood;
    flood.port = desk.port;
    int guesses = 0;
    for (int host = 1; host <= kFloodPlaces; ++host)
        flood.from.push_back(proxied ? "127.0.0.1" : loopback(3, host));
    flood.begin = [&](QTcpSocket *socket) {
        ++guesses;
        const QByteArray place = "203.0.113." + QByteArray::number(guesses % kFloodPlaces + 1);
        login(socket, guesses % 2 ? QByteArray("front") : "guess" + QByteArray::number(guesses), "wrong", place);
    };
    flood.start(kFloodPlaces);
    spin(3);
    peak = 0;
    const double tried = bench::monotonicSeconds();
    int refusals = 0, status = 0;
    while ((status = deskLogin()) != 200 && bench::monotonicSeconds() - tried < 30) {
        ++refusals;
        spin(1);
    }
    const double loginSeconds = bench::monotonicSeconds() - tried;
    spin(2);
    flood.stop();
    std::printf("login flood: %d wrong logins from %d places; the desk user got in after %.2f s "
                "(%d refused first, last status %d); resident peak %.1f MB\n",
                guesses, kFloodPlaces, loginSeconds, refusals, status, peak);

    server.terminate();
    server.waitForFinished(10000);
    for (auto &sim : sims) {
        sim->terminate();
        sim->waitForFinished(3000);
    }
    bench::report("attack: desk answered within 1 s beside 1,000 slowloris clients", slowShare, "%",
                  ">= 95", slowShare / 95);
    bench::report("attack: server resident peak beside slowloris", slowPeak, "MB", "< 64", 64 / slowPeak);
    bench::report("attack: desk answered within 1 s beside 120 clients not reading", greedyShare, "%",
                  ">= 95", greedyShare / 95);
    bench::report("attack: server resident peak beside clients not reading", greedyPeak, "MB", "< 64",
                  64 / greedyPeak);
    bench::report("attack: server resident 5 s after the clients not reading", after, "MB", "", NAN);
    bench::report("attack: a known desk user's login beside a flood from 60 places", loginSeconds, "s",
                  "<= 5", status == 200 ? 5 / std::max(loginSeconds, 0.01) : 0);
    return 0;
}
