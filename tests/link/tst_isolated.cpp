// Network lines where the network itself misbehaves: a name server that never answers, and a
// peer that vanishes without a word (its packets dropped, no FIN, no RST). The test runs in a
// network namespace of its own, with only loopback, and makes a second namespace for the
// peer, joined to it by a veth pair; nothing leaves this machine. Without the right to make
// namespaces (not root, or a container that forbids it) it says so and skips.
#include "files/ParameterFile.h"
#include "server/HttpServer.h"
#include "settings/PortSettings.h"
#include "support/Gui.h"
#include "support/Server.h"
#include "support/Sim.h"
#include "ui/Main.h"
#include "ui/PortDialog.h"
#include "wire/PortMap.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMetaObject>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zev;
using testing::Sim;

namespace {

// Addresses of the veth pair, inside the two namespaces this test makes.
const char *const kHere = "10.231.0.1";
const char *const kPeer = "10.231.0.2";
// A name that only a name server could know.
const char *const kHost = "rack-a.venue.example";

bool run(const QStringList &command)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(command.first(), command.mid(1));
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Replaces a system file for this mount namespace alone.
bool replaceFile(const QString &path, const QByteArray &content, const QString &folder)
{
    const QString copy = folder + "/" + QString(path).replace('/', '_');
    return testing::writeFile(copy, content) &&
           ::mount(copy.toLocal8Bit().constData(), path.toLocal8Bit().constData(), nullptr, MS_BIND,
                   nullptr) == 0;
}

// Why this process has no namespaces of its own, or empty when it has them.
QString isolation;

// Before any thread starts: a new mount namespace needs a process with one thread.
void isolate()
{
    if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
        isolation = QString("this machine does not let the test make network namespaces (%1); "
                            "run it as root to run it")
                        .arg(strerror(errno));
}

struct Run {
    int code = -1;
    QString out, err;
    qint64 ms = 0;
};

Run ctl(const QStringList &arguments)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(testing::buildDir() + "/zev720ctl", arguments);
    if (!process.waitForFinished(30000)) process.kill();
    process.waitForFinished();
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()), clock.elapsed()};
}

} // namespace

class TestIsolated : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { m_work = std::make_unique<testing::WorkingFolder>(); }
    void cleanup()
    {
        systemSerialLibrary().closePort(5);
        m_work.reset();
    }
    void nameServerThatNeverAnswers();
    void lookupsUnderALowLimitOnThreads();
    void peerThatVanishes();
    void framePortsTakeOnlyTheNamedAddresses();
    void apiConnectionsBoundedPerMachine();
    void loginFloodBesideARealUser();

private:
    QString m_peer; ///< the peer's namespace
    QStringList m_lan;   ///< nine hosts of the IPv6 LAN, fd00:231::/64, this side's own prefix
    QStringList m_crowd; ///< thirty more addresses of it
    QStringList m_far;   ///< five addresses of another /64
    bool ipv6Lan();
    QTemporaryDir m_files;
    int m_nameServer = -1;
    std::unique_ptr<testing::WorkingFolder> m_work;
};

