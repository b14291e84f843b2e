// zev720ctl as installers use it: the real binary against the emulator on a pseudo-terminal.
#include "files/ParameterFile.h"
#include "support/Sim.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zev;
using testing::readFile;
using testing::Sim;
using testing::WorkingFolder;

namespace {
struct Run {
    int code = -1;
    QString out, err;
};

// Runs zev720ctl to its end (or kills it after `ms`); `user` runs it as that user.
Run ctl(const QStringList &arguments, int ms = 20000, uid_t user = 0)
{
    QProcess process;
    if (user)
        process.setChildProcessModifier([user] {
            if (::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(99);
        });
    process.start(testing::buildDir() + "/zev720ctl", arguments);
    if (!process.waitForFinished(ms)) process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// A parameter file that differs from the factory setting in a few registers.
QByteArray tunedFile()
{
    ParameterModel model;
    model.loadFactoryValues();
    model.image[16] = 30; // 音乐调整 音量 58dB
    model.image[50] = 10; // 回声 幅度
    model.image[49] = 3;  // DSP mode K3
    model.modeSlots[4][24] = 2;
    std::string error;
    writeParameterFile("tuned.dat", model, error);
    return readFile("tuned.dat");
}

RegisterImage imageOf(const QByteArray &file)
{
    RegisterImage image{};
    std::copy_n(file.constData(), 256, image.begin());
    return image;
}
} // namespace

class TestCtl : public QObject {
    Q_OBJECT
private slots:
    void pullShowBuildDiff();
    void pushThroughALossyLineVerifies();
    void pushReportsWhatTheProcessorKeptWrong();
    void silentProcessorAndUnopenablePorts();
    void interruptedTransferReleasesAndWritesNothing();
    void venueInOneRun();
    void venueWhoseReaderGoes();
    void venueUnderALimitOnOpenFiles();
    void buildRefusesBadText_data();
    void buildRefusesBadText();

private:
    WorkingFolder m_folder;
};

// Back up a room, see it as text, turn the text back into the same bytes, compare.
void TestCtl::pullShowBuildDiff()
{
    const QByteArray tuned = tunedFile();
    Sim sim({"--load", "tuned.dat"});
    Run run = ctl({"pull", sim.path(), "room.dat", "--slots", "tuned.dat"});
    QVERIFY2(run.code == 0, qPrintable(run.err));
    QCOMPARE(readFile("room.dat"), tuned);
    QCOMPARE(sim.frames().first().address(), kConnectAddress);
    QCOMPARE(sim.frames().last().bytes, testing::hex("FE 07 66 6D FD")); // released

    run = ctl({"show", "room.dat", "--json"});
    QCOMPARE(run.code, 0);
    QVERIFY(testing::writeFile("room.json", run.out.toUtf8()));
    QVERIFY(run.out.contains("\"shown\": \"58dB\""));
    QCOMPARE(ctl({"build", "room.json", "again.dat"}).code, 0);
    QCOMPARE(readFile("again.dat"), tuned); // byte for byte

    QCOMPARE(ctl({"diff", "room.dat", "again.dat"}).code, 0);
    QString changed = run.out; // register 16 is the first to hold 30
    changed.replace(changed.indexOf("\"value\": 30"), 11, "\"value\": 40");
    QVERIFY(testing::writeFile("changed.json", changed.toUtf8()));
    QCOMPARE(ctl({"build", "changed.json", "changed.dat"}).code, 0);
    run = ctl({"diff", "room.dat", "changed.dat", "--json"});
    QCOMPARE(run.code, 1);
    const QJsonObject result = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(result["registers"].toArray().size(), 1);
    const QJsonObject only = result["registers"].toArray()[0].toObject();
    QCOMPARE(only["caption"].toString(), QString("音乐调整 音量"));
    QCOMPARE(only["aShown"].toString(), QString("58dB"));
    QCOMPARE(only["bShown"].toString(), QString("48dB"));
    run = ctl({"diff", sim.path(), "changed.dat"}); // a port against a file
    QCOMPARE(run.code, 1);
    QVERIFY2(run.out.contains("58dB | 48dB"), qPrintable(run.out));
}

void TestCtl::pushThroughALossyLineVerifies()
{
    tunedFile();
    Sim sim({"--drop", "0.2", "--corrupt", "0.1", "--noise", "0.1", "--seed", "7"});
    const Run run = ctl({"push", sim.path(), "tuned.dat"});
    QVERIFY2(run.code == 0, qPrintable(run.err + run.out));
    const RegisterImage wanted = imageOf(readFile("tuned.dat"));
    const RegisterImage held = sim.registers();
    for (const RegisterRow &row : registerMap())
        QCOMPARE(int(held[row.address]), int(wanted[row.address]));
}

// A faulty unit stores another value in one register: push says which, in the panel's words.
void TestCtl::pushReportsWhatTheProcessorKeptWrong()
{
    tunedFile();
    Sim sim({"--mangle", "16"});
    const Run run = ctl({"push", sim.path(), "tuned.dat"});
    QCOMPARE(run.code, 1);
    QCOMPARE(run.out.trimmed(), QString("音乐调整 音量: 58dB, 机器: 57dB"));
    const Run json = ctl({"push", sim.path(), "tuned.dat", "--json"});
    const QJsonObject result = QJsonDocument::fromJson(json.out.toUtf8()).object();
    QCOMPARE(result["differing"].toArray().size(), 1);
    QCOMPARE(result["differing"].toArray()[0].toObject()["address"].toInt(), 16);
}

void TestCtl::silentProcessorAndUnopenablePorts()
{
    tunedFile();
    Sim silent({"--silent"});
    QElapsedTimer clock;
    clock.start();
    Run run = ctl({"push", silent.path(), "tuned.dat"});
    QCOMPARE(run.code, 3);
    QVERIFY2(run.err.contains(silent.path() + ": no answer"), qPrintable(run.err));
    QVERIFY(clock.elapsed() < 10000);

    run = ctl({"pull", "/nonexistent/zev720-port", "out.dat"});
    QCOMPARE(run.code, 3);
    QVERIFY2(run.err.contains("/nonexistent/zev720-port: cannot open: no such device"),
             qPrintable(run.err));

    // Permission denied, and the group to join; as another user when run as root.
    Sim sim;
    const QByteArray device = QFile::symLinkTarget(sim.path()).isEmpty()
                                  ? sim.path().toLocal8Bit()
                                  : QFile::symLinkTarget(sim.path()).toLocal8Bit();
    QVERIFY(::chmod(device, 0600) == 0);
    QVERIFY(::chmod(m_folder.path().toLocal8Bit(), 0777) == 0);
    const bool root = ::geteuid() == 0;
    if (!root) QVERIFY(::chmod(device, 0) == 0);
    run = ctl({"pull", sim.path(), "out.dat"}, 20000, root ? 65534 : 0);
    QCOMPARE(run.code, 3);
    QVERIFY2(run.err.contains("permission denied (join the group"), qPrintable(run.err));
    QVERIFY(!QFile::exists("out.dat"));
}

// Ctrl-C in the middle of a slow pull: the processor is released and no file is left.
void TestCtl::interruptedTransferReleasesAndWritesNothing()
{
    Sim sim({"--baud", "300"}); // about 0.35 s a register
    QProcess process;
    process.start(testing::buildDir() + "/zev720ctl", {"pull", sim.path(), "slow.dat"});
    QVERIFY(process.waitForStarted());
    QVERIFY(sim.waitForFrames(3, 10000)); // the connect and a transfer under way
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 5);
    QVERIFY(!QFile::exists("slow.dat"));
    QVERIFY(sim.waitForFrames(4, 5000));
    QCOMPARE(sim.frames().last().bytes, testing::hex("FE 07 66 6D FD"));
    QVERIFY(sim.frames().size() < 20); // it stopped; 56 reads would follow otherwise
}

// Every room of a venue in parallel: one line a room, a summary, and a room that fails never
// stops the others.
void TestCtl::venueInOneRun()
{
    tunedFile();
    std::vector<std::unique_ptr<Sim>> rooms;
    for (int i = 0; i < 3; ++i)
        rooms.push_back(std::make_unique<Sim>(QStringList{"--listen", "127.0.0.1:0"}));
    rooms.push_back(
        std::make_unique<Sim>(QStringList{"--listen", "127.0.0.1:0", "--mangle", "16"}));
    Sim onCable;
    QString venue = "room, line\n";
    for (int i = 0; i < 4; ++i)
        venue += QString("R%1, %2\n").arg(i + 1).arg(rooms[std::size_t(i)]->path());
    venue += "R5; " + onCable.path() + "  # a device path works too\n";
    venue += "R6\ttcp://127.0.0.1:1\n"; // nobody there
    QVERIFY(testing::writeFile("venue.csv", venue.toUtf8()));

    Run run = ctl({"venue", "venue.csv", "push", "tuned.dat", "--jobs", "3"}, 60000);
    QCOMPARE(run.code, 3); // R6 failed
    const QStringList lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines.last(), QString("6 rooms: 4 ok, 1 differ, 1 failed"));
    for (const QString &line : lines.mid(0, 6)) {
        if (line.startsWith("R4 "))
            QVERIFY2(line.contains(" differs ") && line.endsWith("音乐调整 音量: 58dB, 机器: 57dB"),
                     qPrintable(line));
        else if (line.startsWith("R6 "))
            QVERIFY2(line.contains(" refused ") && line.contains("Connection refused"),
                     qPrintable(line));
        else
            QVERIFY2(line.contains(" ok "), qPrintable(line));
    }
    const RegisterImage wanted = imageOf(readFile("tuned.dat"));
    QCOMPARE(int(rooms[2]->registers()[50]), int(wanted[50]));
    QCOMPARE(int(onCable.registers()[16]), int(wanted[16]));

