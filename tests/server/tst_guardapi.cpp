// What guards and keeps the rooms, as zev720d's clients meet it: users bound to rooms, limits,
// the schedule, a desk user's own undo, changes at the unit, snapshots and backups, through the real server, its HTTP and WebSocket API,
// and emulators on pseudo-terminals, on this machine's loopback. The schedule's hours come
// from a clock file the test writes (ZEV720D_CLOCK_FILE), in a zone it sets (TZ).
#include "server/Api.h"
#include "support/Server.h"
#include "support/Sim.h"
#include "support/Webhook.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using testing::EventClient;
using testing::Sim;
using testing::VenueServer;

namespace {

const QByteArray kJson = "application/json";

QByteArray patchValue(const QString &name, const QString &shown)
{
    return QJsonDocument(QJsonObject{{"registers", QJsonArray{QJsonObject{{"name", name}, {"shown", shown}}}}})
        .toJson(QJsonDocument::Compact);
}

QString shownOf(const QJsonObject &room, const QString &name)
{
    for (const QJsonValue &r : room["registers"].toArray())
        if (r["name"] == name) return r["shown"].toString();
    return {};
}

/// Sets the clock file to a local time of Asia/Shanghai.
bool setClock(const QString &path, const char *local)
{
    const QDateTime at(QDateTime::fromString(local, Qt::ISODate).date(),
                       QDateTime::fromString(local, Qt::ISODate).time(), QTimeZone("Asia/Shanghai"));
    return testing::writeFile(path, at.toUTC().toString(Qt::ISODate).toUtf8());
}

struct Venue {
    QTemporaryDir scratch;
    Sim k01, k02, vip;
    VenueServer server;
    QMap<QByteArray, QByteArray> tech, desk, bound;
    bool start(const QStringList &extra = {})
    {
        if (!testing::writeFile("venue.csv", ("K01, " + k01.path() + "\nK02, " + k02.path() +
                                              "\nVIP1, " + vip.path() + "\n").toUtf8()) ||
            !testing::addUser(server.state, "tech", "technician", "tech-password") ||
            !testing::addUser(server.state, "front", "desk", "desk-password") ||
            !testing::addUser(server.state, "k01", "desk", "k01-password", {"--rooms", "K01,VIP1"}))
            return false;
        tech = {{"Authorization", "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8()},
                {"Content-Type", kJson}};
        desk = {{"Authorization", "Bearer " + testing::addToken(server.state, "front", "t").toUtf8()},
                {"Content-Type", kJson}};
        bound = {{"Authorization", "Bearer " + testing::addToken(server.state, "k01", "t").toUtf8()},
                 {"Content-Type", kJson}};
        if (!server.start("venue.csv", ": online", extra)) {
            qWarning("%s", qPrintable(server.out + QString::fromUtf8(server.process.readAllStandardError())));
            return false;
        }
        for (int i = 0; i < 200 && server.out.count(": online") < 3; ++i) server.waitFor("\n\n", 100);
        if (server.out.count(": online") < 3) qWarning("%s", qPrintable(server.out));
        return server.out.count(": online") >= 3;
    }
    testing::HttpReply call(const QByteArray &method, const QString &path,
                            const QMap<QByteArray, QByteArray> &who, const QByteArray &body = {})
    {
        return testing::http(method, server.url(path), body, who);
    }
};

} // namespace

class TestGuardApi : public QObject {
    Q_OBJECT
private slots:
    void aUserBoundToRoomsSeesAndChangesThemAlone();
    void limitsHeldAndToldThroughTheApi();
    void aScheduleRunsOnTheServersClock();
    void aRoomsTabletReachesThatRoomAlone();
    void aChangeAtTheUnitIsTakenAndTold();
    void snapshotsEachNightAndOnDemand();
    void aUnitThatLostItsSettingsWhileTheServerWasDownIsFoundOut();
    void aBackupPutsTheVenueBackOnANewMachine();
    void aWebhookIsToldOfRoomsAwayBackAndLost();

private:
    testing::WorkingFolder m_folder; // the venue files of its own
};

void TestGuardApi::aUserBoundToRoomsSeesAndChangesThemAlone()
{
    Venue venue;
    QVERIFY(venue.start());
    QProcess list;
    list.start(testing::buildDir() + "/zev720d", {"user", "list", "--state", venue.server.state});
    QVERIFY(list.waitForFinished(10000));
    QVERIFY(QString::fromUtf8(list.readAllStandardOutput()).contains("k01 desk rooms K01,VIP1"));
    QCOMPARE(venue.call("GET", "/api/v1/me", venue.bound).json()["rooms"], "K01,VIP1");
    // Its rooms alone, in the list, the events and every route of a room.
    const QJsonArray rooms = venue.call("GET", "/api/v1/rooms", venue.bound).json()["rooms"].toArray();
    QCOMPARE(rooms.size(), 2);
    QCOMPARE(rooms[1]["name"], "VIP1");
    EventClient events;
    QVERIFY(events.open(venue.server.api, {{"Authorization", venue.bound["Authorization"]}}));
    QCOMPARE(events.messages.first()["rooms"].toArray().size(), 2);
    for (const auto &[method, path, body] :
         {std::tuple<QByteArray, QString, QByteArray>{"GET", "/api/v1/rooms/K02", {}},
          {"GET", "/api/v1/rooms/K02/history", {}},
          {"PATCH", "/api/v1/rooms/K02/registers", patchValue("MusicVolumeTrackBar", "50dB")},
          {"POST", "/api/v1/rooms/K02/lock", {}},
          {"POST", "/api/v1/rooms/K02/undo", R"({"ids":[1]})"}}) {
        const testing::HttpReply reply = venue.call(method, path, venue.bound, body);
        QCOMPARE(reply.status, 403);
        QCOMPARE(reply.json()["code"], "not-your-room");
    }
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K02/registers", venue.desk,
                        patchValue("MusicVolumeTrackBar", "51dB")).status, 200);
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.bound,
                        patchValue("MusicVolumeTrackBar", "52dB")).status, 200);
    QVERIFY(events.waitFor([](const QJsonObject &m) { return m["type"] == "change" && m["room"] == "K01"; }));
    QVERIFY(std::none_of(events.messages.begin(), events.messages.end(),
                         [](const QJsonObject &m) { return m["room"] == "K02"; }));
    // A recall into "all" is into its rooms; naming another recalls nothing.
    QCOMPARE(venue.call("PUT", "/api/v1/presets/quiet", venue.tech, R"({"fromRoom":"K02"})").status, 200);
    QCOMPARE(venue.call("POST", "/api/v1/presets/quiet/recall", venue.bound, R"({"rooms":["K01","K02"]})").status, 403);
    const testing::HttpReply recalled =
        venue.call("POST", "/api/v1/presets/quiet/recall", venue.bound, R"({"rooms":"all"})");
    QCOMPARE(recalled.status, 200);
    QCOMPARE(recalled.json()["results"].toArray().size(), 2);
    QCOMPARE(venue.call("GET", "/api/v1/presets/quiet/compare", venue.bound).json()["rooms"].toArray().size(), 2);
    // A desk user undoes their own slip by its ids; a technician's change is not theirs.
    const testing::HttpReply slip = venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.bound,
                                               patchValue("MicVolumeTrackBar", "30dB"));
    const QByteArray ids = QJsonDocument(QJsonObject{{"ids", slip.json()["ids"]}}).toJson();
    QCOMPARE(venue.call("POST", "/api/v1/rooms/K01/undo", venue.desk, ids).json()["code"], "not-own-change");
    QCOMPARE(venue.call("POST", "/api/v1/rooms/K01/undo", venue.bound, ids).status, 200);
    QVERIFY(shownOf(venue.call("GET", "/api/v1/rooms/K01", venue.bound).json(), "MicVolumeTrackBar") != "30dB");
}

