// Processors behind serial device servers: ser2net (raw TCP and RFC 2217) in front of the
// emulator's pseudo-terminal, the emulator as a TCP server itself, and servers that misbehave.
// Every address is on this machine's loopback.
#include "files/ParameterFile.h"
#include "settings/PortSettings.h"
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"
#include "ui/PortDialog.h"
#include "link/PortDevices.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zev;
using testing::Sim;
using testing::tickUntil;
using testing::WorkingFolder;

namespace {

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// ser2net on 127.0.0.1 in front of one terminal: a raw TCP port and an RFC 2217 port.
class Ser2net {
public:
    Ser2net(const QString &device, const QString &folder, const QString &banner = {})
        : raw(freePort()), telnet(freePort())
    {
        QFile config(folder + "/ser2net.yaml");
        config.open(QIODevice::WriteOnly);
        const QString options = "  options:\n    kickolduser: true\n" +
                                (banner.isEmpty() ? QString() : "    banner: \"" + banner + "\"\n");
        config.write(QString("connection: &raw\n  accepter: tcp,127.0.0.1,%1\n"
                             "  connector: serialdev,%3,9600n81,local\n%4"
                             "connection: &telnet\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                             "  connector: serialdev,%3,9600n81,local\n%4")
                         .arg(raw)
                         .arg(telnet)
                         .arg(device, options)
                         .toUtf8());
        config.close();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start("ser2net",
                        {"-n", "-u", "-c", config.fileName(), "-P", folder + "/ser2net.pid"});
        if (!m_process.waitForStarted()) qFatal("ser2net does not start");
        QElapsedTimer clock; // up once it takes connections
        for (clock.start(); clock.elapsed() < 5000; QTest::qWait(20)) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(telnet));
            if (socket.waitForConnected(200)) return;
        }
        qFatal("ser2net does not listen");
    }
    ~Ser2net()
    {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }
    QString rawLine() const { return QString("tcp://127.0.0.1:%1").arg(raw); }
    QString rfc2217Line() const { return QString("rfc2217://127.0.0.1:%1").arg(telnet); }
    int raw, telnet;

private:
    QProcess m_process;
};

// Port 5 of the panel is `line`, through ZEV720.ports, with these port settings.
void portFiveIs(const QString &line, PortSettings settings = {})
{
    qunsetenv("ZEV720_COM5");
    settings.port = 5;
    portSettings = settings;
    std::string error;
    if (!SavePortSettings(error)) qFatal("%s", error.c_str());
    testing::writeFile("ZEV720.ports", ("# the rack in room A\n5 = " + line + "\n").toUtf8());
}

} // namespace

class TestNetwork : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable("ser2net").isEmpty()) QSKIP("ser2net is not installed");
        ParaForm = new TParaForm;
    }
    void init() { m_folder = std::make_unique<WorkingFolder>(); }
    void cleanup()
    {
        systemSerialLibrary().closePort(5); // a window that was not closed leaves it open
        m_folder.reset();
    }
    void panelThroughSer2net_data();
    void panelThroughSer2net();
    void rfc2217CarriesTheRateAndEscapesFF();
    void telnetChatterAheadOfEachReply();
    void portsFileWithABadLine();
    void serverGoneWhileConnected();
    void kickedOffBySecondClient();
    void serversThatDoNotAnswer();

private:
    std::unique_ptr<WorkingFolder> m_folder;
};

void TestNetwork::panelThroughSer2net_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::addColumn<QString>("banner");
    QTest::newRow("raw TCP with a banner") << false << "ser2net at your service\\r\\n";
    QTest::newRow("RFC 2217") << true << "";
}

// Connect, edit, send-all and read back through the server, as from a cable.
void TestNetwork::panelThroughSer2net()
{
    QFETCH(bool, rfc2217);
    QFETCH(QString, banner);
    Sim sim;
    Ser2net server(sim.path(), m_folder->path(), banner);
    portFiveIs(rfc2217 ? server.rfc2217Line() : server.rawLine());
    std::unique_ptr<TMainForm> form(new TMainForm);
    QVERIFY2(form->isConnected(), qPrintable(form->statusPanel(3)->text()));
    form->trackBar(16)->setValue(30);
    QVERIFY(tickUntil(*form, [&] { return form->model().pendingCount() == 0; }));
    QCOMPARE(int(sim.registers()[16]), 30);
    form->SendAllBitBtn->click();
    QVERIFY(tickUntil(*form, [&] { return form->model().pendingCount() == 0; }));
    form->model().image[50] = 0;
    form->LoadMachineBitBtn->click();
    QVERIFY(tickUntil(*form, [&] { return form->model().pendingCount() == 0; }));
    QCOMPARE(int(form->model().image[50]), int(sim.registers()[50]));
    form->close();
    QVERIFY(sim.waitForFrames(2));
    QCOMPARE(sim.frames().last().address(), int(kDisconnectAddress));
}

