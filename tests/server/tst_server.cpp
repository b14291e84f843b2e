// zev720d as its clients meet it: the real server, zev720ctl and the emulator on a
// pseudo-terminal, every connection on this machine's loopback.
#include "model/RegisterMap.h"
#include "server/FramePort.h"
#include "support/Gui.h"
#include "support/Server.h"
#include "support/Sim.h"

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>
#include <csignal>

using testing::Sim;

namespace {

struct Run {
    int status = -1;
    QString out;
};

Run ctl(const QStringList &arguments)
{
    QProcess process;
    process.start(testing::buildDir() + "/zev720ctl", arguments);
    process.waitForFinished(30000);
    return {process.exitCode(),
            QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())};
}

int connects(const Sim &sim)
{
    int count = 0;
    for (const testing::LoggedFrame &frame : sim.frames())
        count += frame.address() == zev::kConnectAddress && frame.value() == zev::kCommandValue;
    return count;
}

} // namespace

class TestServer : public QObject {
    Q_OBJECT
private slots:
    void roomSharedThroughItsFramePort();
    void panelThroughTheServer();
    void roomThatIsNotThereAnswersNothing();
    void clientThatBabblesIsCutOff();
    void framePortTakesNothingButFrames();
    void roomsKeepTheirOwnFramePorts();
    void badArgumentsAndVenues();
    void configFileReadStrictly();

private:
    testing::WorkingFolder m_folder;
};

// Two pulls at once and a verified push through one frame port: the processor's link is the
// server's (one connect), the pushed value is the processor's; SIGTERM releases it.
void TestServer::roomSharedThroughItsFramePort()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    testing::VenueServer server;
    QVERIFY2(server.start("venue.csv"), qPrintable(server.out));
    const QString line = server.ports["stage"];
    QVERIFY(!line.isEmpty());

    QProcess second;
    second.start(testing::buildDir() + "/zev720ctl", {"pull", line, "b.dat"});
    const Run first = ctl({"pull", line, "a.dat"});
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(first.status, 0);
    QCOMPARE(second.exitCode(), 0);
    const zev::RegisterImage held = sim.registers();
    const QByteArray a = testing::readFile("a.dat");
    QCOMPARE(a.size(), 5632);
    QCOMPARE(testing::readFile("b.dat").left(256), a.left(256));
    for (const zev::RegisterRow &row : zev::registerMap())
        QCOMPARE(quint8(a[row.address]), held[row.address]);

    QByteArray tuned = a;
    tuned[32] = char(0x30);
    QVERIFY(testing::writeFile("tuned.dat", tuned));
    const Run push = ctl({"push", line, "tuned.dat"});
    QVERIFY2(push.status == 0 && push.out.contains("written and verified"), qPrintable(push.out));
    QCOMPARE(int(sim.registers()[32]), 0x30);
    QCOMPARE(connects(sim), 1);

    ::kill(pid_t(server.process.processId()), SIGTERM);
    QVERIFY(server.process.waitForFinished(5000));
    QCOMPARE(server.process.exitCode(), 0);
    QCOMPARE(sim.frames().last().address(), int(zev::kDisconnectAddress));
}

// The desktop panel with the frame port as its port 1 (ZEV720.ports): it connects and
// releases through the server, the processor's link stays the server's, and a push made by
// zev720ctl meanwhile goes through beside it.
void TestServer::panelThroughTheServer()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    testing::VenueServer server;
    QVERIFY2(server.start("venue.csv"), qPrintable(server.out));
    QVERIFY(QDir().mkpath("panel"));
    QVERIFY(
        testing::writeFile("panel/ZEV720.ports", ("1 = " + server.ports["stage"] + "\n").toUtf8()));
    QProcess panel;
    panel.setWorkingDirectory(QDir("panel").absolutePath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("ZEV720_COM1");
    panel.setProcessEnvironment(environment);
    panel.start(testing::buildDir() + "/zev720");
    QVERIFY(QTest::qWaitFor(
        [&] {
            server.out += QString::fromUtf8(server.process.readAllStandardOutput());
            return server.out.contains(" joined");
        },
        10000));
    QCOMPARE(ctl({"pull", server.ports["stage"], "now.dat"}).status, 0);
    QByteArray tuned = testing::readFile("now.dat");
    tuned[16] = char(0x22);
    QVERIFY(testing::writeFile("tuned.dat", tuned));
    QCOMPARE(ctl({"push", server.ports["stage"], "tuned.dat"}).status, 0);
    QCOMPARE(int(sim.registers()[16]), 0x22);
    panel.terminate();
    QVERIFY(panel.waitForFinished(10000));
    QCOMPARE(panel.exitCode(), 0);
    QVERIFY(QTest::qWaitFor([&] {
        server.out += QString::fromUtf8(server.process.readAllStandardOutput());
        return server.out.count(" left") >= 3; // the panel and both runs of zev720ctl
    }));
    QCOMPARE(testing::readFile("panel/ZEV720Default.dat").size(), 5632);
    QCOMPARE(connects(sim), 1);
    QVERIFY(sim.frames().last().address() != int(zev::kDisconnectAddress));
}