void TestIsolated::initTestCase()
{
    if (!isolation.isEmpty()) QSKIP(qPrintable(isolation));
    if (QStandardPaths::findExecutable("ip").isEmpty()) QSKIP("ip (iproute2) is not installed");
    QVERIFY(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0);
    QVERIFY(run({"ip", "link", "set", "lo", "up"}));

    // Names: the hosts file knows nothing, and the one name server is on loopback, reading
    // nothing: every question waits for its timeouts.
    QVERIFY(replaceFile("/etc/hosts", "127.0.0.1 localhost\n", m_files.path()));
    QVERIFY(replaceFile("/etc/nsswitch.conf",
                        "passwd: files\ngroup: files\nshadow: files\nhosts: files dns\n",
                        m_files.path()));
    QVERIFY(replaceFile("/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:5 attempts:2\n",
                        m_files.path()));
    m_nameServer = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QVERIFY(::bind(m_nameServer, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);

    // The peer's namespace, joined to this one by a veth pair.
    m_peer = QString("zev720-test-%1").arg(::getpid());
    QVERIFY(run({"ip", "netns", "add", m_peer}));
    QVERIFY(run({"ip", "link", "add", "zev-here", "type", "veth", "peer", "name", "zev-peer",
                 "netns", m_peer}));
    QVERIFY(run({"ip", "addr", "add", QString(kHere) + "/24", "dev", "zev-here"}));
    QVERIFY(run({"ip", "link", "set", "zev-here", "up"}));
    for (const QStringList &step :
         {QStringList{"ip", "addr", "add", QString(kPeer) + "/24", "dev", "zev-peer"},
          QStringList{"ip", "link", "set", "zev-peer", "up"},
          QStringList{"ip", "link", "set", "lo", "up"}})
        QVERIFY(run(QStringList{"ip", "netns", "exec", m_peer} + step));
    for (int host = 0x11; host <= 0x19; ++host)
        m_lan << QString("fd00:231::%1").arg(host, 0, 16);
    for (int host = 0x100; host < 0x100 + 30; ++host)
        m_crowd << QString("fd00:231::%1").arg(host, 0, 16);
    for (int host = 0x11; host <= 0x15; ++host)
        m_far << QString("fd00:232::%1").arg(host, 0, 16);
    ParaForm = new TParaForm;
}

// An IPv6 LAN: this side has fd00:231::1 of fd00:231::/64, the peer's hosts have addresses of
// that /64 and of another, fd00:232::/64, routed to them. No duplicate address detection: the
// addresses are there at once. Made again by each test that needs it: a link taken down and up
// loses its IPv6 addresses and routes.
bool TestIsolated::ipv6Lan()
{
    const QStringList inPeer{"ip", "netns", "exec", m_peer};
    bool made = run({"ip", "-6", "addr", "replace", "fd00:231::1/64", "dev", "zev-here", "nodad"}) &&
                run({"ip", "-6", "route", "replace", "fd00:232::/64", "dev", "zev-here"});
    for (const QString &host : m_lan + m_crowd + m_far)
        made = made && run(inPeer + QStringList{"ip", "-6", "addr", "replace", host + "/64", "dev",
                                                "zev-peer", "nodad"});
    return made && run(inPeer + QStringList{"ip", "-6", "route", "replace", "fd00:231::/64", "dev",
                                            "zev-peer"});
}

void TestIsolated::cleanupTestCase()
{
    delete ParaForm;
    ParaForm = nullptr;
    if (!m_peer.isEmpty()) run({"ip", "netns", "del", m_peer});
    if (m_nameServer >= 0) ::close(m_nameServer);
}

// The lookup runs beside everything else: the open gives up at its deadline, the window
// keeps painting meanwhile, and the rooms of a venue that need no lookup are not held up.
void TestIsolated::nameServerThatNeverAnswers()
{
    const QString line = QString("tcp://%1:4001").arg(kHost);
    Run result = ctl({"pull", line, "out.dat"});
    QCOMPARE(result.code, 3);
    QVERIFY2(result.err.contains(QString("%1: cannot open: ").arg(line)) &&
                 result.err.contains("no answer"),
             qPrintable(result.err));
    QVERIFY2(result.ms < 4000, qPrintable(QString::number(result.ms))); // the name servers: 10 s

    Sim sim({"--listen", "127.0.0.1:0"});
    QVERIFY(testing::writeFile("venue.csv", ("far, " + line + "\nfarther, tcp://b." + kHost +
                                             ":4001\nnear, " + sim.path() + "\n")
                                                .toUtf8()));
    result = ctl({"venue", "venue.csv", "probe", "--json"});
    QCOMPARE(result.code, 3);
    QVERIFY2(result.out.contains("\"result\": \"no answer\"") &&
                 !result.out.contains("\"result\": \"refused\""),
             qPrintable(result.out));
    QVERIFY2(result.ms < 4000, qPrintable(QString::number(result.ms)));

    // A name that the system says does not exist is an unknown host, not a refusal.
    const QString nsswitch = m_files.path() + "/_etc_nsswitch.conf";
    QVERIFY(testing::writeFile(nsswitch, "hosts: files\n")); // the file mounted over the system's
    result = ctl({"pull", line, "out.dat"});
    QVERIFY(testing::writeFile(nsswitch, "passwd: files\ngroup: files\nshadow: files\nhosts: "
                                         "files dns\n"));
    QCOMPARE(result.code, 3);
    QVERIFY2(result.err.contains(line + ": cannot open: ") &&
                 result.err.contains(QString(kHost) + ": unknown host"),
             qPrintable(result.err));

    // The panel connects at start: its window is never frozen by the lookup.
    PortSettings settings;
    settings.port = 5;
    portSettings = settings;
    std::string error;
    QVERIFY(SavePortSettings(error));
    QVERIFY(testing::writeFile("ZEV720.ports", ("5 = " + line + "\n").toUtf8()));
    qint64 longest = 0;
    QElapsedTimer sinceLast;
    sinceLast.start();
    QTimer pass;
    QObject::connect(&pass, &QTimer::timeout,
                     [&] { longest = std::max(longest, sinceLast.restart()); });
    pass.start(5);
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<TMainForm> form(new TMainForm);
    const qint64 starting = clock.elapsed();
    pass.stop();
    QVERIFY(!form->isConnected());
    qInfo("the panel's start with a name that does not resolve: %lld ms, longest pause %lld ms",
          starting, longest);
    QVERIFY2(longest < 500, qPrintable(QString::number(longest)));
    QVERIFY(starting < 4000);
}

// Two hundred rooms with names that no name server answers, in a process that may make few
// threads (another user's, under a limit on processes): the names are looked up on a few
// threads, the rest wait within their deadline, and every room is reported; nothing aborts.
void TestIsolated::lookupsUnderALowLimitOnThreads()
{
    if (QStandardPaths::findExecutable("setpriv").isEmpty() ||
        QStandardPaths::findExecutable("prlimit").isEmpty())
        QSKIP("setpriv and prlimit (util-linux) are not installed");
    QTemporaryFile venue(QDir::tempPath() + "/zev720-many-XXXXXX.csv");
    QVERIFY(venue.open());
    for (int i = 0; i < 200; ++i)
        venue.write(QString("R%1, tcp://rack-%1.%2:4001\n").arg(i).arg(kHost).toUtf8());
    venue.close();
    QVERIFY(venue.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QProcess run;
    run.setWorkingDirectory(QDir::tempPath());
    run.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "prlimit",
                          "--nproc=24", testing::buildDir() + "/zev720ctl", "venue",
                          venue.fileName(), "probe", "--json"});
    QVERIFY(run.waitForFinished(60000));
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 3,
             qPrintable(QString("exit %1: %2").arg(run.exitCode()).arg(run.readAllStandardError())));
    QCOMPARE(out.count("\"result\": \"no answer\""), 200);
}