void TestGuardApi::limitsHeldAndToldThroughTheApi()
{
    Venue venue;
    QVERIFY(venue.start());
    const QByteArray limits = R"({"limits": [
        {"register": "MusicVolumeTrackBar", "role": "desk", "max": "70dB"},
        {"register": "MusicVolumeTrackBar", "role": "desk", "max": "60dB", "rooms": "VIP1"}]})";
    QCOMPARE(venue.call("PUT", "/api/v1/limits", venue.desk, limits).status, 403);
    testing::HttpReply reply = venue.call("PUT", "/api/v1/limits", venue.tech,
                                          "{\"limits\": [\n{\"register\": \"MusicVolumeTrackBar\", \"role\": \"desk\", \"max\": \"99dB\"}]}");
    QCOMPARE(reply.status, 422);
    QVERIFY(reply.json()["detail"].toString().contains("line 2: limits[0].max: '99dB'"));
    QCOMPARE(venue.call("GET", "/api/v1/limits", venue.desk).json()["limits"].toArray().size(), 0);
    EventClient events;
    QVERIFY(events.open(venue.server.api, {{"Authorization", venue.desk["Authorization"]}}));
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.tech,
                        R"({"registers":[{"name":"MusicMaxVolumeTrackBar","shown":"88dB"}]})").status, 200);
    QCOMPARE(venue.call("PUT", "/api/v1/limits", venue.tech, limits).status, 200);
    QVERIFY(events.waitFor([](const QJsonObject &m) { return m["type"] == "limits"; }));
    const QJsonArray listed = venue.call("GET", "/api/v1/limits", venue.desk).json()["limits"].toArray();
    QCOMPARE(listed.size(), 2);
    QVERIFY(listed[0]["inForce"].toBool());
    // Past the limit: held at it, and said per register.
    reply = venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.desk, patchValue("MusicVolumeTrackBar", "80dB"));
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.json()["limited"].toBool());
    QCOMPARE(reply.json()["limits"][0]["limited"], "70dB");
    QCOMPARE(reply.json()["limits"][0]["name"], "MusicVolumeTrackBar");
    const QJsonObject room = venue.call("GET", "/api/v1/rooms/K01", venue.desk).json();
    QCOMPARE(shownOf(room, "MusicVolumeTrackBar"), "70dB");
    QCOMPARE(room["limitEnds"]["desk"]["MusicVolumeTrackBar"].toArray().first(), "top");
    // A step at the limit changes nothing and says why; a technician goes past it.
    reply = venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.desk,
                       R"({"registers":[{"name":"MusicVolumeTrackBar","step":1}]})");
    QCOMPARE(reply.json()["limits"][0]["limited"], "70dB");
    QCOMPARE(reply.json()["registers"].toArray().size(), 0);
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.tech,
                        patchValue("MusicVolumeTrackBar", "80dB")).json()["limits"], QJsonValue());
    // A desk user's recall is held per room.
    QCOMPARE(venue.call("PUT", "/api/v1/presets/loud", venue.tech, R"({"fromRoom":"K01"})").status, 200);
    const QJsonArray results = venue.call("POST", "/api/v1/presets/loud/recall", venue.desk,
                                          R"({"rooms":["K02","VIP1"]})").json()["results"].toArray();
    QCOMPARE(results[0]["limited"][0]["limited"], "70dB");
    QCOMPARE(results[1]["limited"][0]["limited"], "60dB");
    // Per room in the metrics: held registers counted, the desk's bars as they show.
    const QByteArray metrics = venue.call("GET", "/metrics", venue.tech).body;
    QVERIFY(metrics.contains("zev720d_limited_total{room=\"K01\"} 2\n"));
    QVERIFY(metrics.contains("zev720d_limited_total{room=\"K02\"} 1\n"));
    QVERIFY(metrics.contains("zev720d_register{room=\"K01\",register=\"MusicVolumeTrackBar\"} 80\n"));
    QVERIFY(metrics.contains("zev720d_room_up{room=\"VIP1\"} 1\n"));
    QVERIFY(metrics.contains("zev720d_room_state{room=\"K02\",state=\"online\",reason=\"\"} 1\n"));
    QVERIFY(metrics.contains("zev720d_room_at_limit{room=\"K01\",register=\"MusicVolumeTrackBar\",role=\"desk\",bound=\"max\"} 1\n"));
    // As Prometheus's own parser reads it, where Prometheus is installed.
    if (const QString promtool = QStandardPaths::findExecutable("promtool"); !promtool.isEmpty()) {
        QProcess check;
        check.start(promtool, {"check", "metrics"});
        check.write(metrics);
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished(20000));
        QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
    }
    // Kept in the state folder, read again at a start.
    venue.server.stop();
    QVERIFY(venue.server.start("venue.csv"));
    QVERIFY(venue.server.out.contains("limits: 2"));
}