    run = ctl({"venue", "venue.csv", "pull", "backup/", "--json"}, 60000);
    const QJsonObject result = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(result["ok"].toInt(), 5);
    QCOMPARE(result["failed"].toInt(), 1);
    QCOMPARE(result["rooms"].toArray().size(), 6);
    QCOMPARE(readFile("backup/R1.dat").left(256), readFile("tuned.dat").left(256));
    QVERIFY(!QFile::exists("backup/R6.dat"));
}

// `zev720ctl venue ... | head -1`: once the reader is gone the run ends as an interrupt does,
// the room in mid-transfer is released, and no room's file is half there.
void TestCtl::venueWhoseReaderGoes()
{
    Sim quick({"--listen", "127.0.0.1:0"});
    Sim slow({"--baud", "1200"}); // about 2.5 s for the 56 registers
    QVERIFY(testing::writeFile(
        "venue.csv", ("quick, " + quick.path() + "\nslow, " + slow.path() + "\n").toUtf8()));
    QProcess shell;
    shell.start("bash",
                {"-c", testing::buildDir() + "/zev720ctl venue venue.csv pull out/ | head -1; "
                                             "exit ${PIPESTATUS[0]}"});
    QVERIFY(shell.waitForFinished(20000));
    QCOMPARE(shell.exitCode(), 5); // not 141, killed by SIGPIPE
    QVERIFY(QString::fromUtf8(shell.readAllStandardOutput()).startsWith("quick "));
    QVERIFY(slow.waitForFrames(3));
    QCOMPARE(slow.frames().last().address(), int(kDisconnectAddress));
    QVERIFY(slow.frames().size() < 40); // it stopped in the middle
    QVERIFY(QFile::exists("out/quick.dat"));
    QVERIFY(!QFile::exists("out/slow.dat"));
}