// A peer whose packets are dropped from one moment on: an idle panel finds it by TCP
// keepalive within the documented 9 s, as a pulled-out adapter; a room in the middle of a
// transfer finds it as a processor that stopped answering, and the room beside it finishes.
void TestIsolated::peerThatVanishes()
{
    const QStringList inPeer{"ip", "netns", "exec", m_peer};
    Sim far({"--listen", QString(kPeer) + ":0"}, inPeer);
    PortSettings settings;
    settings.port = 5;
    portSettings = settings;
    std::string error;
    QVERIFY(SavePortSettings(error));
    QVERIFY(testing::writeFile("ZEV720.ports", ("5 = " + far.path() + "\n").toUtf8()));
    std::unique_ptr<TMainForm> form(testing::newMainForm(true));
    QVERIFY(form->isConnected());
    QVERIFY(run(inPeer + QStringList{"ip", "link", "set", "zev-peer", "down"}));
    QElapsedTimer clock;
    clock.start();
    testing::runEventLoop(20000, [&] { return !form->isConnected(); });
    const qint64 found = clock.elapsed();
    qInfo("the idle panel found the vanished peer after %lld ms", found);
    QVERIFY2(!form->isConnected(), "never found");
    QCOMPARE(form->statusPanel(3)->text(), QString("串口已断开，请检查连接"));
    QVERIFY(found < 12000);
    form.reset();
    QVERIFY(run(inPeer + QStringList{"ip", "link", "set", "zev-peer", "up"}));

    Sim slow({"--listen", QString(kPeer) + ":0", "--baud", "1200"}, inPeer);
    Sim near({"--listen", "127.0.0.1:0", "--baud", "1200"});
    QVERIFY(testing::writeFile("venue.csv",
                               ("far, " + slow.path() + "\nnear, " + near.path() + "\n").toUtf8()));
    QProcess venue;
    clock.restart();
    venue.start(testing::buildDir() + "/zev720ctl", {"venue", "venue.csv", "pull", "out/"});
    QVERIFY(slow.waitForFrames(5, 5000)); // under way
    QVERIFY(run(inPeer + QStringList{"ip", "link", "set", "zev-peer", "down"}));
    QVERIFY(venue.waitForFinished(20000));
    const QString out = QString::fromUtf8(venue.readAllStandardOutput());
    qInfo("the venue ended %lld ms after its start:\n%s", clock.elapsed(), qPrintable(out));
    QCOMPARE(venue.exitCode(), 3);
    QVERIFY2(out.contains(QRegularExpression("far  \\S+  (the processor stopped answering|the "
                                             "device went away)")) &&
                 out.count("went away") + out.count("stopped answering") == 1, // said once
             qPrintable(out));
    QVERIFY2(out.contains(QRegularExpression("near  \\S+  ok")), qPrintable(out));
    QVERIFY(clock.elapsed() < 12000);
    QVERIFY(run(inPeer + QStringList{"ip", "link", "set", "zev-peer", "up"}));
}