void TestGuardApi::aScheduleRunsOnTheServersClock()
{
    Venue venue;
    const QString clock = venue.scratch.filePath("clock");
    QVERIFY(setClock(clock, "2026-12-10T21:59:00"));
    qputenv("ZEV720D_CLOCK_FILE", clock.toUtf8());
    qputenv("TZ", "Asia/Shanghai");
    const bool started = venue.start();
    qunsetenv("ZEV720D_CLOCK_FILE");
    qunsetenv("TZ");
    QVERIFY(started);
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K02/registers", venue.tech,
                        R"({"registers":[{"name":"MusicMaxVolumeTrackBar","shown":"88dB"},{"name":"MusicVolumeTrackBar","shown":"61dB"}]})").status, 200);
    QCOMPARE(venue.call("PUT", "/api/v1/presets/深夜", venue.tech, R"({"fromRoom":"K02"})").status, 200);
    const QByteArray schedule = R"({"entries": [
        {"name": "late", "at": "22:00", "recall": "深夜", "rooms": "K01"},
        {"name": "closing", "at": "02:00", "days": ["fri", "sat"], "lock": true}]})";
    QCOMPARE(venue.call("PUT", "/api/v1/schedule", venue.desk, schedule).status, 403);
    testing::HttpReply reply = venue.call("PUT", "/api/v1/schedule", venue.tech, schedule);
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json()["zone"], "Asia/Shanghai");
    // Tonight (Thursday 21:59): 22:00 into K01, then Friday's 02:00 lock in every room.
    const QJsonArray tonight = reply.json()["tonight"].toArray();
    QCOMPARE(tonight.size(), 2);
    QCOMPARE(tonight[0]["at"], "2026-12-10T22:00:00+08:00");
    QCOMPARE(tonight[0]["rooms"].toArray(), QJsonArray{"K01"});
    QCOMPARE(tonight[1]["at"], "2026-12-11T02:00:00+08:00");
    QCOMPARE(tonight[1]["rooms"].toArray().size(), 3);
    QCOMPARE(venue.call("GET", "/api/v1/schedule", venue.bound).json()["tonight"][1]["rooms"].toArray().size(), 2);
    QVERIFY(setClock(clock, "2026-12-10T22:00:05"));
    QVERIFY(venue.server.waitFor("schedule: late ran", 10000));
    QTRY_COMPARE(shownOf(venue.call("GET", "/api/v1/rooms/K01", venue.tech).json(), "MusicVolumeTrackBar"), "61dB");
    const QJsonObject last = venue.call("GET", "/api/v1/rooms/K01/history?limit=1", venue.tech).json()["changes"][0].toObject();
    QCOMPARE(last["user"], "schedule");
    QCOMPARE(last["through"], "schedule");
    QVERIFY(last["time"].toString().startsWith("2026-12-10T14:00:0"));
}

