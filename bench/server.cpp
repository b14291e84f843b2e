// The venue server in one run: 64 rooms, each an emulator serving TCP on 127.0.0.1 paced like a
// 9600-baud line, held by zev720d. Measured: a change through the API to its frame on the
// line with the room otherwise idle; the fan-out of a stream of 50 changes a second to 50
// WebSocket clients; the server's CPU and memory while idle; a preset recall into 16 rooms
// against one room; a desk user's change with 20 limits in force against none.
#include "Held.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

using bench::p99;
using bench::patch;
using bench::received;
using bench::waitFor;

constexpr int kRooms = 64;
constexpr int kClients = 50;
constexpr int kChangesPerSecond = 50;
constexpr int kStreamSeconds = 6;
constexpr int kSamples = 60;
using bench::kFrameRoundTrip;
using bench::processSeconds;
const std::vector<int> kVolumes{16, 17, 32, 33, 80, 81, 85, 86};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    bench::HeldVenue venue;
    bench::Client desk; // a front desk user's: the limits hold its changes
    desk.token = venue.addUser("front", "desk");
    if (!venue.start(kRooms)) return 0;
    desk.port = venue.client.port;
    bench::Client &client = venue.client;
    QProcess &server = venue.server;
    const QTemporaryDir &dir = venue.dir;

    // Idle: every room online, quiet checks only.
    waitFor([] { return false; }, 2000);
    const double cpuBefore = processSeconds(server.processId());
    const double wallBefore = bench::monotonicSeconds();
    waitFor([] { return false; }, 10000);
    const double idle = (processSeconds(server.processId()) - cpuBefore) /
                        (bench::monotonicSeconds() - wallBefore) * 100;
    const double rss = bench::residentMegabytes(server.processId(), "VmRSS:");
    std::printf("idle: %.2f %% CPU, %.1f MB resident (peak %.1f MB)\n",
                idle, rss, bench::residentMegabytes(server.processId(), "VmHWM:"));

    // A change to its frame on the line, one at a time.
    std::vector<double> lines;
    for (int i = 0; i < kSamples; ++i) {
        const int value = 30 + i % 40;
        const double sent = bench::monotonicSeconds();
        client.call("PATCH", "/api/v1/rooms/R00/registers", patch(16, value));
        const std::vector<double> times = received(dir.filePath("room0.log"), 16, value);
        double first = NAN;
        for (double t : times)
            if (t >= sent && (std::isnan(first) || t < first)) first = t;
        if (!std::isnan(first)) lines.push_back(first - sent);
        waitFor([] { return false; }, 20);
    }
    const double lineP99 = p99(lines);
    std::printf("API change to its frame: median %.1f ms, p99 %.1f ms over %zu\n",
                bench::median(lines) * 1000, lineP99 * 1000, lines.size());

    // A desk user's change with 20 limits in force against none: the limits are looked at on
    // every change of a limited role. Four blocks of each, in turn.
    const auto deskChanges = [&](std::vector<double> &into) {
        for (int i = 0; i < kSamples / 2; ++i) {
            const int value = 30 + i % 40;
            const double sent = bench::monotonicSeconds();
            desk.call("PATCH", "/api/v1/rooms/R01/registers", patch(16, value));
            double first = NAN;
            for (double t : received(venue.log(1), 16, value))
                if (t >= sent && (std::isnan(first) || t < first)) first = t;
            if (!std::isnan(first)) into.push_back(first - sent);
            waitFor([] { return false; }, 20);
        }
    };
    QByteArray limits = R"({"limits": [)";
    for (int i = 0; i < 20; ++i)
        limits += QString(R"(%1{"register": "%2", "role": "desk", "max": "%3dB"%4})")
                      .arg(i ? "," : "")
                      .arg(i % 2 ? "MicVolumeTrackBar" : "MusicVolumeTrackBar")
                      .arg(80 + i % 8)
                      .arg(i % 3 == 0 ? R"(, "hours": "00:00-00:00")" : i % 3 == 1 ? R"(, "rooms": "R00-R63")" : "")
                      .toUtf8();
    limits += "]}";
    std::vector<double> withoutLimits, withLimits;
    for (int block = 0; block < 4; ++block) {
        client.call("PUT", "/api/v1/limits", R"({"limits": []})");
        deskChanges(withoutLimits);
        if (client.call("PUT", "/api/v1/limits", limits) != 200) std::printf("the limits were refused\n");
        deskChanges(withLimits);
    }
    client.call("PUT", "/api/v1/limits", R"({"limits": []})");
    const double limitsRatio = bench::median(withLimits) / bench::median(withoutLimits);
    std::printf("desk change to its frame: median %.2f ms with 20 limits, %.2f ms without\n",
                bench::median(withLimits) * 1000, bench::median(withoutLimits) * 1000);

    // Fan-out: 50 clients, 50 changes a second over the rooms.
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    std::vector<double> delays;
    std::vector<int> got(kClients, 0);
    for (int i = 0; i < kClients; ++i) {
        auto socket = std::make_unique<QWebSocket>();
        QObject::connect(socket.get(), &QWebSocket::textMessageReceived, socket.get(),
                         [&delays, &got, i](const QString &text) {
                             const double now =
                                 double(QDateTime::currentMSecsSinceEpoch()) / 1000;
                             const QJsonObject m = QJsonDocument::fromJson(text.toUtf8()).object();
                             if (m["type"] != "change") return;
                             ++got[std::size_t(i)];
                             const QDateTime at =
                                 QDateTime::fromString(m["time"].toString(), Qt::ISODateWithMs);
                             delays.push_back(now - double(at.toMSecsSinceEpoch()) / 1000);
                         });
        QNetworkRequest request{QUrl(QString("ws://127.0.0.1:%1/api/v1/events").arg(client.port))};
        request.setRawHeader("Authorization", "Bearer " + client.token);
        socket->open(request);
        sockets.push_back(std::move(socket));
    }
    waitFor([&] {
        return std::all_of(sockets.begin(), sockets.end(), [](const auto &s) {
            return s->state() == QAbstractSocket::ConnectedState;
        });
    }, 10000);
    int sent = 0, confirmed = 0;
    QNetworkAccessManager stream;
    const double started = bench::monotonicSeconds();
    const int total = kChangesPerSecond * kStreamSeconds;
    QTimer pace;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const double due = (bench::monotonicSeconds() - started) * kChangesPerSecond;
        while (sent < total && sent <= due) {
            const int room = sent % kRooms;
            QNetworkRequest request{QUrl(QString("http://127.0.0.1:%1/api/v1/rooms/R%2/registers")
                                             .arg(client.port)
                                             .arg(room, 2, 10, QChar('0')))};
            request.setRawHeader("Authorization", "Bearer " + client.token);
            request.setRawHeader("Content-Type", "application/json");
            // A value that differs from the room's last, so that every change is an event.
            QNetworkReply *reply = stream.sendCustomRequest(request, "PATCH",
                                                            patch(32, 1 + (sent / kRooms) % 60));
            QObject::connect(reply, &QNetworkReply::finished, reply, [reply, &confirmed] {
                confirmed += reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
                reply->deleteLater();
            });
            ++sent;
        }
        if (sent >= total) pace.stop();
    });
    pace.start(5);
    waitFor([&] { return confirmed >= total && std::all_of(got.begin(), got.end(), [&](int n) { return n >= total; }); },
            kStreamSeconds * 1000 + 20000);
    const int fewest = *std::min_element(got.begin(), got.end());
    const double fanP99 = p99(delays);
    std::printf("fan-out: %d changes confirmed of %d, each of %d clients got at least %d; median "
                "%.1f ms, p99 %.1f ms (clock of ms)\n",
                confirmed, total, kClients, fewest, bench::median(delays) * 1000, fanP99 * 1000);
    sockets.clear();

    // Recall: a preset that differs from the rooms in 8 registers, into one room and into 16.
    std::vector<double> one, sixteen;
    for (int run = 0; run < 3; ++run) {
        for (int address : kVolumes) client.call("PATCH", "/api/v1/rooms/R63/registers", patch(address, 10 + run * 7 + address % 5));
        client.call("PUT", QString("/api/v1/presets/p%1").arg(run), R"({"fromRoom":"R63"})");
        double t = bench::monotonicSeconds();
        client.call("POST", QString("/api/v1/presets/p%1/recall").arg(run), R"({"rooms":["R40"]})");
        one.push_back(bench::monotonicSeconds() - t);
        QJsonArray rooms;
        for (int i = 41; i < 57; ++i) rooms.append(QString("R%1").arg(i));
        QByteArray body = QJsonDocument(QJsonObject{{"rooms", rooms}}).toJson(QJsonDocument::Compact);
        QByteArray result;
        t = bench::monotonicSeconds();
        client.call("POST", QString("/api/v1/presets/p%1/recall").arg(run), body, &result);
        sixteen.push_back(bench::monotonicSeconds() - t);
        if (result.count("\"ok\"") != 16) std::printf("recall: %s\n", result.constData());
    }
    const double ratio = bench::median(sixteen) / bench::median(one);
    std::printf("recall: one room %.0f ms, 16 rooms %.0f ms (medians of 3)\n",
                bench::median(one) * 1000, bench::median(sixteen) * 1000);

    const double lineTarget = kFrameRoundTrip + 0.025;
    bench::report("server: API change to its frame p99", lineP99 * 1000, "ms",
                  "<= frame round trip + 25 ms (" + std::to_string(int(std::lround(lineTarget * 1000))) + ")",
                  lineTarget / lineP99);
    bench::report("server: event fan-out p99, 50 clients, 50/s", fanP99 * 1000, "ms", "<= 50",
                  fewest >= total ? 0.050 / std::max(fanP99, 0.001) : 0);
    bench::report("server: desk change, 20 limits / none (median)", limitsRatio, "x", "<= 1.05",
                  1.05 / limitsRatio);
    bench::report("server: idle CPU, 64 rooms", idle, "%", "<= 1", 1 / std::max(idle, 0.01));
    bench::report("server: resident memory, 64 rooms idle", rss, "MB", "<= 64", 64 / rss);
    bench::report("server: preset recall 16 rooms / 1 room", ratio, "x", "<= 1.3", 1.3 / ratio);
    return 0;
}
