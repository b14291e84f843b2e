// zev720d's HTTP API and event stream as their clients meet them: the real server, Qt's HTTP
// and WebSocket clients, zev720ctl on the frame ports, and the emulator on pseudo-terminals
// and TCP, every connection on this machine's loopback.
#include "model/RegisterMap.h"
#include "server/HttpServer.h"
#include "support/Server.h"
#include "support/Sim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QDateTime>
#include <QTest>
#include <QWebSocket>

using testing::EventClient;
using testing::Sim;
using testing::VenueServer;

namespace {

constexpr int kMusicVolume = 16;
constexpr int kMicVolume = 32;
constexpr int kEffectVolume = 48;

const QByteArray kJson = "application/json";

QByteArray patch(const QString &name, const QString &field, const QJsonValue &value)
{
    return QJsonDocument(
               QJsonObject{{"registers", QJsonArray{QJsonObject{{"name", name}, {field, value}}}}})
        .toJson(QJsonDocument::Compact);
}

// The session cookie of a login ("zev720d_session=..."), or empty.
QByteArray login(const VenueServer &server, const QString &user, const QString &password,
                 int *status = nullptr)
{
    const testing::HttpReply reply =
        testing::http("POST", server.url("/api/v1/login"),
                      QJsonDocument(QJsonObject{{"user", user}, {"password", password}}).toJson(),
                      {{"Content-Type", kJson}, {"Origin", server.url("").toUtf8()}});
    if (status) *status = reply.status;
    return reply.headers.value("set-cookie").split(';').first();
}

// A change event of the register in a room, as a client got it.
bool hasChange(const EventClient &client, int address, int value, const QString &through)
{
    return std::any_of(client.messages.begin(), client.messages.end(), [&](const QJsonObject &m) {
        return m["type"] == "change" && m["register"]["address"].toInt() == address &&
               m["register"]["value"].toInt() == value && m["through"] == through;
    });
}

int lastChange(const EventClient &client, int address)
{
    int value = -1;
    for (const QJsonObject &m : client.messages)
        if (m["type"] == "change" && m["register"]["address"].toInt() == address)
            value = m["register"]["value"].toInt();
    return value;
}

int run(const QStringList &arguments, QString *out = nullptr)
{
    QProcess process;
    process.start(testing::buildDir() + "/" + arguments.first(), arguments.mid(1));
    process.waitForFinished(30000);
    if (out)
        *out = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    return process.exitCode();
}

} // namespace

class TestApi : public QObject {
    Q_OBJECT
private slots:
    void changesReachTheProcessorAndEveryClient();
    void twoClientsWritingOneRegister();
    void thePanelsRulesAndSteps();
    void answersKeepPagesTruthful();
    void roomLostAndBackAloneAmongTheRooms();
    void gateKeepsOutWhoDoesNotBelong();
    void badInputIsRefusedAndChangesNothing();
    void loginsAreNeverCheckedInParallel();
    void passwordChangeEndsSessions();
    void connectionsBoundedWithoutLockingAnyoneOut();
    void eventStreamsBoundedPerUserAndAddress();
    void historyAndUndo();
    void presetsStoredAndRecalled();
    void presetsHoldOnlyWhatTheControlsMake();
    void restartKeepsWhatTheStateFolderHolds();
    void httpsWithTheVenuesCertificate();
    void pagesServedFromTheirFolderAlone();

private:
    testing::WorkingFolder m_folder;
};

// A change through the API is confirmed by the processor and arrives on two event clients (a
// script's token, a browser's session); a desk user's change and a change made through a
// frame port arrive too, each naming who made it and through what; a pull through the frame
// port reads back what the API set; the metrics count the writes.
void TestApi::changesReachTheProcessorAndEveryClient()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    QVERIFY(testing::addUser(server.state, "front", "desk", "desk-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "script").toUtf8();
    QVERIFY(server.start("venue.csv"));
    const QByteArray cookie = login(server, "front", "desk-password");
    QVERIFY(cookie.startsWith("zev720d_session="));
    const QByteArray origin = server.url("").toUtf8();

    EventClient script, desk;
    QVERIFY(script.open(server.api, {{"Authorization", token}}));
    QVERIFY(desk.open(server.api, {{"Cookie", cookie}, {"Origin", origin}}));
    QCOMPARE(desk.messages.first()["type"], "hello");
    QCOMPARE(desk.messages.first()["rooms"][0]["registers"][0]["shown"], "68dB");

    testing::HttpReply reply = testing::http("PATCH", server.url("/api/v1/rooms/stage/registers"),
                                             patch("MusicVolumeTrackBar", "shown", "60dB"),
                                             {{"Authorization", token}, {"Content-Type", kJson}});
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json()["registers"][0]["value"].toInt(), 28);
    QCOMPARE(int(sim.registers()[kMusicVolume]), 28);
    for (EventClient *client : {&script, &desk})
        QVERIFY(client->waitFor([](const QJsonObject &m) {
            return m["type"] == "change" && m["register"]["name"] == "MusicVolumeTrackBar" &&
                   m["register"]["shown"] == "60dB" && m["before"].toInt() == 20 &&
                   m["user"] == "tech" && m["through"] == "api";
        }));

    reply = testing::http("PATCH", server.url("/api/v1/rooms/stage/registers"),
                          patch("MicVolumeTrackBar", "value", 20),
                          {{"Cookie", cookie}, {"Origin", origin}, {"Content-Type", kJson}});
    QCOMPARE(reply.status, 200);
    QVERIFY(script.waitFor([](const QJsonObject &m) {
        return m["register"]["address"].toInt() == kMicVolume && m["user"] == "front" &&
               m["through"] == "web";
    }));
    QCOMPARE(int(sim.registers()[kMicVolume]), 20);

    // zev720ctl through the frame port: it reads what the API set, and its push is an event.
    const QString line = server.ports["stage"];
    QCOMPARE(run({"zev720ctl", "pull", line, "now.dat"}), 0);
    QByteArray tuned = testing::readFile("now.dat");
    QCOMPARE(int(quint8(tuned[kMusicVolume])), 28);
    tuned[kEffectVolume] = char(5);
    QVERIFY(testing::writeFile("tuned.dat", tuned));
    QCOMPARE(run({"zev720ctl", "push", line, "tuned.dat"}), 0);
    QVERIFY(desk.waitFor([](const QJsonObject &m) {
        return m["register"]["address"].toInt() == kEffectVolume && m["through"] == "frame port";
    }));
    QVERIFY(hasChange(script, kEffectVolume, 5, "frame port"));

    const QJsonObject room =
        testing::http("GET", server.url("/api/v1/rooms/stage"), {}, {{"Authorization", token}})
            .json();
    QCOMPARE(room["registers"].toArray().size(), zev::kTransferSetSize);
    QCOMPARE(room["locked"].toBool(true), false);
    QCOMPARE("tcp://127.0.0.1:" + QString::number(room["framePort"].toInt()), line);
    reply = testing::http("POST", server.url("/api/v1/rooms/stage/lock"), {},
                          {{"Authorization", token}});
    QCOMPARE(reply.status, 200);
    QVERIFY(script.waitFor(
        [](const QJsonObject &m) { return m["type"] == "change" && m["locked"] == true; }));
    const QByteArray metrics =
        testing::http("GET", server.url("/metrics"), {}, {{"Authorization", token}}).body;
    QVERIFY2(metrics.contains("zev720d_rooms{state=\"online\"} 1\n"), metrics.constData());
    QVERIFY(metrics.contains("zev720d_event_clients 2\n"));
    // Two API writes, the lock, and the push's 56 (and any frame zev720ctl sent again while
    // the first waited for the processor, on a loaded machine).
    const auto count =
        QRegularExpression("zev720d_write_latency_seconds_count\\{room=\"stage\"\\} (\\d+)\n")
            .match(QString::fromUtf8(metrics));
    QVERIFY2(count.hasMatch() && count.captured(1).toInt() >= 59, metrics.constData());
}