// The rate of the port settings reaches the terminal behind the server; 0xFF goes both ways.
void TestNetwork::rfc2217CarriesTheRateAndEscapesFF()
{
    Sim sim;
    Ser2net server(sim.path(), m_folder->path());
    PortSettings fast;
    fast.baud = 13; // 19200
    portFiveIs(server.rfc2217Line(), fast);
    {
        std::unique_ptr<TMainForm> form(new TMainForm);
        QVERIFY(form->isConnected());
    }
    QVERIFY(sim.lineSettings().startsWith("19200 8N1"));

    ParameterModel model;
    model.loadFactoryValues();
    model.image[22] = 0xFF; // sent as FE 16 FF 15 FD
    model.image[16] = 0xFE; // read back as the reply value FF
    std::string error;
    QVERIFY(writeParameterFile("ff.dat", model, error));
    QProcess ctl;
    ctl.start(testing::buildDir() + "/zev720ctl",
              {"push", server.rfc2217Line(), "ff.dat", "--baud", "19200", "--raw"});
    QVERIFY(ctl.waitForFinished(20000));
    QVERIFY2(ctl.exitCode() == 0, ctl.readAllStandardError().constData());
    QCOMPARE(int(sim.registers()[22]), 0xFF);
    QCOMPARE(int(sim.registers()[16]), 0xFE);
}

// 2,000 bytes of Telnet commands ahead of every reply: each reply is read as it comes, not
// when the next packet pushes it out (which took a resend a register, and 115 frames).
void TestNetwork::telnetChatterAheadOfEachReply()
{
    Sim sim({"--listen", "127.0.0.1:0", "--telnet-prefix", "2000"});
    const QString line = QString(sim.path()).replace("tcp://", "rfc2217://");
    QProcess ctl;
    ctl.start(testing::buildDir() + "/zev720ctl", {"pull", line, "chatty.dat"});
    QVERIFY(ctl.waitForFinished(20000));
    QVERIFY2(ctl.exitCode() == 0, ctl.readAllStandardError().constData());
    QCOMPARE(sim.frames().size(), 1 + 56 + 1); // connect, one read a register, disconnect
}

void TestNetwork::portsFileWithABadLine()
{
    Sim sim({"--listen", "127.0.0.1:0"});
    testing::writeFile("ZEV720.ports", ("7 = \n"
                                        "eight = /dev/ttyUSB7\n"
                                        "5 = " +
                                        sim.path() + "  # the emulator\n")
                                           .toUtf8());
    const PortsFile file = readPortsFile();
    QCOMPARE(file.lines.at(5), sim.path().toStdString()); // the rest still counts
    QCOMPARE(file.problems.size(), std::size_t(2));
    QVERIFY(QString::fromStdString(file.problems[0]).startsWith("ZEV720.ports:1: "));
    QVERIFY(QString::fromStdString(file.problems[1]).startsWith("ZEV720.ports:2: "));
    ParaForm->ComPortEdit->setText("5");
    ParaForm->describePortNumber();
    QVERIFY2(ParaForm->PortDeviceLabel->text().contains("ZEV720.ports:2: "),
             qPrintable(ParaForm->PortDeviceLabel->text()));
}

// A server that goes away is a pulled-out adapter: the link drops, nothing pending is lost,
// and one press of the connect button reconnects once it is back.
void TestNetwork::serverGoneWhileConnected()
{
    auto sim = std::make_unique<Sim>(QStringList{"--listen", "127.0.0.1:0"});
    const QString line = sim->path();
    portFiveIs(line);
    std::unique_ptr<TMainForm> form(testing::newMainForm(true));
    QVERIFY(form->isConnected());
    sim.reset(); // the server is gone
    form->trackBar(62)->setValue(40);
    QVERIFY(tickUntil(*form, [&] { return !form->isConnected(); }));
    QCOMPARE(form->statusPanel(3)->text(), QString("串口已断开，请检查连接"));
    QCOMPARE(testing::pendingAddresses(form->model()), QList<int>{62});
    sim = std::make_unique<Sim>(QStringList{"--listen", line.mid(QString("tcp://").size())});
    form->CommunicationBitBtn->click();
    QVERIFY(form->isConnected());
    QVERIFY(tickUntil(*form, [&] { return form->model().pendingCount() == 0; }));
    QCOMPARE(int(sim->registers()[62]), 41);
}