void TestGuardApi::aRoomsTabletReachesThatRoomAlone()
{
    Venue venue;
    QVERIFY(venue.start());
    QCOMPARE(venue.call("PUT", "/api/v1/limits", venue.tech,
                        R"({"limits": [{"register": "MicVolumeTrackBar", "role": "guest", "max": "60dB"}]})").status, 200);
    const QByteArray ask = R"({"until": "06:00", "registers": ["EchoLevelTrackBar"]})";
    QCOMPARE(venue.call("POST", "/api/v1/rooms/K01/links", venue.desk, ask).status, 403);
    testing::HttpReply made = venue.call("POST", "/api/v1/rooms/K01/links", venue.tech, ask);
    QCOMPARE(made.status, 201);
    const QString url = made.json()["url"].toString();
    QVERIFY(url.startsWith(venue.server.url("/guest.html#pair=")));
    const QString code = made.json()["code"].toString();
    QVERIFY(url.endsWith(code));
    const QJsonArray qr = made.json()["qr"].toArray();
    QVERIFY(qr.size() >= 21 && qr[0].toString().size() == qr.size());
    QCOMPARE(venue.call("GET", "/api/v1/rooms/K01", venue.desk).json()["links"], 1);
    // The code pairs once; a wrong or used one slows its place.
    const QMap<QByteArray, QByteArray> page{{"Content-Type", kJson}, {"Origin", venue.server.url("").toUtf8()}};
    const QByteArray body = QJsonDocument(QJsonObject{{"code", code}}).toJson();
    testing::HttpReply paired = testing::http("POST", venue.server.url("/api/v1/pair"), body, page);
    QCOMPARE(paired.status, 200);
    QCOMPARE(paired.json()["room"], "K01");
    QCOMPARE(paired.json()["registers"].toArray().size(), 3);
    const QByteArray cookie = paired.headers.value("set-cookie").split(';').first();
    QVERIFY(paired.headers.value("set-cookie").contains("HttpOnly"));
    const testing::HttpReply again = testing::http("POST", venue.server.url("/api/v1/pair"), body, page);
    QCOMPARE(again.status, 401);
    QCOMPARE(again.json()["code"], "pairing-code-not-good");
    QCOMPARE(testing::http("POST", venue.server.url("/api/v1/pair"), body, page).status, 429);
    QMap<QByteArray, QByteArray> guest = page;
    guest["Cookie"] = cookie;
    // Its room, with its registers alone.
    const QJsonObject room = venue.call("GET", "/api/v1/rooms/K01", guest).json();
    QCOMPARE(room["registers"].toArray().size(), 3);
    // Every other route and room: 403.
    for (const zev::Api::Route &route : zev::Api::routes())
        for (const QString name : {"K01", "K02"}) {
            QString path;
            for (const std::string &segment : route.pattern)
                path += "/" + (segment == "{room}" ? name : segment == "{preset}" ? "p" : QString::fromStdString(segment));
            if (path.contains("/events") || path.contains("/logout")) continue; // below
            const bool allowed = zev::Api::guestMay(route) && name == "K01";
            const testing::HttpReply reply = venue.call(route.method, path, guest,
                                                        route.method == QByteArray("PATCH") ? patchValue("MusicVolumeTrackBar", "40dB") : QByteArray("{}"));
            QVERIFY2(allowed ? reply.status == 200 : reply.status == 403,
                     qPrintable(QString(route.method) + " " + path + ": " + QString::number(reply.status)));
        }
    testing::HttpReply reply = venue.call("PATCH", "/api/v1/rooms/K01/registers", guest,
                                          patchValue("MusicMaxVolumeTrackBar", "80dB"));
    QCOMPARE(reply.json()["code"], "not-guest-register");
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.tech, patchValue("MicVolumeTrackBar", "50dB")).status, 200);
    reply = venue.call("PATCH", "/api/v1/rooms/K01/registers", guest, patchValue("MicVolumeTrackBar", "75dB"));
    QCOMPARE(reply.json()["limits"][0]["limited"], "60dB");
    QCOMPARE(reply.json()["limits"][0]["role"], "guest");
    // Its room's events alone.
    EventClient events;
    QVERIFY(events.open(venue.server.api, {{"Cookie", cookie}, {"Origin", venue.server.url("").toUtf8()}}));
    QCOMPARE(events.messages.first()["rooms"].toArray().size(), 1);
    QCOMPARE(events.messages.first()["guest"].toArray().size(), 3);
    venue.call("PATCH", "/api/v1/rooms/K02/registers", venue.tech, patchValue("MusicVolumeTrackBar", "44dB"));
    venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.tech, patchValue("MusicVolumeTrackBar", "45dB"));
    QVERIFY(events.waitFor([](const QJsonObject &m) { return m["type"] == "change" && m["room"] == "K01"; }));
    QVERIFY(std::none_of(events.messages.begin(), events.messages.end(),
                         [](const QJsonObject &m) { return m["room"] == "K02"; }));
    // The desk ends it: the tablet's session and stream end with it.
    const testing::HttpReply ended = venue.call("DELETE", "/api/v1/rooms/K01/links", venue.desk);
    QCOMPARE(ended.json()["ended"], 1);
    QTRY_VERIFY(!events.connected());
    QCOMPARE(venue.call("GET", "/api/v1/rooms/K01", guest).status, 401);
    // A restarted server asks the tablet for a new code.
    made = venue.call("POST", "/api/v1/rooms/K01/links", venue.tech, R"({"until": "06:00"})");
    // (a good code pairs though wrong ones slowed this place)
    paired = testing::http("POST", venue.server.url("/api/v1/pair"),
                           QJsonDocument(QJsonObject{{"code", made.json()["code"]}}).toJson(), page);
    QCOMPARE(paired.status, 200);
    guest["Cookie"] = paired.headers.value("set-cookie").split(';').first();
    QCOMPARE(venue.call("GET", "/api/v1/rooms/K01", guest).status, 200);
    venue.server.stop();
    QVERIFY(venue.server.start("venue.csv"));
    QCOMPARE(venue.call("GET", "/api/v1/rooms/K01", guest).json()["code"], "restarted");
}