// What a page sends is what the panel's controls would do: the layout names every control
// with what it offers; a desk's "+" is one shown step; a maximum moved below the volume drags
// it; a mode brings back its block and keeps the one it left; only a technician writes past
// the rules.
void TestApi::thePanelsRulesAndSteps()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    QVERIFY(testing::addUser(server.state, "front", "desk", "desk-password"));
    const QByteArray tech = "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8();
    const QByteArray desk = "Bearer " + testing::addToken(server.state, "front", "t").toUtf8();
    QVERIFY(server.start("venue.csv"));
    const auto send = [&](const QByteArray &who, const QByteArray &body) {
        return testing::http("PATCH", server.url("/api/v1/rooms/stage/registers"), body,
                             {{"Authorization", who}, {"Content-Type", kJson}});
    };

    const QJsonObject layout =
        testing::http("GET", server.url("/api/v1/layout"), {}, {{"Authorization", desk}}).json();
    const QJsonArray pages = layout["pages"].toArray();
    QCOMPARE(pages.size(), 3);
    QCOMPARE(pages[2]["caption"], "效果调整");
    const QJsonObject volume = pages[0]["children"][0]["children"][0].toObject();
    QCOMPARE(volume["name"], "MusicVolumeTrackBar");
    QCOMPARE(volume["positions"].toArray().size(), 89);
    QCOMPARE(volume["positions"][20], (QJsonArray{20, "68dB"}));
    QCOMPARE(volume["positions"][88], (QJsonArray{127, "0dB"}));

    QCOMPARE(send(desk, patch("MusicVolumeTrackBar", "step", 1)).status, 200);
    QCOMPARE(int(sim.registers()[kMusicVolume]), 19); // "69dB"
    QCOMPARE(send(desk, patch("EchoLevelTrackBar", "step", 1)).status, 403);
    QCOMPARE(send(desk, patch("MusicVolumeTrackBar", "step", 2)).status, 422);
    QCOMPARE(
        send(desk, R"({"registers":[{"name":"MusicVolumeTrackBar","value":30}],"rules":false})")
            .status,
        403);

    // The maximum below the volume drags the volume: both registers change on the processor.
    testing::HttpReply reply = send(tech, patch("MusicMaxVolumeTrackBar", "value", 40));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json()["registers"].toArray().size(), 2);
    QCOMPARE(int(sim.registers()[16]), 40);
    QCOMPARE(int(sim.registers()[17]), 40);
    // The volume above its maximum stops there; past the rules it goes where it is told.
    QCOMPARE(send(tech, patch("MusicVolumeTrackBar", "value", 10)).status, 200);
    QCOMPARE(int(sim.registers()[16]), 40);
    QCOMPARE(
        send(tech, R"({"registers":[{"name":"MusicVolumeTrackBar","value":10}],"rules":false})")
            .status,
        200);
    QCOMPARE(int(sim.registers()[16]), 10);

    // Another DSP mode brings its echo and reverb; the mode left brings back what it had,
    // changed here.
    QCOMPARE(send(tech, patch("EchoLevelTrackBar", "value", 7)).status, 200);
    const zev::RegisterImage before = sim.registers();
    const int mode = before[49], other = mode == 3 ? 4 : 3;
    QCOMPARE(send(tech, patch("DSPModeRadioGroup", "value", other)).status, 200);
    zev::RegisterImage now = sim.registers();
    QCOMPARE(int(now[49]), other);
    QCOMPARE(int(now[50]), int(zev::dspPresets()[std::size_t(other - 1)].values[0]));
    QCOMPARE(send(tech, patch("DSPModeRadioGroup", "value", mode)).status, 200);
    now = sim.registers();
    QVERIFY(std::equal(&now[50], &now[60], &before[50]));
    QCOMPARE(send(tech, patch("DSPModeRadioGroup", "value", 21)).status, 422);

    // The mode memories outlast a restart: the echo kept with this mode comes back to it.
    QCOMPARE(send(tech, patch("EchoLevelTrackBar", "value", 9)).status, 200);
    QCOMPARE(send(tech, patch("DSPModeRadioGroup", "value", other)).status, 200);
    server.stop();
    QVERIFY(server.start("venue.csv"));
    QCOMPARE(send(tech, patch("DSPModeRadioGroup", "value", mode)).status, 200);
    QCOMPARE(int(sim.registers()[50]), 9);

    // Undo of named changes and a preset compared, refused where they make no sense.
    const QString undo = server.url("/api/v1/rooms/stage/undo");
    const QMap<QByteArray, QByteArray> json{{"Authorization", tech}, {"Content-Type", kJson}};
    QCOMPARE(testing::http("POST", undo, R"({"ids":[]})", json).status, 400);
    QCOMPARE(testing::http("POST", undo, R"({"ids":["1"]})", json).status, 400);
    QCOMPARE(testing::http("POST", undo, R"({"ids":[999999]})", json).status, 409);
    reply = send(tech, patch("MicVolumeTrackBar", "value", 44));
    QCOMPARE(reply.status, 200);
    const QJsonArray ids = reply.json()["ids"].toArray();
    QCOMPARE(ids.size(), 1);
    QCOMPARE(
        testing::http("POST", undo, QJsonDocument(QJsonObject{{"ids", ids}}).toJson(), json).status,
        200);
    QCOMPARE(int(sim.registers()[kMicVolume]), int(before[kMicVolume]));
    QCOMPARE(testing::http("GET", server.url("/api/v1/presets/none/compare"), {}, json).status,
             404);
    QCOMPARE(testing::http("GET", server.url("/api/v1/presets/.hidden/compare"), {}, json).status,
             400);
    QCOMPARE(
        testing::http("PUT", server.url("/api/v1/presets/house"), R"({"fromRoom":"stage"})", json)
            .status,
        200);
    const QJsonObject same = testing::http("GET", server.url("/api/v1/presets/house/compare"), {},
                                           {{"Authorization", desk}})
                                 .json();
    QCOMPARE(same["rooms"][0]["differs"].toArray().size(), 0);
    QCOMPARE(send(tech, patch("MicVolumeTrackBar", "shown", "50dB")).status, 200);
    const QJsonObject differs = testing::http("GET", server.url("/api/v1/presets/house/compare"),
                                              {}, {{"Authorization", desk}})
                                    .json();
    QCOMPARE(differs["rooms"][0]["differs"][0]["title"], "话筒调整 音量");
    QCOMPARE(differs["rooms"][0]["differs"][0]["shown"], "50dB");
    // Each is the one shape of a difference: "a" the preset's side, "b" the room's.
    const QJsonObject difference = differs["rooms"][0]["differs"][0].toObject();
    QCOMPARE(difference["b"]["shown"], "50dB");
    QCOMPARE(difference["a"]["shown"], difference["preset"]);
    QCOMPARE(difference["name"], "MicVolumeTrackBar");
}

// Two clients that write one register at once: the processor, the server's mirror and the
// last event every client saw end on one value.
void TestApi::twoClientsWritingOneRegister()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    const QByteArray one = "Bearer " + testing::addToken(server.state, "tech", "one").toUtf8();
    const QByteArray two = "Bearer " + testing::addToken(server.state, "tech", "two").toUtf8();
    QVERIFY(server.start("venue.csv"));
    EventClient first, second;
    QVERIFY(first.open(server.api, {{"Authorization", one}}));
    QVERIFY(second.open(server.api, {{"Authorization", two}}));

    QNetworkAccessManager manager;
    int finished = 0;
    for (int i = 0; i < 20; ++i) {
        QNetworkRequest request{QUrl(server.url("/api/v1/rooms/stage/registers"))};
        request.setRawHeader("Authorization", i % 2 ? one : two);
        request.setRawHeader("Content-Type", kJson);
        QNetworkReply *reply = manager.sendCustomRequest(
            request, "PATCH", patch("MusicVolumeTrackBar", "value", 30 + i));
        QObject::connect(reply, &QNetworkReply::finished, reply, [&finished, reply] {
            finished += reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
            reply->deleteLater();
        });
    }
    QVERIFY(QTest::qWaitFor([&] { return finished == 20; }, 20000));
    const int held = sim.registers()[kMusicVolume];
    const QJsonObject room =
        testing::http("GET", server.url("/api/v1/rooms/stage"), {}, {{"Authorization", one}})
            .json();
    int mirrored = -1;
    for (const QJsonValue &r : room["registers"].toArray())
        if (r["address"].toInt() == kMusicVolume) mirrored = r["value"].toInt();
    QCOMPARE(mirrored, held);
    QVERIFY(QTest::qWaitFor([&] {
        return lastChange(first, kMusicVolume) == held && lastChange(second, kMusicVolume) == held;
    }));
    QCOMPARE(room["pending"].toInt(), 0);
}

