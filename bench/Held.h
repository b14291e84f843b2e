// A venue for the server's benchmarks: N emulators serving TCP on 127.0.0.1 paced like a
// 9600-baud line, each logging its frames, held by a zev720d with a technician's token, and a
// plain HTTP client of its API.
#pragma once

#include "Report.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <functional>
#include <unistd.h>
#include <memory>
#include <vector>

namespace bench {

// Ten bytes each way of a frame and its reply at 9600 baud, 10 bits a byte.
constexpr double kFrameRoundTrip = 10.0 * 10 / 9600;

/// The CPU seconds a process has used.
inline double processSeconds(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return NAN;
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    return (fields.value(12).toDouble() + fields.value(13).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

/// Runs the event loop until `done` or `ms` pass. It sleeps between events (a 1 ms timer wakes it
/// to look at `done`), so that the benchmark takes no core from the server it measures.
inline void waitFor(const std::function<bool()> &done, int ms)
{
    const double until = monotonicSeconds() + ms / 1000.0;
    QTimer look;
    look.start(1);
    while (!done() && monotonicSeconds() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

inline double p99(std::vector<double> values)
{
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(std::ceil(double(values.size()) * 0.99)) - 1)];
}

struct Client {
    QNetworkAccessManager manager;
    QByteArray token;
    quint16 port = 0;

    int call(const QByteArray &method, const QString &path, const QByteArray &body = {},
             QByteArray *out = nullptr)
    {
        QNetworkRequest request{QUrl(QString("http://127.0.0.1:%1%2").arg(port).arg(path))};
        request.setRawHeader("Authorization", "Bearer " + token);
        request.setRawHeader("Content-Type", "application/json");
        QNetworkReply *reply = manager.sendCustomRequest(request, method, body);
        waitFor([reply] { return reply->isFinished(); }, 30000);
        if (out) *out = reply->readAll();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        reply->deleteLater();
        return status;
    }
};

/// Rooms R00, R01, ... each on an emulator whose frames go to DIR/roomN.log.
struct HeldVenue {
    QString build = QCoreApplication::applicationDirPath() + "/..";
    QTemporaryDir dir;
    std::vector<std::unique_ptr<QProcess>> sims;
    QProcess server;
    Client client; ///< a technician's
    QString state = dir.filePath("state");

    QString log(int room) const { return dir.filePath(QString("room%1.log").arg(room)); }

    /// A user of the role and a token of theirs.
    QByteArray addUser(const QString &name, const QString &role)
    {
        QProcess add;
        add.start(build + "/zev720d", {"user", "add", name, "--role", role, "--state", state});
        add.write("bench-password\n");
        add.closeWriteChannel();
        add.waitForFinished(20000);
        QProcess token;
        token.start(build + "/zev720d", {"token", "add", name, "run", "--state", state});
        token.waitForFinished(10000);
        return token.readAllStandardOutput().trimmed();
    }

    /// False, having said why, when the server did not hold every room.
    bool start(int rooms, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
               const QStringList &extra = {})
    {
        QString venue = "room, line\n";
        for (int i = 0; i < rooms; ++i) {
            auto sim = std::make_unique<QProcess>();
            sim->start(build + "/zev720-sim", {"--listen", "127.0.0.1:0", "--baud", "9600", "--log", log(i)});
            sim->waitForReadyRead(5000);
            venue += QString("R%1, %2\n").arg(i, 2, 10, QChar('0')).arg(QString(sim->readLine()).trimmed());
            sims.push_back(std::move(sim));
        }
        QFile file(dir.filePath("venue.csv"));
        file.open(QIODevice::WriteOnly);
        file.write(venue.toUtf8());
        file.close();
        client.token = addUser("bench", "technician");
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.setProcessEnvironment(environment);
        return serve(extra);
    }

    /// The server (again, once the last one has ended) with these options besides.
    bool serve(const QStringList &extra = {})
    {
        if (server.state() != QProcess::NotRunning) {
            server.terminate();
            server.waitForFinished(20000);
        }
        const int rooms = int(sims.size());
        server.start(build + "/zev720d", QStringList{"--venue", dir.filePath("venue.csv"), "--state", state,
                                                     "--listen", "127.0.0.1:0"} + extra);
        QByteArray out;
        waitFor([&] {
            out += server.readAll();
            return out.count(": online") >= rooms;
        }, 60000);
        const auto match = QRegularExpression("API: http://127.0.0.1:(\\d+)/").match(QString(out));
        client.port = quint16(match.captured(1).toUInt());
        if (out.count(": online") < rooms || !client.port) {
            std::printf("the server did not hold %d rooms:\n%s", rooms, out.constData());
            return false;
        }
        return true;
    }

    ~HeldVenue()
    {
        server.terminate();
        server.waitForFinished(10000);
        for (auto &sim : sims) {
            sim->terminate();
            sim->waitForFinished(3000);
        }
    }
};

/// A PATCH of one register's value.
inline QByteArray patch(int address, int value)
{
    return QString(R"({"registers":[{"address":%1,"value":%2}]})").arg(address).arg(value).toUtf8();
}

/// The monotonic times at which the emulator received a write of `value` to `address`.
inline std::vector<double> received(const QString &log, int address, int value)
{
    std::vector<double> times;
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly)) return times;
    const QByteArray frame = QString("rx FE %1 %2 ")
                                 .arg(address, 2, 16, QChar('0'))
                                 .arg(value, 2, 16, QChar('0'))
                                 .toUpper()
                                 .replace("RX FE", "rx FE")
                                 .toUtf8();
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.contains(frame)) times.push_back(line.split(' ').first().toDouble());
    return times;
}

/// The frames the emulator received between two monotonic times; only the reads (a request's
/// value FC) when `reads`.
inline int receivedBetween(const QString &log, double from, double until, bool reads = false)
{
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly)) return 0;
    int count = 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype space = line.indexOf(' ');
        if (space < 0 || line.mid(space + 1, 3) != "rx ") continue;
        if (reads && line.mid(space + 1, 11).right(2) != "FC") continue; // "rx FE AA FC"
        const double at = line.left(space).toDouble();
        count += at >= from && at < until;
    }
    return count;
}

/// When the emulator received a write of `value` to `address` first after `sent`, less `sent`;
/// NAN when it did not.
inline double lineDelay(const QString &log, int address, int value, double sent)
{
    double first = NAN;
    for (const double t : received(log, address, value))
        if (t >= sent && (std::isnan(first) || t < first)) first = t;
    return std::isnan(first) ? NAN : first - sent;
}

} // namespace bench