void TestGuardApi::aChangeAtTheUnitIsTakenAndTold()
{
    Venue venue;
    QVERIFY(venue.start({"--verify-interval", "1"}));
    EventClient events;
    QVERIFY(events.open(venue.server.api, {{"Authorization", venue.tech["Authorization"]}}));
    venue.k02.command("set 32 30"); // the unit's own panel: the microphones to 58dB
    QVERIFY(events.waitFor([](const QJsonObject &m) {
        return m["type"] == "change" && m["room"] == "K02" && m["through"] == "unit" &&
               m["register"]["name"] == "MicVolumeTrackBar" && m["register"]["value"] == 30;
    }, 10000));
    const QJsonObject last = venue.call("GET", "/api/v1/rooms/K02/history?limit=1", venue.tech).json()["changes"][0].toObject();
    QCOMPARE(last["user"], "unit");
    QVERIFY(venue.call("GET", "/metrics", venue.tech).body.contains("zev720d_unit_changes_total{room=\"K02\"} 1\n"));
    QCOMPARE(shownOf(venue.call("GET", "/api/v1/rooms/K02", venue.tech).json(), "MicVolumeTrackBar"), "58dB");

    // A unit that lost its settings: marked, kept, restored by a technician with one call.
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.tech, patchValue("MicVolumeTrackBar", "50dB")).status, 200);
    venue.k01.command("factory");
    QTRY_VERIFY_WITH_TIMEOUT(venue.call("GET", "/api/v1/rooms/K01", venue.tech).json().contains("settingsLost"), 10000);
    QVERIFY(venue.call("GET", "/metrics", venue.tech).body.contains("zev720d_room_settings_lost{room=\"K01\"} 1\n"));
    QVERIFY(QFile::exists(venue.server.state + "/snapshots/lost/K01.dat"));
    QCOMPARE(venue.call("POST", "/api/v1/rooms/K01/restore", venue.desk).status, 403);
    QCOMPARE(venue.call("POST", "/api/v1/rooms/K01/restore", venue.tech).status, 200);
    const QJsonObject room = venue.call("GET", "/api/v1/rooms/K01", venue.tech).json();
    QVERIFY(!room.contains("settingsLost"));
    QCOMPARE(shownOf(room, "MicVolumeTrackBar"), "50dB");
    QCOMPARE(venue.call("DELETE", "/api/v1/rooms/K01/settings-lost", venue.tech).json()["code"], "settings-not-lost");
}