// What keeps a page truthful: the event stream's hello and pings carry the server's clock; a
// change made more than 5 s before it arrives (or from another clock) is refused as too late,
// nothing written; the lock is read with the room; a desk bar at its end says so ("ends"), and
// a step past it answers "limited"; an offline room and every problem carry a code; a session
// of an earlier run says the server restarted; a proxy's name with its own port is a name of
// the server.
void TestApi::answersKeepPagesTruthful()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv",
                               ("stage, " + sim.path() + "\ngone, /dev/zev720-not-here\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8();
    QTcpServer free;
    QVERIFY(free.listen(QHostAddress::LocalHost, 0));
    const QByteArray proxied = "127.0.0.1:" + QByteArray::number(free.serverPort());
    free.close();
    QVERIFY(server.start("venue.csv", "stage: online", {"--name", QString::fromUtf8(proxied)}));
    QVERIFY(server.waitFor("gone: offline"));
    const QMap<QByteArray, QByteArray> json{{"Authorization", token}, {"Content-Type", kJson}};

    EventClient events;
    QVERIFY(events.open(server.api, {{"Authorization", token}}));
    QElapsedTimer since;
    since.start();
    const QJsonObject hello = events.messages.first();
    const qint64 now = qint64(hello["now"].toDouble());
    QVERIFY(now > 0);
    const auto clock = [&] { return now + since.elapsed(); };
    QVERIFY(events.waitFor([&](const QJsonObject &m) {
        return m["type"] == "ping" && qint64(m["now"].toDouble()) > now;
    }, 6000));
    // The lock, read with the room; the offline room's reason as a code.
    const QJsonArray rooms = hello["rooms"].toArray();
    QCOMPARE(rooms[0]["locked"], QJsonValue(false));
    QCOMPARE(rooms[1]["reasonCode"], "no-such-device");

    const QString registers = server.url("/api/v1/rooms/stage/registers");
    const auto at = [&](qint64 made) {
        QMap<QByteArray, QByteArray> headers = json;
        headers["Zev720-Made-At"] = QByteArray::number(made);
        return headers;
    };
    testing::HttpReply reply =
        testing::http("PATCH", registers, patch("MusicVolumeTrackBar", "value", 30), at(clock() - 6000));
    QCOMPARE(reply.status, 409);
    QCOMPARE(reply.json()["code"], "too-late");
    QCOMPARE(testing::http("PATCH", registers, patch("MusicVolumeTrackBar", "value", 30),
                           at(clock() + 10000)).status,
             409);
    QCOMPARE(testing::http("PATCH", registers, patch("MusicVolumeTrackBar", "value", 30),
                           {{"Authorization", token}, {"Content-Type", kJson}, {"Zev720-Made-At", "soon"}})
                 .status,
             400);
    QCOMPARE(int(sim.registers()[kMusicVolume]), 20);
    reply = testing::http("PATCH", registers, patch("MusicVolumeTrackBar", "value", 30), at(clock()));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json()["limited"], QJsonValue(false));

    // The volume up to its maximum bar: + is at an end, and says so.
    QCOMPARE(testing::http("PATCH", registers, patch("MusicMaxVolumeTrackBar", "value", 30), json).status,
             200);
    reply = testing::http("GET", server.url("/api/v1/rooms/stage"), {}, json);
    QCOMPARE(reply.json()["ends"].toObject()["MusicVolumeTrackBar"].toArray(), QJsonArray{"top"});
    reply = testing::http("PATCH", registers, patch("MusicVolumeTrackBar", "step", 1), json);
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json()["limited"], QJsonValue(true));
    QCOMPARE(reply.json()["limitedRegisters"].toArray(), QJsonArray{"MusicVolumeTrackBar"});
    QVERIFY(events.waitFor([](const QJsonObject &m) {
        return m["type"] == "change" && m["ends"].toObject()["MusicVolumeTrackBar"] == QJsonArray{"top"};
    }));
    reply = testing::http("PATCH", server.url("/api/v1/rooms/gone/registers"),
                          patch("MusicVolumeTrackBar", "value", 30), json);
    QCOMPARE(reply.status, 503);
    QCOMPARE(reply.json()["code"], "room-offline");

    // Locked, and still known as locked by a server started again.
    QCOMPARE(testing::http("POST", server.url("/api/v1/rooms/stage/lock"), {}, json).status, 200);
    const QByteArray session = login(server, "tech", "tech-password");
    server.stop();
    QVERIFY(server.start("venue.csv", "stage: online", {"--name", QString::fromUtf8(proxied)}));
    reply = testing::http("GET", server.url("/api/v1/rooms/stage"), {}, json);
    QCOMPARE(reply.json()["locked"], QJsonValue(true));
    reply = testing::http("GET", server.url("/api/v1/me"), {}, {{"Cookie", session}});
    QCOMPARE(reply.status, 401);
    QCOMPARE(reply.json()["code"], "restarted");
    const QByteArray fresh = login(server, "tech", "tech-password");
    QCOMPARE(testing::http("POST", server.url("/api/v1/logout"), {},
                           {{"Cookie", fresh}, {"Origin", server.url("").toUtf8()}})
                 .status,
             200);
    QCOMPARE(testing::http("GET", server.url("/api/v1/me"), {}, {{"Cookie", fresh}}).json()["code"],
             "session-ended");
    QCOMPARE(testing::http("GET", server.url("/api/v1/me"), {}, {}).json()["code"], "no-login");

    // A proxy's name at its own port is the server's; at another port it is not.
    const QByteArray request = "GET /api/v1/me HTTP/1.1\r\nHost: %1\r\nConnection: close\r\n\r\n";
    QVERIFY(testing::rawHttp(server.api, QByteArray(request).replace("%1", proxied)).startsWith("HTTP/1.1 401"));
    QVERIFY(testing::rawHttp(server.api, QByteArray(request).replace("%1", "127.0.0.1:1"))
                .startsWith("HTTP/1.1 421"));

    // Every code once.
    QString codes;
    QCOMPARE(run({"zev720d", "--codes"}, &codes), 0);
    QStringList names;
    for (const QString &line : codes.split('\n', Qt::SkipEmptyParts))
        names << line.section(' ', 0, 1);
    QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
    QVERIFY(names.contains("problem too-late") && names.contains("reason no-such-device"));
}