// An offline room's frame port answers nothing, as a processor switched off: the tool says
// so, and the other room goes on.
void TestServer::roomThatIsNotThereAnswersNothing()
{
    Sim sim;
    QVERIFY(testing::writeFile(
        "venue.csv", ("bar, /dev/zev720-not-here\nstage, " + sim.path() + "\n").toUtf8()));
    testing::VenueServer server;
    QVERIFY2(server.start("venue.csv"), qPrintable(server.out));
    QVERIFY(QTest::qWaitFor([&] {
        server.out += QString::fromUtf8(server.process.readAllStandardOutput());
        return server.out.contains("bar: offline (no such device");
    }));
    const Run silent = ctl({"pull", server.ports["bar"], "bar.dat"});
    QVERIFY2(silent.status != 0 && silent.out.contains("no answer"), qPrintable(silent.out));
    QVERIFY(!QFile::exists("bar.dat"));
    QCOMPARE(ctl({"pull", server.ports["stage"], "stage.dat"}).status, 0);
}

// Noise without frames: the client is cut off at its bound, the room serves the next one.
// Clients beyond the port's bound are closed at once (so none can use up the server's open
// files), and a place freed is taken again.
void TestServer::clientThatBabblesIsCutOff()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    testing::VenueServer server;
    QVERIFY2(server.start("venue.csv"), qPrintable(server.out));
    const QUrl url(server.ports["stage"]);
    QTcpSocket babbler;
    babbler.connectToHost("127.0.0.1", quint16(url.port()));
    QVERIFY(babbler.waitForConnected(2000));
    babbler.write(QByteArray(64 * 1024, '\xAA'));
    QVERIFY(QTest::qWaitFor([&] { return babbler.state() == QAbstractSocket::UnconnectedState; },
                            5000));
    QCOMPARE(ctl({"pull", server.ports["stage"], "after.dat"}).status, 0);

    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i <= zev::kMaxFrameClients; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost("127.0.0.1", quint16(url.port()));
        QVERIFY(idle.back()->waitForConnected(2000));
    }
    QVERIFY(QTest::qWaitFor(
        [&] { return idle.back()->state() == QAbstractSocket::UnconnectedState; }, 3000));
    QCOMPARE(ctl({"pull", server.ports["stage"], "full.dat"}).status, 3);
    server.waitFor("", 0);
    const int left = int(server.out.count(" left"));
    idle.front()->disconnectFromHost();
    QVERIFY(QTest::qWaitFor([&] {
        server.waitFor("", 0);
        return server.out.count(" left") > left;
    }));
    QCOMPARE(ctl({"pull", server.ports["stage"], "freed.dat"}).status, 0);
}