void TestGuardApi::snapshotsEachNightAndOnDemand()
{
    Venue venue;
    const QString clock = venue.scratch.filePath("clock");
    QVERIFY(setClock(clock, "2026-12-11T03:59:00"));
    // One kept from long ago, beyond the days kept.
    QVERIFY(QDir().mkpath(venue.server.state + "/snapshots/2026-10-01"));
    qputenv("ZEV720D_CLOCK_FILE", clock.toUtf8());
    qputenv("TZ", "Asia/Shanghai");
    const bool started = venue.start({"--snapshot-at", "04:00", "--snapshot-days", "30"});
    qunsetenv("ZEV720D_CLOCK_FILE");
    qunsetenv("TZ");
    QVERIFY(started);
    QCOMPARE(venue.call("GET", "/api/v1/snapshots", venue.desk).status, 403);
    QCOMPARE(venue.call("GET", "/api/v1/snapshots", venue.tech).json()["dates"].toArray(), QJsonArray{"2026-10-01"});
    // 04:00 on the venue's clock: every room kept, the old one gone.
    QVERIFY(setClock(clock, "2026-12-11T04:00:02"));
    QVERIFY(venue.server.waitFor("snapshot 2026-12-11: 3 rooms kept", 10000));
    QCOMPARE(venue.call("GET", "/api/v1/snapshots", venue.tech).json()["dates"].toArray(), QJsonArray{"2026-12-11"});
    QCOMPARE(testing::readFile(venue.server.state + "/snapshots/2026-12-11/VIP1.dat").size(), 5632);
    // The room changed since: compared with its snapshot, register by register.
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.tech, patchValue("MicVolumeTrackBar", "40dB")).status, 200);
    QCOMPARE(venue.call("GET", "/api/v1/rooms/K01/snapshots", venue.tech).json()["dates"].toArray(), QJsonArray{"2026-12-11"});
    const QJsonArray differences =
        venue.call("GET", "/api/v1/rooms/K01/snapshots/2026-12-11", venue.tech).json()["differences"].toArray();
    QCOMPARE(differences.size(), 1);
    QCOMPARE(differences[0]["name"], "MicVolumeTrackBar");
    QCOMPARE(differences[0]["b"]["shown"], "40dB");
    QCOMPARE(venue.call("GET", "/api/v1/rooms/K01/snapshots/2026-12-01", venue.tech).json()["code"], "no-such-snapshot");
    QCOMPARE(venue.call("GET", "/api/v1/rooms/K01/snapshots/2026-13-01", venue.tech).status, 400);
    // On demand, the same day: replaced.
    const QJsonObject taken = venue.call("POST", "/api/v1/snapshots", venue.tech).json();
    QCOMPARE(taken["rooms"].toArray().size(), 3);
    QCOMPARE(venue.call("GET", "/api/v1/rooms/K01/snapshots/2026-12-11", venue.tech).json()["differences"].toArray().size(), 0);
}