// A room whose emulator is killed goes offline with its reason, and comes back by itself,
// read whole, once it is there again; the other room never notices. A change asked of it
// while it is offline is refused and nothing is queued.
void TestApi::roomLostAndBackAloneAmongTheRooms()
{
    Sim bar;
    auto stage = std::make_unique<Sim>(QStringList{"--listen", "127.0.0.1:0"});
    const QString line = stage->path();
    QVERIFY(line.startsWith("tcp://127.0.0.1:"));
    QVERIFY(testing::writeFile("venue.csv",
                               ("stage, " + line + "\nbar, " + bar.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8();
    QVERIFY(server.start("venue.csv"));
    QVERIFY(server.waitFor("bar: online") && server.waitFor("stage: online"));
    EventClient client;
    QVERIFY(client.open(server.api, {{"Authorization", token}}));

    stage->stop();
    QVERIFY(client.waitFor(
        [](const QJsonObject &m) {
            return m["type"] == "state" && m["room"] == "stage" && m["state"] == "offline" &&
                   !m["reason"].toString().isEmpty();
        },
        15000));
    const testing::HttpReply refused =
        testing::http("PATCH", server.url("/api/v1/rooms/stage/registers"),
                      patch("MusicVolumeTrackBar", "value", 40),
                      {{"Authorization", token}, {"Content-Type", kJson}});
    QCOMPARE(refused.status, 503);
    QVERIFY(refused.json()["detail"].toString().contains("nothing was changed"));
    QCOMPARE(refused.json()["field"], "room");

    const QString port = line.section(':', -1);
    client.messages.clear(); // from here on, only what the room's return brings
    stage = std::make_unique<Sim>(QStringList{"--listen", "127.0.0.1:" + port});
    QVERIFY(client.waitFor(
        [](const QJsonObject &m) {
            return m["type"] == "room" && m["room"]["name"] == "stage" &&
                   m["room"]["state"] == "online" &&
                   m["room"]["registers"].toArray().size() == zev::kTransferSetSize;
        },
        40000));
    QCOMPARE(stage->frames().size() >= zev::kTransferSetSize, true);
    QCOMPARE(int(stage->registers()[kMusicVolume]), 20); // the refused change never went out
    for (const QJsonObject &m : client.messages)
        QVERIFY(m["room"] != "bar");
    QCOMPARE(server.out.count("bar: online"), 1);
    QVERIFY(!server.out.contains("bar: offline"));
}

// The gate: a request by another name (Host), from a page of another site (Origin), from no
// user, or from a user whose role does not allow it is refused, and the processor is left as
// it was; failed logins are slowed; an event stream ends with the session or the user that
// opened it; a server that would listen beyond loopback with no user refuses to start.
void TestApi::gateKeepsOutWhoDoesNotBelong()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QString said;
    QCOMPARE(
        run({"zev720d", "--venue", "venue.csv", "--listen", "0.0.0.0:0", "--state", server.state},
            &said),
        1);
    QVERIFY2(said.contains("no user exists yet"), qPrintable(said));
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    QVERIFY(testing::addUser(server.state, "front", "desk", "desk-password"));
    QVERIFY(testing::addUser(server.state, "watch", "viewer", "view-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8();
    QVERIFY(server.start("venue.csv"));
    const zev::RegisterImage before = sim.registers();
    const QByteArray origin = server.url("").toUtf8();
    const QString registers = server.url("/api/v1/rooms/stage/registers");

    // Another name for this address, as a page whose name was made to resolve here sends it.
    const QByteArray rebound = testing::rawHttp(
        server.api,
        "GET /api/v1/rooms HTTP/1.1\r\nHost: attacker.example:" + QByteArray::number(server.api) +
            "\r\nAuthorization: " + token + "\r\nConnection: close\r\n\r\n");
    QVERIFY2(rebound.startsWith("HTTP/1.1 421 "), rebound.constData());
    // Every route: without a login, and with a viewer's where it changes something.
    const QList<QPair<QByteArray, QString>> routes = {{"GET", "/api/v1/server"},
                                                      {"GET", "/api/v1/me"},
                                                      {"GET", "/api/v1/rooms"},
                                                      {"GET", "/api/v1/rooms/stage"},
                                                      {"PATCH", "/api/v1/rooms/stage/registers"},
                                                      {"POST", "/api/v1/rooms/stage/lock"},
                                                      {"GET", "/api/v1/rooms/stage/history"},
                                                      {"POST", "/api/v1/rooms/stage/undo"},
                                                      {"GET", "/api/v1/presets"},
                                                      {"GET", "/api/v1/presets/house"},
                                                      {"PUT", "/api/v1/presets/house"},
                                                      {"DELETE", "/api/v1/presets/house"},
                                                      {"POST", "/api/v1/presets/house/recall"},
                                                      {"GET", "/api/v1/events"},
                                                      {"GET", "/metrics"},
                                                      {"POST", "/api/v1/logout"}};
    for (const auto &[method, path] : routes)
        QVERIFY2(
            testing::http(method, server.url(path), R"({"rooms":"all"})", {{"Content-Type", kJson}})
                    .status == 401,
            qPrintable(method + " " + path));
    const QByteArray watcher = "Bearer " + testing::addToken(server.state, "watch", "w").toUtf8();
    // The server reads its users file again at most once a second: the token counts then.
    QVERIFY(QTest::qWaitFor([&] {
        return testing::http("GET", server.url("/api/v1/me"), {}, {{"Authorization", watcher}}).status == 200;
    }, 5000));
    for (const auto &[method, path] : routes)
        if (method != "GET" && !path.endsWith("logout"))
            QVERIFY2(testing::http(method, server.url(path), R"({"rooms":"all"})",
                                   {{"Authorization", watcher}, {"Content-Type", kJson}})
                             .status == 403,
                     qPrintable(method + " " + path));
    QCOMPARE(testing::http("GET", server.url("/api/v1/rooms"), {},
                           {{"Authorization", "Bearer not-a-token"}})
                 .status,
             401);

    int status = 0;
    const QByteArray viewer = login(server, "watch", "view-password");
    const QByteArray desk = login(server, "front", "desk-password");
    QVERIFY(!viewer.isEmpty() && !desk.isEmpty());
    QCOMPARE(testing::http("PATCH", registers, patch("MusicVolumeTrackBar", "value", 1),
                           {{"Cookie", viewer}, {"Origin", origin}, {"Content-Type", kJson}})
                 .status,
             403);
    // A desk user's request with one control beyond the desk's is refused whole.
    const QByteArray both =
        R"({"registers":[{"name":"MusicVolumeTrackBar","value":1},{"name":"EffectVolumeTrackBar","value":1}]})";
    const testing::HttpReply beyond = testing::http(
        "PATCH", registers, both, {{"Cookie", desk}, {"Origin", origin}, {"Content-Type", kJson}});
    QCOMPARE(beyond.status, 403);
    QCOMPARE(beyond.json()["field"], "registers[1]");
    // The desk's own cookie from another site's page, or with no Origin at all.
    QCOMPARE(testing::http(
                 "PATCH", registers, patch("MusicVolumeTrackBar", "value", 1),
                 {{"Cookie", desk}, {"Origin", "http://attacker.example"}, {"Content-Type", kJson}})
                 .status,
             403);
    QCOMPARE(testing::http("PATCH", registers, patch("MusicVolumeTrackBar", "value", 1),
                           {{"Cookie", desk}, {"Content-Type", kJson}})
                 .status,
             403);
    EventClient foreign;
    QVERIFY(!foreign.open(server.api, {{"Cookie", desk}, {"Origin", "http://attacker.example"}}));
    QCOMPARE(sim.registers(), before);

    // A wrong password; the next try from the address at once is slowed; later it is taken.
    login(server, "tech", "wrong-password", &status);
    QCOMPARE(status, 401);
    const testing::HttpReply slowed =
        testing::http("POST", server.url("/api/v1/login"),
                      R"({"user":"tech","password":"tech-password"})", {{"Content-Type", kJson}});
    QCOMPARE(slowed.status, 429);
    QVERIFY(slowed.headers.contains("retry-after"));
    // Taken once the slowdown is over (a refusal while slowed does not lengthen it).
    QByteArray tech;
    QVERIFY(QTest::qWaitFor([&] {
        tech = login(server, "tech", "tech-password", &status);
        if (status == 429) QTest::qWait(100);
        return status == 200;
    }, 10000));
    // A stream lasts no longer than what let it in: the session, the user.
    EventClient browser, script;
    QVERIFY(browser.open(server.api, {{"Cookie", tech}, {"Origin", origin}}));
    QVERIFY(script.open(server.api, {{"Authorization", watcher}}));
    QCOMPARE(testing::http("POST", server.url("/api/v1/logout"), {},
                           {{"Cookie", tech}, {"Origin", origin}})
                 .status,
             200);
    QCOMPARE(testing::http("GET", server.url("/api/v1/me"), {}, {{"Cookie", tech}}).status, 401);
    QVERIFY(QTest::qWaitFor([&] { return !browser.connected(); }, 3000));
    QCOMPARE(run({"zev720d", "user", "remove", "watch", "--state", server.state}), 0);
    QVERIFY(QTest::qWaitFor([&] { return !script.connected(); }, 5000));
    QCOMPARE(
        testing::http("GET", server.url("/api/v1/me"), {}, {{"Authorization", watcher}}).status,
        401);
}

// Logins are never checked in parallel from one place: 20 wrong ones at once from one address,
// and 60 from 60 addresses of this machine, have at most one password hashed (the others are
// told to wait). Behind a proxy named with --trusted-proxy, its X-Forwarded-For names the
// place; from any other peer that header is not read.
void TestApi::loginsAreNeverCheckedInParallel()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    QVERIFY(testing::addUser(server.state, "front", "desk", "desk-password"));
    QVERIFY(server.start("venue.csv"));
    quint16 port = server.api;
    // Every attempt sent at once, each on its own connection from its own address; their
    // statuses once all are answered.
    const auto atOnce = [&](const QStringList &from, const QByteArray &user,
                            const QByteArray &forwarded = {}) {
        const QByteArray body = R"({"user":")" + user + R"(","password":"wrong"})";
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (const QString &address : from) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->bind(QHostAddress(address), 0);
            sockets.back()->connectToHost(QHostAddress::LocalHost, port);
        }
        for (auto &socket : sockets) {
            socket->waitForConnected(2000);
            socket->write("POST /api/v1/login HTTP/1.1\r\nHost: 127.0.0.1:" +
                          QByteArray::number(port) +
                          "\r\nContent-Type: application/json\r\nConnection: close\r\n" +
                          (forwarded.isEmpty() ? QByteArray() : "X-Forwarded-For: " + forwarded + "\r\n") +
                          "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        }
        QMap<int, int> statuses;
        (void)QTest::qWaitFor(
            [&] {
                return std::all_of(sockets.begin(), sockets.end(), [](const auto &socket) {
                    return socket->state() == QAbstractSocket::UnconnectedState;
                });
            },
            20000);
        for (auto &socket : sockets)
            ++statuses[socket->readAll().mid(9, 3).toInt()];
        return statuses;
    };
    QMap<int, int> got = atOnce(QStringList(20, "127.0.0.1"), "tech");
    QVERIFY2(got[401] == 1 && got[429] == 19, qPrintable(QString("%1 401, %2 429").arg(got[401]).arg(got[429])));
    QStringList many;
    for (int i = 2; i < 62; ++i)
        many << QString("127.0.0.%1").arg(i);
    got = atOnce(many, "nobody");
    QVERIFY2(got[401] <= 1 && got[401] + got[429] == 60,
             qPrintable(QString("%1 401, %2 429").arg(got[401]).arg(got[429])));
    // Without a trusted proxy, X-Forwarded-For changes nothing: this machine is still slowed.
    QCOMPARE(atOnce({"127.0.0.1"}, "front", "192.0.2.11").value(429), 1);
    server.stop();

    VenueServer proxied(server.state);
    QVERIFY(proxied.start("venue.csv", ": online", {"--trusted-proxy", "127.0.0.1"}));
    port = proxied.api;
    QCOMPARE(atOnce({"127.0.0.1"}, "tech", "192.0.2.10").value(401), 1);
    QCOMPARE(atOnce({"127.0.0.1"}, "tech", "198.51.100.7, 192.0.2.10").value(429), 1);
    const testing::HttpReply front = testing::http(
        "POST", proxied.url("/api/v1/login"), R"({"user":"front","password":"desk-password"})",
        {{"Content-Type", kJson}, {"X-Forwarded-For", "192.0.2.11"}});
    QCOMPARE(front.status, 200);
}

// A password or role changed with zev720d user add ends the user's sessions and event streams
// at once, and its tokens unless --keep-tokens.
void TestApi::passwordChangeEndsSessions()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    QVERIFY(testing::addUser(server.state, "front", "desk", "desk-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "one").toUtf8();
    QVERIFY(server.start("venue.csv"));
    const QByteArray origin = server.url("").toUtf8();
    const QByteArray session = login(server, "tech", "tech-password");
    const QByteArray desk = login(server, "front", "desk-password");
    EventClient stream;
    QVERIFY(stream.open(server.api, {{"Cookie", session}, {"Origin", origin}}));
    const auto me = [&](const QByteArray &name, const QByteArray &value) {
        return testing::http("GET", server.url("/api/v1/me"), {}, {{name, value}}).status;
    };
    QCOMPARE(me("Cookie", desk), 200);
    QVERIFY(testing::addUser(server.state, "tech", "technician", "new-password"));
    QVERIFY(QTest::qWaitFor([&] { return me("Cookie", session) == 401; }, 5000));
    QVERIFY(QTest::qWaitFor([&] { return !stream.connected(); }, 5000));
    QCOMPARE(me("Authorization", token), 401);
    QCOMPARE(me("Cookie", desk), 200); // another user's session goes on

    const QByteArray kept = "Bearer " + testing::addToken(server.state, "tech", "two").toUtf8();
    QVERIFY(QTest::qWaitFor([&] { return me("Authorization", kept) == 200; }, 5000));
    const QByteArray again = login(server, "tech", "new-password");
    QCOMPARE(me("Cookie", again), 200);
    QProcess change;
    change.start(testing::buildDir() + "/zev720d",
                 {"user", "add", "tech", "--role", "technician", "--keep-tokens", "--state", server.state});
    change.write("third-password\n");
    change.closeWriteChannel();
    QVERIFY(change.waitForFinished(20000) && change.exitCode() == 0);
    QVERIFY(change.readAllStandardOutput().contains("its tokens kept"));
    QVERIFY(QTest::qWaitFor([&] { return me("Cookie", again) == 401; }, 5000));
    QCOMPARE(me("Authorization", kept), 200);

    QVERIFY(testing::addUser(server.state, "front", "viewer", "desk-password"));
    QVERIFY(QTest::qWaitFor([&] { return me("Cookie", desk) == 401; }, 5000));
}

// The connection bounds on this machine's loopback, with 64 connections in all (32 an address,
// 16 with a request not read yet): clients dripping a request (slowloris) make way for one
// that sends its request at once, the oldest first, and are closed at the head's deadline; one
// address with 32 kept-alive connections gives way on its own, those of no user first, while
// another address is served; a client that pipelines requests without reading the answers
// has no more than one read at a time while another client is answered.
void TestApi::connectionsBoundedWithoutLockingAnyoneOut()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    const QByteArray token = testing::addToken(server.state, "tech", "t").toUtf8();
    QVERIFY(server.start("venue.csv", ": online", {"--max-connections", "64"}));
    QVERIFY2(server.out.contains("connections: at most 64, 32 from one address, 16 with a "
                                 "request not read yet"),
             qPrintable(server.out));
    const QByteArray request =
        "GET /api/v1/server HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(server.api) +
        "\r\n\r\n";
    const QByteArray withToken = request.left(request.size() - 2) + "Authorization: Bearer " +
                                 token + "\r\n\r\n";
    const auto connect = [&](const char *from = "127.0.0.1") {
        auto socket = std::make_unique<QTcpSocket>();
        socket->bind(QHostAddress(from), 0);
        socket->connectToHost(QHostAddress::LocalHost, server.api);
        socket->waitForConnected(2000);
        return socket;
    };
    const auto begun = [&](const char *from = "127.0.0.1") { // a request's first line
        auto socket = connect(from);
        socket->write(request.left(request.indexOf('\n') + 1));
        socket->waitForBytesWritten(1000);
        return socket;
    };
    const auto answered = [&](const QByteArray &what, const char *from = "127.0.0.1") {
        auto socket = connect(from);
        socket->write(what);
        if (!QTest::qWaitFor([&] { return socket->peek(12).startsWith("HTTP/1.1 "); }, 5000))
            socket.reset();
        return socket;
    };
    const auto closed = [](QTcpSocket &socket, int ms = 3000) {
        return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                               ms);
    };
    const auto open = [](const std::vector<std::unique_ptr<QTcpSocket>> &sockets) {
        return std::count_if(sockets.begin(), sockets.end(), [](const auto &s) {
            return s->state() == QAbstractSocket::ConnectedState;
        });
    };

    // Slowloris from three addresses: only the 16 newest stay; a request sent whole is answered.
    std::vector<std::unique_ptr<QTcpSocket>> dripping;
    for (int i = 0; i < 40; ++i)
        dripping.push_back(begun(i % 3 == 0 ? "127.0.0.3" : i % 3 == 1 ? "127.0.0.4" : "127.0.0.5"));
    QVERIFY(closed(*dripping.front()));
    QVERIFY(QTest::qWaitFor([&] { return open(dripping) == 16; }));
    QVERIFY(dripping.back()->state() == QAbstractSocket::ConnectedState);
    const auto victim = answered(withToken, "127.0.0.2");
    QVERIFY(victim && victim->readAll().startsWith("HTTP/1.1 200"));
    // The head's deadline ends the rest.
    QVERIFY(closed(*dripping.back(), 15000));
    QCOMPARE(open(dripping), 0);
    dripping.clear();

    // One address at its bound: its own connections make way, those of no user first.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    idle.push_back(answered(withToken)); // a user's, the oldest
    while (idle.size() < 32) {
        idle.push_back(answered(request));
        QVERIFY(idle.back());
    }
    QVERIFY(answered(request));
    QVERIFY(closed(*idle[1]));
    QCOMPARE(idle[0]->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(idle.back()->state(), QAbstractSocket::ConnectedState);
    QVERIFY(answered(request, "127.0.0.2"));

    // Pipelined requests whose answers are not read: the server stops reading them (nothing
    // piles up in it), serves others meanwhile, and goes on once the answers are read.
    const auto greedy = connect("127.0.0.6");
    const QByteArray layout = "GET /api/v1/layout HTTP/1.1\r\nHost: 127.0.0.1:" +
                              QByteArray::number(server.api) + "\r\nAuthorization: Bearer " +
                              token + "\r\n\r\n";
    constexpr int kAsked = 2000; // far more answers than the system's buffers hold
    greedy->setReadBufferSize(1);
    for (int i = 0; i < kAsked; ++i)
        greedy->write(layout);
    const auto layoutsAnswered = [&] {
        const testing::HttpReply metrics = testing::http("GET", server.url("/metrics"), {},
                                                         {{"Authorization", "Bearer " + token}});
        const auto found =
            QRegularExpression("zev720d_http_responses_total\\{status=\"200\"\\} (\\d+)")
                .match(QString::fromUtf8(metrics.body));
        return found.hasMatch() ? found.captured(1).toInt() : -1;
    };
    QVERIFY(QTest::qWaitFor([&] { return layoutsAnswered() > 0; }));
    QVERIFY(answered(withToken, "127.0.0.7"));
    const int stalled = layoutsAnswered();
    QVERIFY2(stalled > 0 && stalled < kAsked / 2, qPrintable(QString::number(stalled)));
    QCOMPARE(greedy->state(), QAbstractSocket::ConnectedState);
    greedy->setReadBufferSize(0);
    qint64 read = 0;
    QVERIFY(QTest::qWaitFor(
        [&] {
            read += greedy->readAll().size();
            return layoutsAnswered() >= kAsked;
        },
        30000));
    const testing::HttpReply metrics = testing::http("GET", server.url("/metrics"), {},
                                                     {{"Authorization", "Bearer " + token}});
    QVERIFY(metrics.body.contains("zev720d_http_connections_closed_total{reason=\"gave_way\"}"));
}

// Event streams are bounded per user and per address: one viewer's pages cannot take every
// stream from a technician, nor one machine from the others. (The handshakes are written by
// hand, from several loopback addresses.)
void TestApi::eventStreamsBoundedPerUserAndAddress()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    QVERIFY(testing::addUser(server.state, "watch", "viewer", "watch-password"));
    QVERIFY(testing::addUser(server.state, "lobby", "viewer", "lobby-password"));
    const QByteArray tech = testing::addToken(server.state, "tech", "t").toUtf8();
    const QByteArray watch = testing::addToken(server.state, "watch", "t").toUtf8();
    const QByteArray lobby = testing::addToken(server.state, "lobby", "t").toUtf8();
    QVERIFY(server.start("venue.csv"));
    std::vector<std::unique_ptr<QTcpSocket>> streams;
    // The status line of an upgrade from `from` by the token's user; the socket is kept.
    const auto upgrade = [&](const QByteArray &token, const char *from) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->bind(QHostAddress(from), 0);
        socket->connectToHost(QHostAddress::LocalHost, server.api);
        socket->waitForConnected(2000);
        socket->write("GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1:" +
                      QByteArray::number(server.api) +
                      "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
                      "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\nAuthorization: "
                      "Bearer " +
                      token + "\r\n\r\n");
        QByteArray got;
        (void)QTest::qWaitFor(
            [&] {
                got += socket->readAll();
                return got.contains("\r\n\r\n");
            },
            5000);
        streams.push_back(std::move(socket));
        return got;
    };
    const char *const addresses[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
    for (int i = 0; i < 64; ++i)
        QVERIFY(upgrade(watch, addresses[i % 4]).startsWith("HTTP/1.1 101"));
    const QByteArray refused = upgrade(watch, "127.0.0.6");
    QVERIFY2(refused.startsWith("HTTP/1.1 503") && refused.contains("one user"), refused.constData());
    QVERIFY(upgrade(tech, "127.0.0.6").startsWith("HTTP/1.1 101"));
    for (int i = 0; i < 56; ++i)
        QVERIFY(upgrade(lobby, "127.0.0.7").startsWith("HTTP/1.1 101"));
    const QByteArray full = upgrade(lobby, "127.0.0.7");
    QVERIFY2(full.startsWith("HTTP/1.1 503") && full.contains("one address"), full.constData());
    QVERIFY(upgrade(lobby, "127.0.0.8").startsWith("HTTP/1.1 101"));
}

// Input that is not what the API takes gets a 4xx naming the field, and nothing changes.
void TestApi::badInputIsRefusedAndChangesNothing()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8();
    QVERIFY(server.start("venue.csv"));
    const zev::RegisterImage before = sim.registers();
    const QString registers = server.url("/api/v1/rooms/stage/registers");
    struct Case {
        QByteArray body;
        int status;
        QString field;
    };
    const QList<Case> cases = {
        {"{not json", 400, "body"},
        {QByteArray(200, '[') + QByteArray(200, ']'), 400, "body"},
        {R"({"registers":[]})", 400, "registers"},
        {R"({"registers":[{"name":"MusicVolumeTrackBar","value":20}],"more":1})", 400, "more"},
        {patch("NoSuchTrackBar", "value", 1), 422, "registers[0]"},
        {patch("MusicVolumeTrackBar", "value", 300), 422, "registers[0]"},
        {patch("MusicVolumeTrackBar", "shown", "200dB"), 422, "registers[0]"},
        {R"({"registers":[{"name":"MusicVolumeTrackBar","value":20,"shown":"60dB"}]})", 422,
         "registers[0]"},
    };
    for (const Case &c : cases) {
        const testing::HttpReply reply = testing::http(
            "PATCH", registers, c.body, {{"Authorization", token}, {"Content-Type", kJson}});
        QVERIFY2(reply.status == c.status, c.body.constData());
        QCOMPARE(reply.headers.value("content-type"), QByteArray("application/problem+json"));
        QCOMPARE(reply.json()["field"].toString(), c.field);
    }
    QCOMPARE(testing::http("PATCH", registers, patch("MusicVolumeTrackBar", "value", 1),
                           {{"Authorization", token}, {"Content-Type", "text/plain"}})
                 .status,
             415);
    QCOMPARE(testing::http("PATCH", registers, QByteArray(10 * 1024 * 1024, ' '),
                           {{"Authorization", token}, {"Content-Type", kJson}})
                 .status,
             413);
    QCOMPARE(
        testing::http("GET", server.url("/api/v1/rooms/elsewhere"), {}, {{"Authorization", token}})
            .json()["field"],
        "room");
    const QByteArray escape = testing::rawHttp(
        server.api, "GET /api/v1/rooms/%2e%2e/server HTTP/1.1\r\nHost: 127.0.0.1:" +
                        QByteArray::number(server.api) + "\r\nAuthorization: " + token +
                        "\r\nConnection: close\r\n\r\n");
    QVERIFY2(escape.startsWith("HTTP/1.1 404 "), escape.constData());
    const QByteArray smuggled = testing::rawHttp(
        server.api, "POST /api/v1/login HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: "
                    "chunked\r\nContent-Length: 4\r\n\r\n0\r\n\r\n");
    QVERIFY2(smuggled.startsWith("HTTP/1.1 501 ") && smuggled.contains("Connection: close"),
             smuggled.constData());
    QCOMPARE(sim.registers(), before);

    // Writes beyond a client's rate: four requests of all 56 registers at once (as they are),
    // the fourth past the burst of 200.
    QJsonArray all;
    for (const QJsonValue &r :
         testing::http("GET", server.url("/api/v1/rooms/stage"), {}, {{"Authorization", token}})
             .json()["registers"]
             .toArray())
        all.append(QJsonObject{{"name", r["name"]}, {"value", r["value"]}});
    const QByteArray everything = QJsonDocument(QJsonObject{{"registers", all}}).toJson();
    QNetworkAccessManager manager;
    QList<int> statuses;
    for (int i = 0; i < 4; ++i) {
        QNetworkRequest request{QUrl(registers)};
        request.setRawHeader("Authorization", token);
        request.setRawHeader("Content-Type", kJson);
        QNetworkReply *reply = manager.sendCustomRequest(request, "PATCH", everything);
        QObject::connect(reply, &QNetworkReply::finished, reply, [&statuses, reply] {
            statuses.append(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
            reply->deleteLater();
        });
    }
    QVERIFY(QTest::qWaitFor([&] { return statuses.size() == 4; }, 20000));
    QCOMPARE(statuses.count(200), 3);
    QCOMPARE(statuses.count(429), 1);
    QCOMPARE(sim.registers(), before);
}

// A room's changes as its history, newest first, with who made them; undo takes the last one,
// the last two, the last ten, or those since a time back through the room's queue, and an undo is
// itself no change to undo; desk users undo nothing.
void TestApi::historyAndUndo()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    QVERIFY(testing::addUser(server.state, "front", "desk", "desk-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8();
    const QByteArray deskToken = "Bearer " + testing::addToken(server.state, "front", "t").toUtf8();
    QVERIFY(server.start("venue.csv"));
    const QString registers = server.url("/api/v1/rooms/stage/registers");
    const QString undo = server.url("/api/v1/rooms/stage/undo");
    const QMap<QByteArray, QByteArray> headers{{"Authorization", token}, {"Content-Type", kJson}};
    for (const auto &[name, value] : {std::pair{"MusicVolumeTrackBar", 28},
                                      {"MusicVolumeTrackBar", 30},
                                      {"MicVolumeTrackBar", 20}})
        QCOMPARE(testing::http("PATCH", registers, patch(name, "value", value), headers).status,
                 200);

    const QJsonArray changes =
        testing::http("GET", server.url("/api/v1/rooms/stage/history?limit=2"), {}, headers)
            .json()["changes"]
            .toArray();
    QCOMPARE(changes.size(), 2);
    QCOMPARE(changes[0]["name"], "MicVolumeTrackBar");
    QCOMPARE(changes[0]["beforeShown"], "75dB");
    QCOMPARE(changes[1]["afterShown"], "58dB");
    QCOMPARE(changes[1]["user"], "tech");

    QCOMPARE(testing::http("POST", undo, {}, {{"Authorization", deskToken}}).status, 403);
    testing::HttpReply reply = testing::http("POST", undo, {}, headers);
    QCOMPARE(reply.status, 200);
    QCOMPARE(int(sim.registers()[kMicVolume]), 13);
    // The two changes before it: the volume as it was before the first.
    reply = testing::http("POST", undo, R"({"count":2})", headers);
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json()["undone"].toArray().size(), 2);
    QCOMPARE(int(sim.registers()[kMusicVolume]), 20);
    QCOMPARE(testing::http("POST", undo, {}, headers).status, 409);
    const QJsonArray after =
        testing::http("GET", server.url("/api/v1/rooms/stage/history"), {}, headers)
            .json()["changes"]
            .toArray();
    QCOMPARE(after.size(), 5);
    QCOMPARE(after[0]["undoes"].toArray().size(), 2);
    QVERIFY(after[2]["undone"].toBool() && after[3]["undone"].toBool() &&
            after[4]["undone"].toBool());
    // Ten changes undone at once: the volume as it was before the first of them.
    for (int i = 0; i < 10; ++i)
        QCOMPARE(testing::http("PATCH", registers, patch("MusicVolumeTrackBar", "value", 50 + i),
                               headers)
                     .status,
                 200);
    reply = testing::http("POST", undo, R"({"count":10})", headers);
    QCOMPARE(reply.json()["undone"].toArray().size(), 10);
    QCOMPARE(int(sim.registers()[kMusicVolume]), 20);
    // A change made after a time, undone back to that time.
    const QString since =
        testing::http("GET", server.url("/api/v1/rooms/stage/history?limit=1"), {}, headers)
            .json()["changes"][0]["time"]
            .toString();
    // The next change is made after that time, by the server's clock and ours alike.
    QVERIFY(QTest::qWaitFor([&] {
        return QDateTime::currentDateTimeUtc() > QDateTime::fromString(since, Qt::ISODateWithMs);
    }));
    QCOMPARE(testing::http("PATCH", registers, patch("MusicVolumeTrackBar", "value", 40), headers)
                 .status,
             200);
    reply =
        testing::http("POST", undo, QJsonDocument(QJsonObject{{"since", since}}).toJson(), headers);
    QCOMPARE(reply.status, 200);
    QCOMPARE(int(sim.registers()[kMusicVolume]), 20);
    QCOMPARE(testing::http("POST", undo, R"({"since":"yesterday"})", headers).json()["field"],
             "since");
}

// Presets are parameter files in the state folder that zev720ctl reads as they are: stored
// from a room, uploaded as a .dat or as show --json, downloaded; a name that could reach
// outside the folder or shadow another preset is refused. A recall into four rooms reports
// each: ok (one already equal, one written), differs (a unit that stores another value, with
// the control), failed (a room that is not there, with the reason).
void TestApi::presetsStoredAndRecalled()
{
    Sim a, b;
    Sim c(QStringList{"--mangle", "16"});
    QVERIFY(testing::writeFile("venue.csv", ("a, " + a.path() + "\nb, " + b.path() + "\nc, " +
                                             c.path() + "\nd, /dev/zev720-not-here\n")
                                                .toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    QVERIFY(testing::addUser(server.state, "front", "desk", "desk-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8();
    const QByteArray desk = "Bearer " + testing::addToken(server.state, "front", "t").toUtf8();
    QVERIFY(server.start("venue.csv", "d: offline"));
    QVERIFY(server.waitFor("c: online") && server.waitFor("b: online") &&
            server.waitFor("a: online"));
    const QMap<QByteArray, QByteArray> json{{"Authorization", token}, {"Content-Type", kJson}};
    QCOMPARE(testing::http("PATCH", server.url("/api/v1/rooms/a/registers"),
                           patch("MusicVolumeTrackBar", "value", 28), json)
                 .status,
             200);
    const QString house = server.url("/api/v1/presets/house");
    QCOMPARE(testing::http("PUT", house, R"({"fromRoom":"a"})", json).status, 200);
    const QString stored = server.state + "/presets/house.dat";
    QCOMPARE(testing::readFile(stored).size(), 5632);
    QString shown;
    QCOMPARE(run({"zev720ctl", "show", stored, "--json"}, &shown), 0);
    QVERIFY(shown.contains("\"shown\": \"60dB\""));

    const testing::HttpReply dat =
        testing::http("GET", house + "?format=dat", {}, {{"Authorization", token}});
    QCOMPARE(dat.body, testing::readFile(stored));
    QVERIFY(dat.headers.value("content-disposition").contains("house.dat"));
    QByteArray louder = dat.body;
    louder[kMicVolume] = char(0x30);
    QCOMPARE(testing::http("PUT", server.url("/api/v1/presets/loud"), louder,
                           {{"Authorization", token}, {"Content-Type", "application/octet-stream"}})
                 .status,
             200);
    const QByteArray asJson = testing::http("GET", house, {}, {{"Authorization", token}}).body;
    QCOMPARE(
        testing::http("PUT", server.url("/api/v1/presets/%E5%91%A8%E4%BA%94"), asJson, json).status,
        200);
    QCOMPARE(testing::readFile(server.state + "/presets/周五.dat"), dat.body);
    QCOMPARE(testing::http("GET", server.url("/api/v1/presets"), {}, json)
                 .json()["presets"]
                 .toArray()
                 .size(),
             3);
    QCOMPARE(
        testing::http("PUT", server.url("/api/v1/presets/.hidden"), R"({"fromRoom":"a"})", json)
            .json()["field"],
        "preset");
    for (const char *bad :
         {"/api/v1/presets/a%5Cb", "/api/v1/presets/%2E%2E", "/api/v1/presets/a%2Fb"})
        QCOMPARE(testing::http("PUT", server.url(bad), R"({"fromRoom":"a"})", json).status, 404);
    QCOMPARE(testing::http("PUT", server.url("/api/v1/presets/HOUSE"), R"({"fromRoom":"a"})", json)
                 .status,
             409);
    QCOMPARE(testing::http("PUT", server.url("/api/v1/presets/short"), "abc",
                           {{"Authorization", token}, {"Content-Type", "application/octet-stream"}})
                 .status,
             422);
    QCOMPARE(testing::http("PUT", server.url("/api/v1/presets/x"), R"({"fromRoom":"a"})",
                           {{"Authorization", desk}, {"Content-Type", kJson}})
                 .status,
             403);
    QVERIFY(!QFile::exists(server.state + "/presets/x.dat"));

    EventClient events;
    QVERIFY(events.open(server.api, {{"Authorization", token}}));
    const testing::HttpReply recalled =
        testing::http("POST", house + "/recall", R"({"rooms":["a","b","c","d"]})",
                      {{"Authorization", desk}, {"Content-Type", kJson}});
    QCOMPARE(recalled.status, 200);
    const QJsonArray results = recalled.json()["results"].toArray();
    QCOMPARE(results.size(), 4);
    QCOMPARE(results[0]["result"], "ok");
    QCOMPARE(results[1]["result"], "ok");
    QVERIFY2(results[2]["result"] == "differs", qPrintable(recalled.body));
    QCOMPARE(results[2]["differs"].toArray(), QJsonArray{"MusicVolumeTrackBar"});
    // The unit keeps one more than it is given: the difference says both.
    const QJsonObject kept = results[2]["differences"][0].toObject();
    QCOMPARE(kept["name"], "MusicVolumeTrackBar");
    QCOMPARE(kept["b"]["value"].toInt(), kept["a"]["value"].toInt() + 1);
    QCOMPARE(results[3]["result"], "failed");
    QVERIFY(results[3]["detail"].toString().contains("offline"));
    QCOMPARE(int(b.registers()[kMusicVolume]), 28);
    QVERIFY(events.waitFor(
        [](const QJsonObject &m) { return m["type"] == "recall" && m["result"]["room"] == "d"; }));
    QCOMPARE(testing::http("DELETE", house, {}, {{"Authorization", token}}).status, 200);
    QVERIFY(!QFile::exists(stored));
    QCOMPARE(testing::http("POST", house + "/recall", R"({"rooms":"all"})", json).status, 404);
}

// A preset holds only what the panel's controls can make, whichever way it comes: a .dat with a
// value past a register's range, or a mode's block with one, is refused naming the register; a
// file put in the folder by hand is named at the start and never recalled. Names: UTF-8 only,
// one preset for names people cannot tell apart, and errors that show no path of the server.
void TestApi::presetsHoldOnlyWhatTheControlsMake()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("a, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    QVERIFY(testing::addUser(server.state, "front", "desk", "desk-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8();
    const QByteArray desk = "Bearer " + testing::addToken(server.state, "front", "t").toUtf8();
    QVERIFY(server.start("venue.csv"));
    const QMap<QByteArray, QByteArray> json{{"Authorization", token}, {"Content-Type", kJson}};
    const QMap<QByteArray, QByteArray> dat{{"Authorization", token},
                                           {"Content-Type", "application/octet-stream"}};
    QString presets = server.url("/api/v1/presets/");
    QCOMPARE(testing::http("PUT", presets + "house", R"({"fromRoom":"a"})", json).status, 200);
    const QByteArray good = testing::http("GET", presets + "house?format=dat", {}, dat).body;
    QCOMPARE(good.size(), 5632);

    QByteArray loud = good;
    loud[kMusicVolume] = char(250);
    testing::HttpReply reply = testing::http("PUT", presets + "loud", loud, dat);
    QCOMPARE(reply.status, 422);
    QCOMPARE(reply.json()["field"], "MusicVolumeTrackBar");
    QByteArray slot = good;
    slot[256 * (4 + 1) + 24] = char(200); // music EQ mode 4's first band
    reply = testing::http("PUT", presets + "slot", slot, dat);
    QCOMPARE(reply.status, 422);
    QVERIFY2(reply.json()["field"].toString().startsWith("slot 4: "), reply.body.constData());
    QVERIFY(!QFile::exists(server.state + "/presets/loud.dat") &&
            !QFile::exists(server.state + "/presets/slot.dat"));

    // One from an earlier version, or copied in by hand.
    QVERIFY(testing::writeFile(server.state + "/presets/old.dat", loud));
    server.stop();
    QVERIFY(server.start("venue.csv"));
    QVERIFY2(server.out.contains("presets: old: MusicVolumeTrackBar: value 250"), qPrintable(server.out));
    presets = server.url("/api/v1/presets/");
    const int frames = int(sim.frames().size());
    reply = testing::http("POST", presets + "old/recall", R"({"rooms":"all"})",
                          {{"Authorization", desk}, {"Content-Type", kJson}});
    QCOMPARE(reply.status, 422);
    QCOMPARE(reply.json()["field"], "MusicVolumeTrackBar");
    const QList<testing::LoggedFrame> after = sim.frames();
    QVERIFY(std::none_of(after.begin() + frames, after.end(),
                         [](const testing::LoggedFrame &f) { return f.address() == kMusicVolume; }));

    QCOMPARE(testing::http("PUT", presets + "%FF", good, dat).status, 400);
    QCOMPARE(testing::http("PUT", presets + "Caf%C3%A9", good, dat).status, 200);   // composed
    reply = testing::http("PUT", presets + "Cafe%CC%81", good, dat);              // decomposed
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json()["stored"], QString::fromUtf8("Caf\xC3\xA9"));
    QCOMPARE(testing::http("PUT", presets + "CAF%C3%89", good, dat).status, 409); // in capitals
    QCOMPARE(testing::http("GET", presets + "cafe%CC%81", {}, json).status, 200);
    QCOMPARE(QDir(server.state + "/presets").entryList({"Caf*"}).size(), 1);
    QVERIFY(QDir().mkpath(server.state + "/presets/dir.dat"));
    reply = testing::http("PUT", presets + "dir", good, dat);
    QCOMPARE(reply.status, 500);
    QVERIFY2(reply.json()["detail"].toString().startsWith("preset 'dir'") &&
                 !reply.body.contains(server.state.toUtf8()),
             reply.body.constData());
}

// Users, tokens, presets and the journal live in the state folder: a restarted server takes
// the same token, has the presets and knows the room's history; the sessions of browsers were the
// old server's.
void TestApi::restartKeepsWhatTheStateFolderHolds()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    QTemporaryDir state;
    QVERIFY(testing::addUser(state.path(), "tech", "technician", "tech-password"));
    const QByteArray token = "Bearer " + testing::addToken(state.path(), "tech", "t").toUtf8();
    QByteArray cookie;
    {
        VenueServer server(state.path());
        QVERIFY(server.start("venue.csv"));
        cookie = login(server, "tech", "tech-password");
        QCOMPARE(testing::http("PATCH", server.url("/api/v1/rooms/stage/registers"),
                               patch("MusicVolumeTrackBar", "value", 28),
                               {{"Authorization", token}, {"Content-Type", kJson}})
                     .status,
                 200);
        QCOMPARE(testing::http("PUT", server.url("/api/v1/presets/house"),
                               R"({"fromRoom":"stage"})",
                               {{"Authorization", token}, {"Content-Type", kJson}})
                     .status,
                 200);
        QCOMPARE(testing::http("GET", server.url("/api/v1/me"), {}, {{"Cookie", cookie}}).status,
                 200);
        server.stop();
        QCOMPARE(server.process.exitCode(), 0);
    }
    VenueServer again(state.path());
    QVERIFY(again.start("venue.csv"));
    const testing::HttpReply me =
        testing::http("GET", again.url("/api/v1/me"), {}, {{"Authorization", token}});
    QCOMPARE(me.status, 200);
    QCOMPARE(me.json()["role"], "technician");
    QCOMPARE(testing::http("GET", again.url("/api/v1/me"), {}, {{"Cookie", cookie}}).status, 401);
    const QJsonObject kept = testing::http("GET", again.url("/api/v1/rooms/stage/history"), {},
                                           {{"Authorization", token}})
                                 .json();
    QCOMPARE(kept["changes"].toArray().size(), 1);
    QCOMPARE(kept["changes"][0]["after"].toInt(), 28);
    QCOMPARE(testing::http("GET", again.url("/api/v1/presets"), {}, {{"Authorization", token}})
                 .json()["presets"][0]["name"],
             "house");
    QVERIFY(QFileInfo(state.filePath("users")).exists());
    QVERIFY(!testing::readFile(state.filePath("users")).contains("tech-password"));
}

// With a certificate and its key the API speaks HTTPS only: the session cookie is Secure and
// __Host- named, browsers are told to keep to HTTPS (HSTS), the pages' origin is https://, and
// the event stream is wss://. Connections that never begin their TLS handshake make way for
// one that does.
void TestApi::httpsWithTheVenuesCertificate()
{
    QProcess openssl;
    openssl.start("openssl",
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-days",
                   "2", "-nodes", "-keyout", "key.pem", "-out", "cert.pem", "-subj",
                   "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    QVERIFY2(openssl.waitForFinished(20000) && openssl.exitCode() == 0,
             openssl.readAllStandardError().constData());
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    QVERIFY(server.start("venue.csv", ": online",
                         {"--certificate", "cert.pem", "--key", "key.pem", "--max-connections", "64"}));
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < 40; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->bind(QHostAddress(QString("127.0.0.%1").arg(2 + i % 4)), 0);
        silent.back()->connectToHost(QHostAddress::LocalHost, server.api);
        QVERIFY(silent.back()->waitForConnected(2000));
    }
    QVERIFY(QTest::qWaitFor([&] {
        return silent.front()->state() == QAbstractSocket::UnconnectedState;
    }));
    QVERIFY(server.out.contains("API: https://127.0.0.1:"));
    QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
    trust.setCaCertificates(QSslCertificate::fromPath("cert.pem"));
    const QString base = QString("https://127.0.0.1:%1").arg(server.api);
    QNetworkAccessManager manager;
    const auto call = [&](const QByteArray &method, const QString &path, const QByteArray &body,
                          const QMap<QByteArray, QByteArray> &headers) {
        QNetworkRequest request{QUrl(base + path)};
        request.setSslConfiguration(trust);
        for (auto it = headers.begin(); it != headers.end(); ++it)
            request.setRawHeader(it.key(), it.value());
        QNetworkReply *reply = manager.sendCustomRequest(request, method, body);
        (void)QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
        reply->deleteLater();
        return std::tuple{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                          reply->rawHeader("Set-Cookie"),
                          reply->rawHeader("Strict-Transport-Security")};
    };
    const auto [status, cookie, hsts] =
        call("POST", "/api/v1/login", R"({"user":"tech","password":"tech-password"})",
             {{"Content-Type", kJson}});
    QCOMPARE(status, 200);
    QVERIFY2(cookie.startsWith("__Host-zev720d_session=") && cookie.contains("; Secure") &&
                 cookie.contains("HttpOnly") && cookie.contains("Path=/"),
             cookie.constData());
    QCOMPARE(hsts, QByteArray("max-age=31536000"));
    const QByteArray session = cookie.split(';').first();
    const QByteArray change = patch("MusicVolumeTrackBar", "value", 28);
    QCOMPARE(std::get<0>(call("PATCH", "/api/v1/rooms/stage/registers", change,
                              {{"Cookie", session}, {"Origin", base.toUtf8()}, {"Content-Type", kJson}})),
             200);
    QCOMPARE(std::get<0>(call("PATCH", "/api/v1/rooms/stage/registers", change,
                              {{"Cookie", session},
                               {"Origin", QString("http://127.0.0.1:%1").arg(server.api).toUtf8()},
                               {"Content-Type", kJson}})),
             403);
    QCOMPARE(int(sim.registers()[kMusicVolume]), 28);
    QWebSocket events;
    events.setSslConfiguration(trust);
    QString hello;
    QObject::connect(&events, &QWebSocket::textMessageReceived, &events,
                     [&hello](const QString &text) { hello = text; });
    QNetworkRequest upgrade{QUrl(QString("wss://127.0.0.1:%1/api/v1/events").arg(server.api))};
    upgrade.setRawHeader("Cookie", session);
    upgrade.setRawHeader("Origin", base.toUtf8());
    events.open(upgrade);
    QVERIFY(QTest::qWaitFor([&] { return hello.contains("\"hello\""); }, 5000));
    // Plain HTTP on the HTTPS port gets nothing.
    QVERIFY(!testing::rawHttp(server.api, "GET /api/v1/me HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                 .startsWith("HTTP/1.1 200"));
}

// The pages are files of their folder, served to anyone who reaches the server by its name:
// nothing outside the folder (dot segments, a link out, a hidden file), nothing that is no
// page's kind, nothing large, nothing but GET.
void TestApi::pagesServedFromTheirFolderAlone()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    QVERIFY(QDir().mkpath("pages/js"));
    QVERIFY(testing::writeFile("pages/index.html", "<!doctype html><title>x</title>"));
    QVERIFY(testing::writeFile("pages/js/a.js", "export const a = 1;"));
    QVERIFY(testing::writeFile("pages/.secret.html", "hidden"));
    QVERIFY(testing::writeFile("pages/tool.exe", "MZ"));
    QVERIFY(testing::writeFile("pages/big.js", QByteArray(3 * 1024 * 1024, ' ')));
    QVERIFY(testing::writeFile("outside.html", "outside"));
    QVERIFY(QFile::link(QDir::current().absoluteFilePath("outside.html"), "pages/link.html"));
    VenueServer server;
    QVERIFY(server.start("venue.csv", ": online", {"--web", "pages"}));
    testing::HttpReply page = testing::http("GET", server.url("/"));
    QCOMPARE(page.status, 200);
    QCOMPARE(page.headers.value("content-type"), QByteArray("text/html; charset=utf-8"));
    QVERIFY(page.headers.value("content-security-policy").contains("default-src 'self'"));
    QCOMPARE(testing::http("GET", server.url("/js/a.js")).headers.value("content-type"),
             QByteArray("text/javascript; charset=utf-8"));
    for (const char *path :
         {"/.secret.html", "/tool.exe", "/big.js", "/link.html", "/js", "/nope.html"})
        QVERIFY2(testing::http("GET", server.url(path)).status == 404, path);
    const QByteArray port = QByteArray::number(server.api);
    for (const QByteArray &target :
         {QByteArray("/../outside.html"), QByteArray("/js/%2e%2e/%2e%2e/outside.html"),
          QByteArray("/js%2f..%2f..%2foutside.html")})
        QVERIFY2(testing::rawHttp(server.api, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                                  port + "\r\nConnection: close\r\n\r\n")
                     .startsWith("HTTP/1.1 404 "),
                 target.constData());
    QVERIFY(testing::rawHttp(server.api, "GET / HTTP/1.1\r\nHost: attacker.example:" + port +
                                             "\r\nConnection: close\r\n\r\n")
                .startsWith("HTTP/1.1 421 "));
    QCOMPARE(testing::http("POST", server.url("/index.html"), "x").status, 405);
    // The API behind the pages still asks who it is.
    QCOMPARE(testing::http("GET", server.url("/api/v1/rooms")).status, 401);
}

QTEST_GUILESS_MAIN(TestApi)
#include "tst_api.moc"