// What a web page can make a browser send to a frame port (an HTTP request with frames in its
// body, a WebSocket handshake), a TLS hello, and frames with noise behind them are closed at
// once without a write. Frames that no control of the panel could make (a value past a
// register's range, an address without a register, a command with another value) are
// refused without a reply, counted, and the connection goes on; a good write then reaches the
// processor and is journaled with the client's address.
void TestServer::framePortTakesNothingButFrames()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    testing::VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8();
    QVERIFY2(server.start("venue.csv"), qPrintable(server.out));
    const quint16 port = quint16(QUrl(server.ports["stage"]).port());
    const QByteArray frame = testing::hex("FE 10 05 15 FD"); // music volume to 83dB
    const auto writes = [&] {
        int count = 0;
        for (const testing::LoggedFrame &f : sim.frames())
            count += f.value() != zev::kReadRequest && f.address() != zev::kConnectAddress &&
                     f.address() != zev::kDisconnectAddress;
        return count;
    };
    const int before = writes();
    const QList<QByteArray> streams{
        "POST / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
            "\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\n" + frame,
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n",
        testing::hex("16 03 01 02 00 01 00 01 FC 03 03") + frame,
        frame + "GET / HTTP/1.1\r\n",
        frame + testing::hex("FE 10 05 00 FD"), // its checksum wrong
    };
    for (int i = 0; i < streams.size(); ++i) {
        QTcpSocket socket;
        socket.connectToHost("127.0.0.1", port);
        QVERIFY(socket.waitForConnected(2000));
        socket.write(streams[i]);
        QVERIFY2(QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                                 5000),
                 qPrintable(QString("stream %1 was not closed").arg(i)));
    }

    QTcpSocket client;
    client.connectToHost("127.0.0.1", port);
    QVERIFY(client.waitForConnected(2000));
    for (const char *bad : {"FE 10 C8 D8 FD", "FE 10 FE 0E FD", "FE FA 05 FF FD", "FE 03 05 08 FD",
                            "FE 06 05 0B FD", "FE 30 7F AF FD"})
        client.write(testing::hex(bad));
    client.write(testing::hex("FE 10 FC 0C FD")); // a read: answered with what the room holds
    QVERIFY(QTest::qWaitFor([&] { return client.bytesAvailable() >= 5; }, 5000));
    QCOMPARE(client.read(5), testing::hex("FE 10 15 25 FD"));
    QCOMPARE(client.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(writes(), before);

    client.write(frame);
    QVERIFY(QTest::qWaitFor([&] { return client.bytesAvailable() >= 5; }, 5000));
    QCOMPARE(client.read(5), testing::hex("FE 10 06 16 FD"));
    QCOMPARE(int(sim.registers()[16]), 5);
    QCOMPARE(writes(), before + 1);
    const testing::HttpReply metrics =
        testing::http("GET", server.url("/metrics"), {}, {{"Authorization", token}});
    QVERIFY2(metrics.body.contains("zev720d_frame_port_frames_refused_total{room=\"stage\"} 6") &&
                 metrics.body.contains("zev720d_frame_port_clients_closed_total{room=\"stage\"} 5"),
             metrics.body.constData());
    const QString peer = "127.0.0.1:" + QString::number(client.localPort());
    const testing::HttpReply history = testing::http(
        "GET", server.url("/api/v1/rooms/stage/history"), {}, {{"Authorization", token}});
    const QJsonArray changes = history.json()["changes"].toArray();
    QVERIFY2(changes.size() == 1 && changes[0]["user"] == peer &&
                 changes[0]["through"] == "frame port" && changes[0]["after"].toInt() == 5,
             history.body.constData());
}