// zev720d's frame ports, opened to the venue's LAN with --frame-allow, take the named PC and
// close on any other; in this namespace alone, the peer's is the LAN.
void TestIsolated::framePortsTakeOnlyTheNamedAddresses()
{
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    const QStringList inPeer{"ip", "netns", "exec", m_peer};
    for (const char *allowed : {kPeer, "10.231.0.9"}) {
        testing::VenueServer server;
        QVERIFY2(server.start("venue.csv", "stage: online", {"--frame-allow", allowed}),
                 qPrintable(server.out));
        const QString port = QString::number(QUrl(server.ports["stage"]).port());
        QProcess pull;
        pull.start(inPeer.first(),
                   inPeer.mid(1) + QStringList{testing::buildDir() + "/zev720ctl", "pull",
                                               QString("tcp://%1:%2").arg(kHere, port),
                                               "from-peer.dat"});
        QVERIFY(pull.waitForFinished(30000));
        if (allowed == kPeer) {
            QVERIFY2(pull.exitCode() == 0, pull.readAllStandardError().constData());
            QCOMPARE(testing::readFile("from-peer.dat").size(), 5632);
        } else {
            QCOMPARE(pull.exitCode(), 3);
        }
        // This machine itself is always let in.
        QCOMPARE(ctl({"pull", "tcp://127.0.0.1:" + port, "here.dat"}).code, 0);
        server.stop();
        QCOMPARE(server.process.state(), QProcess::NotRunning);
        QFile::remove("from-peer.dat");
    }
}