// ser2net with kickolduser: a second client takes the line over in the middle of a push. The
// first one's push ends as a line that went away, with its exit code and message.
void TestNetwork::kickedOffBySecondClient()
{
    Sim sim({"--baud", "9600"});
    Ser2net server(sim.path(), m_folder->path());
    ParameterModel model;
    model.loadFactoryValues();
    std::string error;
    QVERIFY(writeParameterFile("a.dat", model, error));
    QProcess ctl;
    // ser2net closes a connection that comes while the device is still held for the one
    // before (its readiness check): try again until the push reaches the emulator.
    for (int attempt = 0; attempt < 20 && sim.frames().size() < 5; ++attempt) {
        ctl.start(testing::buildDir() + "/zev720ctl", {"push", server.rawLine(), "a.dat"});
        QElapsedTimer clock;
        for (clock.start(); sim.frames().size() < 5 && clock.elapsed() < 5000;)
            if (ctl.waitForFinished(5)) break;
        if (sim.frames().size() < 5) ctl.waitForFinished();
        QTest::qWait(100);
    }
    QVERIFY(sim.frames().size() >= 5); // the push is under way
    QTest::qWait(100);
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, quint16(server.raw));
    QVERIFY(second.waitForConnected(2000));
    QVERIFY(ctl.waitForFinished(10000));
    QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
    QCOMPARE(ctl.exitCode(), 3);
    const QString said = QString::fromUtf8(ctl.readAllStandardError());
    QVERIFY2(said.contains(server.rawLine() + ": the device went away"), qPrintable(said));
}

// A server that accepts and says nothing; a host whose connections are never accepted (a
// full backlog drops further connection requests); a refused port. None blocks for long.
void TestNetwork::serversThatDoNotAnswer()
{
    QTcpServer mute;
    QVERIFY(mute.listen(QHostAddress::LocalHost, 0));
    portFiveIs(QString("tcp://127.0.0.1:%1").arg(mute.serverPort()));
    {
        std::unique_ptr<TMainForm> form(new TMainForm);
        QCOMPARE(form->statusPanel(3)->text(), QString("通讯连接失败！机器可能未开机"));
    }

    const int full = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    QVERIFY(::bind(full, reinterpret_cast<sockaddr *>(&address), size) == 0);
    QVERIFY(::listen(full, 0) == 0);
    QVERIFY(::getsockname(full, reinterpret_cast<sockaddr *>(&address), &size) == 0);
    const int port = ntohs(address.sin_port);
    QList<QTcpSocket *> filling; // the backlog is full once these are queued
    for (int i = 0; i < 3; ++i) {
        filling << new QTcpSocket(this);
        filling.last()->connectToHost(QHostAddress::LocalHost, quint16(port));
        filling.last()->waitForConnected(300);
    }
    QProcess ctl;
    QElapsedTimer clock;
    clock.start();
    ctl.start(testing::buildDir() + "/zev720ctl",
              {"pull", QString("tcp://127.0.0.1:%1").arg(port), "out.dat"});
    QVERIFY(ctl.waitForFinished(10000));
    QCOMPARE(ctl.exitCode(), 3);
    const QString said = QString::fromUtf8(ctl.readAllStandardError());
    QVERIFY2(said.contains(QString("127.0.0.1:%1: no answer within 1.5 s").arg(port)) ||
                 said.contains("no answer from the processor"),
             qPrintable(said));
    qDeleteAll(filling);
    ::close(full);

    ctl.start(testing::buildDir() + "/zev720ctl", {"pull", "tcp://127.0.0.1:1", "out.dat"});
    QVERIFY(ctl.waitForFinished(10000));
    QCOMPARE(ctl.exitCode(), 3);
    QVERIFY(ctl.readAllStandardError().contains("127.0.0.1:1: Connection refused"));
}

QTEST_MAIN(TestNetwork)
#include "tst_network.moc"