// A room given its own frame port keeps it whatever its place in the venue file; the others
// still get theirs. A port named for a room that is not there, or for two rooms, and ports
// past 65535 are refused before anything is held.
void TestServer::roomsKeepTheirOwnFramePorts()
{
    Sim sim;
    QVERIFY(testing::writeFile(
        "venue.csv", ("bar, /dev/zev720-not-here\nstage, " + sim.path() + "\n").toUtf8()));
    QTcpServer probe; // a port that is free now
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const QString own = QString::number(probe.serverPort());
    probe.close();
    testing::VenueServer server;
    QVERIFY2(server.start("venue.csv", ": online", {"--frame-port", "stage=" + own}),
             qPrintable(server.out));
    QCOMPARE(server.ports["stage"], "tcp://127.0.0.1:" + own);
    QVERIFY(!server.ports["bar"].isEmpty() && server.ports["bar"] != server.ports["stage"]);
    QCOMPARE(ctl({"pull", "tcp://127.0.0.1:" + own, "stage.dat"}).status, 0);
    QCOMPARE(testing::readFile("stage.dat").size(), 5632);
    server.stop();

    const auto refused = [](const QStringList &extra) {
        QProcess process;
        process.start(testing::buildDir() + "/zev720d",
                      QStringList{"--venue", "venue.csv", "--state", "refused-state"} + extra);
        process.waitForFinished(10000);
        return Run{process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
    };
    const Run unknown = refused({"--frame-port", "lobby=4101"});
    QVERIFY2(unknown.status == 2 && unknown.out.contains("no room 'lobby'"),
             qPrintable(unknown.out));
    const Run twice = refused({"--frame-port", "bar=4101", "--frame-port", "stage=4101"});
    QVERIFY2(twice.status == 2 && twice.out.contains("4101 given to both bar and stage"),
             qPrintable(twice.out));
    QCOMPARE(refused({"--frame-ports", "4100", "--frame-port", "stage=4100"}).status, 2);
    QCOMPARE(refused({"--frame-port", "stage=0"}).status, 2);
    QCOMPARE(refused({"--frame-port", "stage"}).status, 2);
    const Run past = refused({"--frame-ports", "65535"});
    QVERIFY2(past.status == 2 && past.out.contains("do not fit"), qPrintable(past.out));
    QVERIFY(!QFile::exists("refused-state"));
}

void TestServer::badArgumentsAndVenues()
{
    const auto run = [](const QStringList &arguments) {
        QProcess process;
        process.start(testing::buildDir() + "/zev720d", arguments);
        process.waitForFinished(10000);
        return Run{process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
    };
    QCOMPARE(run({"--venue", "venue.csv", "--frame-ports", "70000"}).status, 2);
    QVERIFY(run({}).out.contains("--venue FILE is needed"));
    QVERIFY(run({"--venue", "missing.csv"}).out.contains("missing.csv"));
    QVERIFY(testing::writeFile("bad.csv", "../up, /dev/ttyS0\n"));
    const Run bad = run({"--venue", "bad.csv"});
    QCOMPARE(bad.status, 2);
    QVERIFY2(bad.out.contains("bad.csv:1"), qPrintable(bad.out));
}

// A config file's mistakes are named with the file and the line: an unknown option, one that
// is given once given twice, a '#' inside a value, a byte-order mark; a comment after a space
// is one. "listen [::]:PORT" is every address of both families.
void TestServer::configFileReadStrictly()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    const auto refused = [](const QByteArray &config) {
        testing::writeFile("bad.conf", config);
        QProcess process;
        process.start(testing::buildDir() + "/zev720d",
                      {"--config", "bad.conf", "--state", "config-state"});
        process.waitForFinished(10000);
        return Run{process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
    };
    const QList<QPair<QByteArray, QString>> cases{
        {"venue venue.csv\nlisten 127.0.0.1:0\n\n# ok\nlisten 127.0.0.1:1\n",
         "bad.conf:5: 'listen' given again (first on line 2)"},
        {"venue venue.csv\nlisen 127.0.0.1:0\n", "bad.conf:2: unknown option 'lisen'"},
        {"\xEF\xBB\xBFvenue venue.csv\n", "bad.conf:1: starts with a byte-order mark"},
        {"venue venue.csv\nname desk#2\n", "bad.conf:2: '#' inside a value"},
        {"venue venue.csv\nlisten 127.0.0.1:99999\n", "bad.conf:2: --listen 127.0.0.1:99999: not"},
    };
    for (const auto &[config, message] : cases) {
        const Run run = refused(config);
        QVERIFY2(run.status == 2 && run.out.contains(message), qPrintable(run.out));
    }
    QVERIFY(!QFile::exists("config-state"));

    QVERIFY(testing::writeFile("good.conf", "venue venue.csv   # the rooms\nname desk-pc # the desk\n"
                                            "frame-allow 127.0.0.2\nframe-allow 127.0.0.3\n"));
    testing::VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    QVERIFY2(server.start("venue.csv", ": online", {"--config", "good.conf", "--listen", "[::]:0"}),
             qPrintable(server.out));
    for (const char *address : {"127.0.0.1", "::1"}) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress(address), server.api);
        QVERIFY2(socket.waitForConnected(2000), address);
    }
}

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