// The API from the venue's LAN (the peer), 64 connections in all, 32 an address: one machine
// with 32 connections answered and kept alive makes way on its own for its next, the one idle
// longest closed, while another machine is served. On an IPv6 LAN, where every host has an
// address of the server's own /64, each host counts alone: eight hosts with 32 connections
// between them leave a ninth its place without closing any; outside the server's prefixes a
// /64 counts as one machine.
void TestIsolated::apiConnectionsBoundedPerMachine()
{
    QVERIFY(ipv6Lan());
    const QStringList &lan = m_lan, &far = m_far;
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    testing::VenueServer server;
    QVERIFY(testing::addUser(server.state, "tech", "technician", "tech-password"));
    const QByteArray token = "Bearer " + testing::addToken(server.state, "tech", "t").toUtf8();
    QVERIFY2(server.start("venue.csv", "stage: online",
                          {"--listen", "[::]:0", "--max-connections", "64", "--name", kHere,
                           "--name", "[fd00:231::1]"}),
             qPrintable(server.out));
    const quint16 port = server.api;
    const int peerSpace = ::open(("/run/netns/" + m_peer).toLocal8Bit().constData(), O_RDONLY);
    const int ownSpace = ::open("/proc/self/ns/net", O_RDONLY);
    QVERIFY(peerSpace >= 0 && ownSpace >= 0);
    // A socket made in the peer's namespace is the peer's, wherever it is used.
    const auto answered = [&](const QString &from) {
        const bool v6 = from.contains(':');
        const QString to = v6 ? "fd00:231::1" : kHere;
        auto socket = std::make_unique<QTcpSocket>();
        if (!from.isEmpty()) {
            ::setns(peerSpace, CLONE_NEWNET);
            socket->bind(QHostAddress(from), 0);
            ::setns(ownSpace, CLONE_NEWNET);
        }
        socket->connectToHost(QHostAddress(to), port);
        socket->waitForConnected(2000);
        socket->write("GET /api/v1/server HTTP/1.1\r\nHost: " +
                      (v6 ? "[" + to + "]" : to).toUtf8() + ":" + QByteArray::number(port) +
                      "\r\n\r\n");
        if (!QTest::qWaitFor([&] { return socket->peek(12).startsWith("HTTP/1.1 401"); }, 3000))
            socket.reset();
        return socket;
    };
    const auto connected = [](const std::vector<std::unique_ptr<QTcpSocket>> &sockets) {
        return std::count_if(sockets.begin(), sockets.end(), [](const auto &s) {
            return s->state() == QAbstractSocket::ConnectedState;
        });
    };

    std::vector<std::unique_ptr<QTcpSocket>> idle;
    while (idle.size() < std::size_t(32)) {
        idle.push_back(answered(kPeer));
        QVERIFY(idle.back());
    }
    QVERIFY(answered(kPeer));
    QVERIFY(QTest::qWaitFor(
        [&] { return idle.front()->state() == QAbstractSocket::UnconnectedState; }, 3000));
    QCOMPARE(idle.back()->state(), QAbstractSocket::ConnectedState);
    QVERIFY(answered({}));
    idle.clear();

    std::vector<std::unique_ptr<QTcpSocket>> hosts;
    for (int i = 0; i < 32; ++i) {
        hosts.push_back(answered(lan[i % 8]));
        QVERIFY(hosts.back());
    }
    const auto gaveWay = [&] {
        return QRegularExpression("reason=\"gave_way\"\\} (\\d+)")
            .match(testing::http("GET", server.url("/metrics"), {}, {{"Authorization", token}}).body)
            .captured(1)
            .toInt();
    };
    const int closedBefore = gaveWay();
    const auto ninth = answered(lan[8]);
    QVERIFY(ninth);
    QCOMPARE(gaveWay(), closedBefore);
    QCOMPARE(connected(hosts), 32);
    hosts.clear();

    std::vector<std::unique_ptr<QTcpSocket>> outside;
    for (int i = 0; i < 32; ++i) {
        outside.push_back(answered(far[i % 4]));
        QVERIFY(outside.back());
    }
    QVERIFY(answered(far[4]));
    QVERIFY(QTest::qWaitFor(
        [&] { return outside.front()->state() == QAbstractSocket::UnconnectedState; }, 3000));
    ::close(peerSpace);
    ::close(ownSpace);
    server.stop();
    QCOMPARE(server.process.state(), QProcess::NotRunning);
}