// 400 rooms under a limit of 256 open files: rooms wait for a place instead of failing as
// "Out of resources", and the summary says why they ran fewer at a time.
void TestCtl::venueUnderALimitOnOpenFiles()
{
    rlimit own{};
    ::getrlimit(RLIMIT_NOFILE, &own); // this side holds every connection
    own.rlim_cur = own.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &own);
    QTcpServer mute; // takes every connection and never answers a frame
    mute.setListenBacklogSize(1024);
    mute.setMaxPendingConnections(100000);
    QVERIFY(mute.listen(QHostAddress::LocalHost, 0));
    QString venue;
    constexpr int kRooms = 400;
    for (int i = 0; i < kRooms; ++i)
        venue += QString("R%1, tcp://127.0.0.1:%2\n").arg(i).arg(mute.serverPort());
    QVERIFY(testing::writeFile("venue.csv", venue.toUtf8()));
    QProcess process;
    process.setChildProcessModifier([] {
        const rlimit few{256, 256};
        if (::setrlimit(RLIMIT_NOFILE, &few) != 0) ::_exit(99);
    });
    process.start(testing::buildDir() + "/zev720ctl", {"venue", "venue.csv", "probe"});
    QElapsedTimer clock;
    for (clock.start(); process.state() != QProcess::NotRunning && clock.elapsed() < 60000;)
        QTest::qWait(20);
    process.waitForFinished();
    while (QTcpSocket *socket = mute.nextPendingConnection())
        delete socket;
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QStringList lines = out.trimmed().split('\n');
    QCOMPARE(process.exitCode(), 3);
    QCOMPARE(lines.size(), kRooms + 1);
    for (const QString &line : lines.mid(0, kRooms))
        QVERIFY2(line.contains("no answer from the processor"), qPrintable(line));
    QVERIFY2(lines.last().startsWith("400 rooms: 0 ok, 0 differ, 400 failed (") &&
                 lines.last().endsWith(" rooms at a time: the limit on open files is 256)"),
             qPrintable(lines.last()));
}

// Refused with the line of the entry and its name; nothing is written.
void TestCtl::buildRefusesBadText_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("message");
    QTest::newRow("broken JSON") << "\"shown\": \"58dB\","
                                 << "\"shown\": \"58dB\",,"
                                 << "unterminated object";
    QTest::newRow("unknown name") << "\"MusicVolumeTrackBar\""
                                  << "\"MusicVolumeBar\""
                                  << "unknown register 'MusicVolumeBar'";
    QTest::newRow("value out of range") << "\"value\": 30"
                                        << "\"value\": 300"
                                        << "MusicVolumeTrackBar: value 300 is not a byte";
}

void TestCtl::buildRefusesBadText()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, message);
    tunedFile();
    QString text = ctl({"show", "tuned.dat", "--json"}).out;
    const qsizetype at = text.indexOf(from);
    QVERIFY(at >= 0);
    text.replace(at, from.size(), to);
    // The line named is the entry's: where its name stands, or the broken place itself.
    const qsizetype entry = from.startsWith("\"value") ? text.lastIndexOf("\"name\"", at) : at;
    const QString line = QString("room.json:%1: ").arg(text.left(entry).count('\n') + 1);
    QVERIFY(testing::writeFile("room.json", text.toUtf8()));
    QFile::remove("out.dat");
    const Run run = ctl({"build", "room.json", "out.dat"});
    QCOMPARE(run.code, 4);
    QVERIFY2(run.err.contains(line + message), qPrintable(run.err + " / " + line + message));
    QVERIFY(!QFile::exists("out.dat"));
}

QTEST_GUILESS_MAIN(TestCtl)
#include "tst_ctl.moc"