void TestGuardApi::aUnitThatLostItsSettingsWhileTheServerWasDownIsFoundOut()
{
    // A power cut takes the server's PC and the units alike.
    Venue venue;
    QVERIFY(venue.start());
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.tech, patchValue("MicVolumeTrackBar", "50dB")).status, 200);
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K02/registers", venue.tech, patchValue("MicVolumeTrackBar", "44dB")).status, 200);
    venue.server.stop();
    venue.k01.command("factory");
    QVERIFY(venue.server.start("venue.csv", "K01: settings lost"));
    QVERIFY(venue.server.waitFor("K02: online"));
    QVERIFY(venue.call("GET", "/api/v1/rooms/K01", venue.tech).json().contains("settingsLost"));
    QVERIFY(!venue.call("GET", "/api/v1/rooms/K02", venue.tech).json().contains("settingsLost"));
    // A start before the restore finds it again; the restore puts it back.
    venue.server.stop();
    QVERIFY(venue.server.start("venue.csv", "K01: settings lost"));
    QCOMPARE(venue.call("POST", "/api/v1/rooms/K01/restore", venue.tech).status, 200);
    QCOMPARE(shownOf(venue.call("GET", "/api/v1/rooms/K01", venue.tech).json(), "MicVolumeTrackBar"), "50dB");
    venue.server.stop();
    QVERIFY(venue.server.start("venue.csv", "K01: online"));
    QVERIFY(!venue.server.waitFor("settings lost", 1500));
}

namespace {

/// Every file under `folder` but those a backup leaves out, by its path inside.
QMap<QString, QByteArray> keptFiles(const QString &folder)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString inside = QDir(folder).relativeFilePath(it.next());
        if (inside == "users" || inside.startsWith("journal") || inside == "schedule-state.json" ||
            inside.startsWith("known/"))
            continue;
        out[inside] = testing::readFile(it.filePath());
    }
    return out;
}

struct Run {
    int code = -1;
    QString out, err;
};

Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

void TestGuardApi::aBackupPutsTheVenueBackOnANewMachine()
{
    Venue venue;
    QVERIFY(venue.start());
    // A name longer than a tar header holds (99 bytes), and one of plain letters.
    const QString night = QString("夜").repeated(33);
    QCOMPARE(venue.call("PUT", "/api/v1/presets/" + night, venue.tech, R"({"fromRoom":"K01"})").status, 200);
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K02/registers", venue.tech, patchValue("MicVolumeTrackBar", "40dB")).status, 200);
    QCOMPARE(venue.call("PUT", "/api/v1/presets/Quiet", venue.tech, R"({"fromRoom":"K02"})").status, 200);
    QCOMPARE(venue.call("PUT", "/api/v1/limits", venue.tech,
                        R"({"limits": [{"register": "MusicVolumeTrackBar", "role": "desk", "max": "70dB"}]})").status, 200);
    QCOMPARE(venue.call("PUT", "/api/v1/schedule", venue.tech,
                        R"({"entries": [{"name": "late", "at": "22:00", "recall": "Quiet", "rooms": "K01"}]})").status, 200);
    QCOMPARE(venue.call("POST", "/api/v1/snapshots", venue.tech).json()["rooms"].toArray().size(), 3);
    const QString today = venue.call("GET", "/api/v1/snapshots", venue.tech).json()["dates"][0].toString();
    QVERIFY(QDir().mkpath(venue.server.state + "/modes"));
    QVERIFY(QFile::copy(venue.server.state + "/snapshots/" + today + "/K02.dat", venue.server.state + "/modes/K02.dat"));

    QCOMPARE(venue.call("GET", "/api/v1/backup", venue.desk).status, 403);
    const testing::HttpReply backup = venue.call("GET", "/api/v1/backup", venue.tech);
    QCOMPARE(backup.status, 200);
    QCOMPARE(backup.headers["content-type"], "application/gzip");
    QVERIFY(backup.headers["content-disposition"].contains("zev720d-backup-"));
    const QString archive = venue.scratch.filePath("backup.tar.gz");
    QVERIFY(testing::writeFile(archive, backup.body));
    // An archive that GNU tar reads, with no users file in it.
    const Run listed = run("tar", {"-tzf", archive});
    QCOMPARE(listed.code, 0);
    const QStringList names = listed.out.split('\n', Qt::SkipEmptyParts);
    QVERIFY2(names.contains("presets/" + night + ".dat"), qPrintable(listed.out));
    QVERIFY(names.contains("config/venue.csv"));
    QVERIFY(names.contains("modes/K02.dat"));
    QVERIFY(!names.contains("users"));
    const QMap<QString, QByteArray> before = keptFiles(venue.server.state);
    QCOMPARE(before.size(), 8); // 2 presets, 1 room's mode memories, the limits, the schedule, 3 snapshots
    venue.server.stop();

    // A new machine: every file back, byte for byte, the config where it is asked for.
    const QString state = venue.scratch.filePath("new-state"), etc = venue.scratch.filePath("etc");
    const QString zev720d = testing::buildDir() + "/zev720d";
    Run restored = run(zev720d, {"restore", archive, "--state", state, "--config-dir", etc});
    QVERIFY2(restored.code == 0, qPrintable(restored.out + restored.err));
    QVERIFY(restored.out.contains("presets: 2 restored"));
    QVERIFY(restored.out.contains("snapshots: 3 files of 1 dates restored"));
    QCOMPARE(keptFiles(state), before);
    QCOMPARE(testing::readFile(etc + "/venue.csv"), testing::readFile("venue.csv"));
    QVERIFY(!QFile::exists(state + "/users"));

    // Again: nothing to do. A file that differs is kept, and nothing else written, unless --replace.
    restored = run(zev720d, {"restore", archive, "--state", state});
    QCOMPARE(restored.code, 0);
    QVERIFY(restored.out.contains("8 files were there already"));
    QVERIFY(testing::writeFile(state + "/limits.json", R"({"limits": []})"));
    QVERIFY(QFile::remove(state + "/presets/Quiet.dat"));
    restored = run(zev720d, {"restore", archive, "--state", state});
    QCOMPARE(restored.code, 1);
    QVERIFY2(restored.err.contains("limits.json") && restored.err.contains("--replace"), qPrintable(restored.err));
    QVERIFY(!QFile::exists(state + "/presets/Quiet.dat"));
    QCOMPARE(run(zev720d, {"restore", archive, "--state", state, "--replace"}).code, 0);
    QCOMPARE(keptFiles(state), before);

    // The server on the restored folder holds it all.
    testing::VenueServer server(state);
    QVERIFY(testing::addUser(state, "tech", "technician", "tech-password"));
    const QMap<QByteArray, QByteArray> tech{{"Authorization", "Bearer " + testing::addToken(state, "tech", "t").toUtf8()}};
    QVERIFY(server.start(etc + "/venue.csv"));
    QCOMPARE(testing::http("GET", server.url("/api/v1/presets"), {}, tech).json()["presets"].toArray().size(), 2);
    QCOMPARE(testing::http("GET", server.url("/api/v1/limits"), {}, tech).json()["limits"].toArray().size(), 1);
    QCOMPARE(testing::http("GET", server.url("/api/v1/schedule"), {}, tech).json()["entries"].toArray().size(), 1);
    QCOMPARE(testing::http("GET", server.url("/api/v1/snapshots"), {}, tech).json()["dates"].toArray(), QJsonArray{today});
}