// Thirty wrong logins at once from thirty addresses of one IPv6 /64 (one machine may have them
// all) have one password checked. Wrong logins from 60 IPv4 addresses of the LAN, many for the
// desk's own user name, the flood kept up as answers come: the desk user, at the PC it has
// logged in from before, still gets in at once.
void TestIsolated::loginFloodBesideARealUser()
{
    const QStringList inPeer{"ip", "netns", "exec", m_peer};
    QVERIFY(ipv6Lan());
    QStringList flooders;
    for (int host = 100; host < 160; ++host) {
        flooders << QString("10.231.0.%1").arg(host);
        QVERIFY(run(inPeer + QStringList{"ip", "addr", "add", flooders.back() + "/24", "dev", "zev-peer"}));
    }
    Sim sim;
    QVERIFY(testing::writeFile("venue.csv", ("stage, " + sim.path() + "\n").toUtf8()));
    testing::VenueServer server;
    QVERIFY(testing::addUser(server.state, "front", "desk", "desk-password"));
    QVERIFY2(server.start("venue.csv", "stage: online",
                          {"--listen", "[::]:0", "--name", kHere, "--name", "[fd00:231::1]"}),
             qPrintable(server.out));
    const auto deskLogin = [&] {
        return testing::http("POST", server.url("/api/v1/login"),
                             R"({"user":"front","password":"desk-password"})",
                             {{"Content-Type", "application/json"}});
    };
    QCOMPARE(deskLogin().status, 200); // the desk's PC, known from now on

    const int peerSpace = ::open(("/run/netns/" + m_peer).toLocal8Bit().constData(), O_RDONLY);
    const int ownSpace = ::open("/proc/self/ns/net", O_RDONLY);
    QVERIFY(peerSpace >= 0 && ownSpace >= 0);

    std::vector<std::unique_ptr<QTcpSocket>> sixtyFour;
    const QByteArray wrong = R"({"user":"front","password":"wrong"})";
    for (const QString &address : m_crowd) {
        sixtyFour.push_back(std::make_unique<QTcpSocket>());
        ::setns(peerSpace, CLONE_NEWNET);
        sixtyFour.back()->bind(QHostAddress(address), 0);
        ::setns(ownSpace, CLONE_NEWNET);
        sixtyFour.back()->connectToHost(QHostAddress("fd00:231::1"), server.api);
    }
    for (auto &socket : sixtyFour) {
        QVERIFY(socket->waitForConnected(2000));
        socket->write("POST /api/v1/login HTTP/1.1\r\nHost: [fd00:231::1]:" +
                      QByteArray::number(server.api) +
                      "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(wrong.size()) + "\r\n\r\n" + wrong);
    }
    QVERIFY(QTest::qWaitFor(
        [&] {
            return std::all_of(sixtyFour.begin(), sixtyFour.end(), [](const auto &socket) {
                return socket->state() == QAbstractSocket::UnconnectedState;
            });
        },
        20000));
    int hashed = 0;
    for (auto &socket : sixtyFour)
        hashed += socket->readAll().startsWith("HTTP/1.1 401");
    QCOMPARE(hashed, 1);
    QCOMPARE(deskLogin().status, 200); // the desk's own PC is not slowed by the failure

    bool flooding = true;
    int answered = 0;
    std::vector<std::unique_ptr<QTcpSocket>> sockets(std::size_t(flooders.size()));
    std::function<void(int)> guess = [&](int i) {
        if (!flooding) return;
        auto socket = std::make_unique<QTcpSocket>();
        ::setns(peerSpace, CLONE_NEWNET);
        socket->bind(QHostAddress(flooders[i]), 0);
        ::setns(ownSpace, CLONE_NEWNET);
        const QByteArray body = R"({"user":")" + QByteArray(i % 2 ? "front" : "guess") +
                                QByteArray::number(answered) + R"(","password":"wrong"})";
        QTcpSocket *raw = socket.get();
        const QByteArray port = QByteArray::number(server.api);
        QObject::connect(raw, &QTcpSocket::connected, raw, [raw, body, port] {
            raw->write("POST /api/v1/login HTTP/1.1\r\nHost: " + QByteArray(kHere) + ":" + port +
                       "\r\nContent-Type: application/json\r\nConnection: close\r\n"
                       "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        });
        QObject::connect(raw, &QTcpSocket::disconnected, raw, [&, i, raw] {
            ++answered;
            raw->deleteLater();
            (void)sockets[std::size_t(i)].release();
            QMetaObject::invokeMethod(qApp, [&, i] { guess(i); }, Qt::QueuedConnection);
        });
        socket->connectToHost(QHostAddress(QString(kHere)), server.api);
        sockets[std::size_t(i)] = std::move(socket);
    };
    for (int i = 0; i < flooders.size(); ++i)
        guess(i);
    QVERIFY(QTest::qWaitFor([&] { return answered >= 200; }, 20000));
    QElapsedTimer clock;
    clock.start();
    int status = 0;
    while (status != 200 && clock.elapsed() < 5000)
        status = deskLogin().status;
    const qint64 took = clock.elapsed();
    flooding = false;
    const QByteArray metrics =
        testing::http("GET", server.url("/metrics"), {},
                      {{"Cookie", deskLogin().headers.value("set-cookie").split(';').first()}})
            .body;
    QStringList counts;
    for (const QString &line : QString::fromUtf8(metrics).split('\n'))
        if (line.startsWith("zev720d_logins_total{")) counts << line.mid(21);
    qInfo("the desk got in after %lld ms of a flood of %d wrong logins; logins: %s", took, answered,
          qPrintable(counts.join(", ")));
    QCOMPARE(status, 200);
    QVERIFY(metrics.contains("zev720d_logins_total{result=\"wrong\"}"));
    sockets.clear();
    ::close(peerSpace);
    ::close(ownSpace);
    server.stop();
}

int main(int argc, char *argv[])
{
    isolate();
    QApplication application(argc, argv);
    TestIsolated test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_isolated.moc"