void TestGuardApi::aWebhookIsToldOfRoomsAwayBackAndLost()
{
    testing::Webhook hook({500}); // the first post is not taken: tried again
    Venue venue;
    const QString url = "http://127.0.0.1:" + QString::number(hook.port()) + "/hooks/s3cret-token";
    QVERIFY(venue.start({"--notify-url", url, "--notify-after", "2", "--verify-interval", "1"}));
    QCOMPARE(venue.call("PATCH", "/api/v1/rooms/K01/registers", venue.tech, patchValue("MicVolumeTrackBar", "50dB")).status, 200);
    venue.k02.command("silent on"); // switched off
    QVERIFY(hook.waitFor(R"("room":"K02","state":"offline")", 30000));
    QTRY_COMPARE_WITH_TIMEOUT(hook.bodies.size(), 2, 10000); // the same, tried again
    QCOMPARE(hook.bodies[1], hook.bodies[0]);
    QCOMPARE(hook.requests[0], "POST /hooks/s3cret-token");
    const QJsonObject offline = QJsonDocument::fromJson(hook.bodies[1]).object();
    QCOMPARE(offline["reason"], "processor-silent");
    QCOMPARE(offline["text"], "K02: offline for 2 s (processor-silent)");
    QVERIFY(QDateTime::fromString(offline["time"].toString(), Qt::ISODate).isValid());
    // Away means away: its tries to come back do not start the time again, nor tell twice.
    venue.k02.command("silent off");
    QVERIFY(hook.waitFor(R"("room":"K02","state":"online")", 30000));
    QCOMPARE(hook.bodies.size(), 3);
    venue.k01.command("factory");
    QVERIFY(hook.waitFor(R"("room":"K01","state":"settings-lost")", 15000));
    QVERIFY(venue.server.waitFor("notify http://127.0.0.1:" + QString::number(hook.port()) + ": not taken (HTTP 500)"));
    QVERIFY(!venue.server.out.contains("s3cret")); // the webhook's secret is never printed
}

QTEST_MAIN(TestGuardApi)
#include "tst_guardapi.moc"
