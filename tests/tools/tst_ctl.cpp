// zev720ctl as installers use it: the real binary against the emulator on a pseudo-terminal.
#include "files/ParameterFile.h"
#include "link/LinkSession.h"
#include "model/Shown.h"
#include "support/Sim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <csignal>
#include <memory>
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
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
    void valuesThatNoControlShows();
    void linesThatAnswerWrongly_data();
    void linesThatAnswerWrongly();
    void silentProcessorAndUnopenablePorts();
    void interruptedTransferReleasesAndWritesNothing();
    void venueInOneRun();
    void venueWhoseReaderGoes();
    void venueWhoseReaderStopsReading();
    void venueUnderALimitOnOpenFiles();
    void everyJsonResultHasOneShape();
    void helpTyposAndPortsAsTyped();
    void progressFitsANarrowTerminal();
    void buildRefusesBadText_data();
    void buildRefusesBadText();

private:
    WorkingFolder m_folder;
};

// One rule for a value that no control shows (volume byte 200): push refuses a file with one,
// naming it, unless --raw; a unit holding one is read only with --raw (else it is a wrong
// answer); show --json writes it so that build takes it back byte for byte, and a bare 200
// typed into the text is still refused.
void TestCtl::valuesThatNoControlShows()
{
    QByteArray odd = tunedFile();
    odd[16] = char(200);
    QVERIFY(testing::writeFile("odd.dat", odd));
    Sim sim;
    Run run = ctl({"push", sim.path(), "odd.dat"});
    QVERIFY2(run.code == 4 && run.err.contains("MusicVolumeTrackBar holds 200"), qPrintable(run.err));
    QVERIFY(sim.frames().isEmpty());
    QCOMPARE(ctl({"push", sim.path(), "odd.dat", "--raw"}).code, 0);
    QCOMPARE(int(sim.registers()[16]), 200);
    run = ctl({"pull", sim.path(), "read.dat"});
    QVERIFY2(run.code == 3 && run.err.contains("answers wrongly"), qPrintable(run.err));
    QCOMPARE(ctl({"pull", sim.path(), "read.dat", "--raw"}).code, 0);
    QCOMPARE(int(quint8(readFile("read.dat")[16])), 200);

    run = ctl({"show", "odd.dat", "--json"});
    QVERIFY(run.out.contains("\"shown\": \"? 200\""));
    QVERIFY(testing::writeFile("odd.json", run.out.toUtf8()));
    QCOMPARE(ctl({"build", "odd.json", "back.dat"}).code, 0);
    QCOMPARE(readFile("back.dat"), odd);
    QString typed = run.out;
    typed.replace("\"shown\": \"? 200\"", "\"shown\": \"68dB\"");
    QVERIFY(testing::writeFile("typed.json", typed.toUtf8()));
    QVERIFY(ctl({"build", "typed.json", "typed.dat"}).code != 0);
}

void TestCtl::linesThatAnswerWrongly_data()
{
    QTest::addColumn<QStringList>("line");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said");
    // A two-wire adapter that echoes what it sends, with a processor behind it: its echo is no
    // answer, the processor's answers are taken.
    QTest::newRow("echo with answers") << QStringList{"--echo"} << 0 << "";
    // The echo alone: nobody answers, and nothing is made of our own frames.
    QTest::newRow("echo without answers") << QStringList{"--echo", "--silent"} << 3
                                          << "no answer from the processor";
    // Answers for the register after the one asked: none of them an answer, nor a sign of life.
    QTest::newRow("replies for other registers") << QStringList{"--reply-other-address"} << 3
                                                 << "stopped answering: no reply to 10 frames";
}

// A line that answers, but wrongly, never makes a backup of garbage nor a push "verified":
// pull, push and a venue of two rooms through the real emulator's misbehaviours, each over
// within the documented number of frames.
void TestCtl::linesThatAnswerWrongly()
{
    QFETCH(QStringList, line);
    QFETCH(int, code);
    QFETCH(QString, said);
    const QByteArray tuned = tunedFile();
    QFile::remove("room.dat");
    QDir("out").removeRecursively();
    Sim sim(line + QStringList{"--load", "tuned.dat", "--listen", "127.0.0.1:0"});
    Run run = ctl({"pull", sim.path(), "room.dat"});
    QVERIFY2(run.code == code && run.err.contains(said), qPrintable(run.err));
    QCOMPARE(QFile::exists("room.dat"), code == 0);
    if (code == 0) // what the processor holds, not its echo
        for (const RegisterRow &row : registerMap())
            QCOMPARE(quint8(readFile("room.dat")[row.address]), quint8(tuned[row.address]));
    QVERIFY(sim.frames().size() <= 2 + 56 + kSilentFrames);

    QByteArray louder = tuned;
    louder[16] = char(10);
    QVERIFY(testing::writeFile("louder.dat", louder));
    run = ctl({"push", sim.path(), "louder.dat"});
    QVERIFY2(run.code == code && run.out.contains("written and verified") == (code == 0),
             qPrintable(run.out + run.err));
    if (code == 0) QCOMPARE(int(sim.registers()[16]), 10);

    Sim good;
    QVERIFY(testing::writeFile("venue.csv", ("liar, " + sim.path() + "\ngood, " + good.path() + "\n").toUtf8()));
    run = ctl({"venue", "venue.csv", "pull", "out"});
    QCOMPARE(run.code, code);
    QVERIFY2(run.out.contains(QRegularExpression("good +\\S+ +ok")), qPrintable(run.out));
    QCOMPARE(QFile::exists("out/liar.dat"), code == 0);
}

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
    QCOMPARE(ctl({"diff", "room.dat", "again.dat"}).out.trimmed(),
             QString("no difference: the 56 registers and the 21 mode slots are the same"));
    QString changed = run.out; // register 16 is the first to hold 30; a person edits the text
    changed.replace(changed.indexOf("\"shown\": \"58dB\""), 15, "\"shown\": \"48dB\"");
    QVERIFY(testing::writeFile("changed.json", changed.toUtf8()));
    const Run half = ctl({"build", "changed.json", "changed.dat"}); // value and shown disagree
    QCOMPARE(half.code, 4);
    QVERIFY2(half.err.contains("MusicVolumeTrackBar: value 30 shows \"58dB\", not \"48dB\""),
             qPrintable(half.err));
    QVERIFY(!QFile::exists("changed.dat"));
    changed.replace(changed.indexOf("\"value\": 30"), 11, "\"value\": 40");
    QVERIFY(testing::writeFile("changed.json", changed.toUtf8()));
    QCOMPARE(ctl({"build", "changed.json", "changed.dat"}).code, 0);
    run = ctl({"diff", "room.dat", "changed.dat"});
    QCOMPARE(run.code, 1);
    QCOMPARE(run.out.trimmed(), QString("音乐调整 音量: room.dat 58dB, changed.dat 48dB"));
    run = ctl({"diff", sim.path(), "changed.dat"}); // a port against a file, read as typed
    QCOMPARE(run.code, 1);
    QCOMPARE(run.out.trimmed(),
             QString("音乐调整 音量: %1 58dB, changed.dat 48dB").arg(sim.path()));
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
    QCOMPARE(run.out.trimmed(), QString("音乐调整 音量: tuned.dat 58dB, 机器 57dB"));
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

    // Permission denied, as another user when run as root: the group to join only where that
    // group may read and write the device, else who may.
    Sim sim;
    const QByteArray device = QFile::symLinkTarget(sim.path()).isEmpty()
                                  ? sim.path().toLocal8Bit()
                                  : QFile::symLinkTarget(sim.path()).toLocal8Bit();
    QVERIFY(::chmod(m_folder.path().toLocal8Bit(), 0777) == 0);
    const bool root = ::geteuid() == 0;
    QVERIFY(::chmod(device, root ? 0600 : 0) == 0);
    run = ctl({"pull", sim.path(), "out.dat"}, 20000, root ? 65534 : 0);
    QCOMPARE(run.code, 3);
    QVERIFY2(run.err.contains("permission denied") && !run.err.contains("join the group"),
             qPrintable(run.err));
    if (root) {
        QVERIFY2(run.err.contains("only the user root may read and write it"), qPrintable(run.err));
        struct stat info {};
        QVERIFY(::stat(device, &info) == 0);
        const group *owners = ::getgrgid(info.st_gid);
        QVERIFY(owners);
        QVERIFY(::chmod(device, 0660) == 0);
        run = ctl({"pull", sim.path(), "out.dat"}, 20000, 65534);
        QVERIFY2(run.err.contains(QString("permission denied (join the group %1: sudo adduser "
                                          "$USER %1")
                                      .arg(owners->gr_name)),
                 qPrintable(run.err));
    }
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
            QVERIFY2(line.contains(" differs ") && line.endsWith("音乐调整 音量: tuned.dat 58dB, 机器 57dB"),
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
    // The quick room takes long enough (about 0.6 s) for the slow one to be under way on a
    // loaded machine too, and ends well before it.
    Sim quick({"--listen", "127.0.0.1:0", "--delay", "10"});
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

// Standard output a pipe that nobody reads (a pager at its prompt), full from the start: the
// rooms are still pulled and released while the report waits; an interrupt in the middle of a
// slow room releases it within 2 s, and one at the end ends the program though its report
// was never read.
void TestCtl::venueWhoseReaderStopsReading()
{
    const auto fullPipe = [](int ends[2]) {
        if (::pipe(ends) != 0) return false;
        ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
        ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
        const QByteArray filler(4096, 'x');
        while (::write(ends[1], filler.constData(), std::size_t(filler.size())) > 0) {
        }
        ::fcntl(ends[1], F_SETFL, 0);
        return true;
    };
    const auto start = [&](QProcess &process, int out, const QStringList &arguments) {
        process.setChildProcessModifier([out] { ::dup2(out, STDOUT_FILENO); });
        process.setStandardOutputFile(QProcess::nullDevice()); // replaced by the pipe above
        process.start(testing::buildDir() + "/zev720ctl", arguments);
        return process.waitForStarted();
    };
    Sim a({"--listen", "127.0.0.1:0"}), b({"--listen", "127.0.0.1:0"});
    QVERIFY(testing::writeFile("venue.csv", ("a, " + a.path() + "\nb, " + b.path() + "\n").toUtf8()));
    int ends[2];
    QVERIFY(fullPipe(ends));
    QProcess whole;
    QVERIFY(start(whole, ends[1], {"venue", "venue.csv", "pull", "out"}));
    for (Sim *sim : {&a, &b})
        QVERIFY(QTest::qWaitFor([&] {
            const auto frames = sim->frames();
            return !frames.isEmpty() && frames.last().address() == int(kDisconnectAddress);
        }, 10000));
    // A room's file is written once its processor is released: a moment after the last frame.
    QVERIFY(QTest::qWaitFor([] { return QFile::exists("out/a.dat") && QFile::exists("out/b.dat"); },
                            10000));
    QCOMPARE(whole.state(), QProcess::Running); // its report waits for the reader
    ::kill(pid_t(whole.processId()), SIGINT);
    QVERIFY(whole.waitForFinished(5000));

    Sim slow({"--baud", "1200"}); // about 2.5 s for the 56 registers
    QVERIFY(testing::writeFile("venue.csv", ("a, " + a.path() + "\nslow, " + slow.path() + "\n").toUtf8()));
    QProcess cut;
    QVERIFY(start(cut, ends[1], {"venue", "venue.csv", "pull", "again"}));
    QVERIFY(slow.waitForFrames(10, 10000)); // under way; the quick room's line waits unread
    ::kill(pid_t(cut.processId()), SIGINT);
    QVERIFY(QTest::qWaitFor([&] { return slow.frames().last().address() == int(kDisconnectAddress); },
                            2000));
    QVERIFY(cut.waitForFinished(5000));
    QCOMPARE(cut.exitCode(), 5);
    ::close(ends[0]);
    ::close(ends[1]);
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
    QVERIFY(mute.listen(QHostAddress::AnyIPv4, 0));
    QString venue;
    constexpr int kRooms = 400;
    for (int i = 0; i < kRooms; ++i) // a line each, every one of them this machine
        venue += QString("R%1, tcp://127.0.%2.%3:%4\n")
                     .arg(i)
                     .arg(1 + i / 200)
                     .arg(1 + i % 200)
                     .arg(mute.serverPort());
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

namespace {
// The one shape of a register that differs, the same in every command (README, "JSON").
void checkDifference(const QJsonValue &value, const QString &where)
{
    const QJsonObject d = value.toObject();
    const QStringList keys = d.keys();
    QCOMPARE(QSet<QString>(keys.begin(), keys.end()),
             (QSet<QString>{"address", "name", "title", "english", "a", "b"}));
    QVERIFY2(d["address"].isDouble() && d["name"].isString() && d["title"].isString(),
             qPrintable(where));
    QVERIFY(findRegisterByName(d["name"].toString().toStdString()));
    for (const char *side : {"a", "b"}) {
        const QJsonObject s = d[side].toObject();
        const QStringList sideKeys = s.keys();
        QCOMPARE(QSet<QString>(sideKeys.begin(), sideKeys.end()), (QSet<QString>{"value", "shown"}));
        QVERIFY2(s["value"].isDouble() && s["value"].toInt() >= 0 && s["value"].toInt() <= 255,
                 qPrintable(where));
        QVERIFY2(s["shown"].isString(), qPrintable(where));
    }
}
} // namespace

// push, diff, venue push and venue diff report a differing register in one shape, with the
// sides named a and b alike, and every result carries its version.
void TestCtl::everyJsonResultHasOneShape()
{
    tunedFile();
    Sim mangles({"--listen", "127.0.0.1:0", "--mangle", "16"});
    QVERIFY(testing::writeFile("venue.csv", ("R1, " + mangles.path() + "\n").toUtf8()));
    struct Case {
        QStringList command;
        QString list; ///< where the differing registers stand
    };
    const QList<Case> cases = {
        {{"push", mangles.path(), "tuned.dat", "--json"}, "differing"},
        {{"diff", "tuned.dat", mangles.path(), "--json"}, "differing"},
        {{"venue", "venue.csv", "push", "tuned.dat", "--json"}, "rooms/0/differing"},
        {{"venue", "venue.csv", "diff", "tuned.dat", "--json"}, "rooms/0/differing"},
    };
    for (const Case &c : cases) {
        const Run run = ctl(c.command);
        QCOMPARE(run.code, 1);
        const QJsonObject result = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(result["version"].toInt(), 1);
        QCOMPARE(result["a"].toString(), QString("tuned.dat"));
        QJsonValue list = result;
        for (const QString &step : c.list.split('/'))
            list = step[0].isDigit() ? list.toArray().at(step.toInt()) : list.toObject().value(step);
        const QJsonArray differing = list.toArray();
        QCOMPARE(differing.size(), 1);
        checkDifference(differing.at(0), c.command.join(' '));
        const QJsonObject d = differing.at(0).toObject();
        QCOMPARE(d["title"].toString(), QString("音乐调整 音量"));
        QCOMPARE(d["english"].toString(), QString("Music volume"));
        QCOMPARE(d["a"].toObject()["shown"].toString(), QString("58dB"));
        QCOMPARE(d["b"].toObject()["shown"].toString(), QString("57dB"));
    }
    // Every command's result is one JSON object named by its command; show's is the document
    // that build reads back.
    const QList<QStringList> all = {
        {"pull", mangles.path(), "x.dat", "--json"}, {"ports", "--json"},
        {"show", "tuned.dat", "--json"},             {"lock", mangles.path(), "--json"},
        {"build", "shown.json", "built.dat", "--json"}};
    for (const QStringList &command : all) {
        const Run run = ctl(command);
        QJsonParseError error;
        const QJsonObject result = QJsonDocument::fromJson(run.out.toUtf8(), &error).object();
        QVERIFY2(run.code == 0 && error.error == QJsonParseError::NoError,
                 qPrintable(command.join(' ') + ": " + run.out + run.err));
        QCOMPARE(result["command"].toString(), command[0]);
        QCOMPARE(result["version"].toInt(), 1);
        if (command[0] == "show") QVERIFY(testing::writeFile("shown.json", run.out.toUtf8()));
    }
    QCOMPARE(testing::readFile("built.dat"), testing::readFile("tuned.dat"));

    // In English for people who read it (--lang en, ZEV720_LANG=en), with the names of the
    // one table that the pages read too.
    Run english = ctl({"diff", "tuned.dat", mangles.path(), "--lang", "en"});
    QVERIFY2(english.out.startsWith("Music volume: tuned.dat 58dB, "), qPrintable(english.out));
    qputenv("ZEV720_LANG", "en");
    english = ctl({"show", "tuned.dat"});
    qunsetenv("ZEV720_LANG");
    QVERIFY2(english.out.startsWith("Music  Music  Music volume   30  58dB\n"), qPrintable(english.out));
    QVERIFY(ctl({"show", "tuned.dat", "--lang", "fr"}).code == 2);
}

// Help for each command, -h as --help, the nearest command for a typo; a port named as typed
// with the device it stands for, so that a forgotten ZEV720_COM1 shows.
void TestCtl::helpTyposAndPortsAsTyped()
{
    Run run = ctl({"pull", "-h"});
    QCOMPARE(run.code, 0);
    QVERIFY(run.out.startsWith("Usage: zev720ctl pull PORT OUT.dat"));
    QVERIFY(!run.out.contains("build FILE.json"));
    QCOMPARE(ctl({"help", "venue"}).out, ctl({"venue", "--help"}).out);
    QVERIFY(ctl({"--help"}).out.contains("build FILE.json OUT.dat"));
    for (const QString typo : {"pul", "Pull", "pusj"}) {
        run = ctl({typo, "1", "x.dat"});
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(typo + ": no such command; did you mean '" +
                                  (typo.startsWith("pus") ? "push" : "pull") + "'?"),
                 qPrintable(run.err));
    }
    QVERIFY(!ctl({"frobnicate"}).err.contains("did you mean"));
    // Values of options are no commands, a short option is an option, and a count or a line
    // setting below 1 is refused (inside, -1 stands for "not given").
    QVERIFY(ctl({"--baud", "9600", "--help"}).out.startsWith("Usage: zev720ctl COMMAND"));
    QVERIFY(ctl({"--baud", "9600", "push", "--help"}).out.startsWith("Usage: zev720ctl push"));
    const QList<std::pair<QStringList, QString>> refused = {
        {{"pull", "1", "x.dat", "--baud", "-1"}, "--baud -1: must be 1 or more"},
        {{"pull", "1", "x.dat", "--data", "-1"}, "--data -1: must be 1 or more"},
        {{"pull", "1", "x.dat", "--stop", "-2"}, "--stop -2: must be 1 or more"},
        {{"venue", "v.csv", "probe", "--jobs", "-1"}, "--jobs -1: must be 1 or more"},
        {{"venue", "v.csv", "probe", "--jobs", "0"}, "--jobs 0: must be 1 or more"},
        {{"-j", "3", "venue", "v.csv", "probe"}, "-j: unknown option"}};
    for (const auto &[words, said] : refused) {
        run = ctl(words);
        QVERIFY2(run.code == 2 && run.err.startsWith("zev720ctl: " + said),
                 qPrintable(words.join(' ') + ": " + run.err));
    }
    // A line is named once, whatever layer found its fault.
    run = ctl({"pull", "tcp://127.0.0.1", "x.dat"});
    QCOMPARE(run.err, QString("zev720ctl: tcp://127.0.0.1: no port after the host\n"));

    qputenv("ZEV720_COM3", "/nonexistent/ttyUSB7");
    run = ctl({"pull", "3", "out.dat"});
    qunsetenv("ZEV720_COM3");
    QCOMPARE(run.code, 3);
    QVERIFY2(run.err.contains("zev720ctl: 3 (/nonexistent/ttyUSB7): cannot open: no such device"),
             qPrintable(run.err));
}

// On a terminal 40 columns wide, the progress line never wraps; a push's read-back is shown
// as its own phase rather than as the bar falling back from 56/56 to 0.
void TestCtl::progressFitsANarrowTerminal()
{
    tunedFile();
    Sim sim({"--baud", "9600"});
    for (const QString command : {"pull", "push"}) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QByteArray slavePath = ::ptsname(master);
        const winsize narrow{24, 40, 0, 0};
        const int slave = ::open(slavePath.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(slave >= 0 && ::ioctl(slave, TIOCSWINSZ, &narrow) == 0);
        QProcess process;
        process.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
        process.start(testing::buildDir() + "/zev720ctl",
                      {command, sim.path(), command == "pull" ? "out.dat" : "tuned.dat"});
        QByteArray seen;
        char chunk[4096];
        const auto drain = [&] {
            for (ssize_t n; (n = ::read(master, chunk, sizeof chunk)) > 0;)
                seen.append(chunk, n);
        };
        QElapsedTimer clock;
        clock.start();
        while (!process.waitForFinished(50) && clock.elapsed() < 20000)
            drain(); // read while it runs: a full terminal would hold the run up
        QCOMPARE(process.exitCode(), 0);
        ::close(slave);
        drain();
        ::close(master);
        QVERIFY(seen.contains(command.toUtf8() + " ["));
        int pushed = 0; // a push's own bar only goes forward; the read-back comes after it
        bool verifying = false;
        for (QByteArray part : seen.split('\r')) {
            part.replace("\033[K", "");
            QVERIFY2(part.size() < 40, part.constData());
            if (part.startsWith("push ")) {
                const int done = part.mid(part.lastIndexOf(' ') + 1).split('/')[0].toInt();
                QVERIFY2(done >= pushed && !verifying, part.constData());
                pushed = done;
            }
            verifying = verifying || part.startsWith("verifying [");
        }
        if (command == "push") QVERIFY2(pushed == 56 && verifying, seen.constData());
    }
}

// Refused with the line of the entry (or of the broken place) and its name; nothing is
// written. The text that people edit is taken only where it is plainly meant.
void TestCtl::buildRefusesBadText_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("atEntry"); ///< the line named is the entry's, not the edit's
    QTest::addColumn<QString>("message");
    QTest::newRow("broken JSON") << "\"value\": 30," << "\"value\": 30,," << false
                                 << "a member's name in quotes belongs here";
    QTest::newRow("unknown name") << "\"MusicVolumeTrackBar\"" << "\"MusicVolumeBar\"" << false
                                  << "unknown register 'MusicVolumeBar'";
    QTest::newRow("value out of range") << "\"value\": 30," << "\"value\": 300," << true
                                        << "MusicVolumeTrackBar: value 300 is not a byte";
    QTest::newRow("a huge number") << "\"value\": 30," << "\"value\": 1e300," << true
                                   << "MusicVolumeTrackBar: value 1e300 is not a byte";
    QTest::newRow("value the control cannot show")
        << "\"value\": 30," << "\"value\": 200," << true
        << "MusicVolumeTrackBar: value 200 is no value that this control shows";
    QTest::newRow("value and shown disagree") << "\"value\": 30," << "\"value\": 20," << true
                                              << "value 20 shows \"68dB\", not \"58dB\"";
    QTest::newRow("a field given twice") << "\"value\": 30," << "\"value\": 30, \"value\": 20,"
                                         << false << "\"value\" is given twice";
    QTest::newRow("a NUL in a text") << "\"shown\": \"58dB\"" << "\"shown\": \"58dB\\u0000x\""
                                     << false << "a control character inside a string";
    QTest::newRow("a misspelt field") << "\"value\": 30," << "\"valeu\": 30," << false
                                      << "MusicVolumeTrackBar: unknown field \"valeu\"";
    QTest::newRow("an address with a sign") << "\"otherBytes\": {" << "\"otherBytes\": {\"+3\": 1, "
                                            << false
                                            << "otherBytes: '+3' is no address outside the settings";
    QTest::newRow("an address with a space") << "\"otherBytes\": {" << "\"otherBytes\": {\" 3\": 1, "
                                             << false
                                             << "otherBytes: ' 3' is no address outside";
    QTest::newRow("otherBytes as a list")
        << "\"otherBytes\": {\n        \"3\": 102\n    }" << "\"otherBytes\": [1, 2]" << false
        << "otherBytes: an object of address: value";
}

void TestCtl::buildRefusesBadText()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, atEntry);
    QFETCH(QString, message);
    tunedFile();
    QString text = ctl({"show", "tuned.dat", "--json"}).out;
    // otherBytes holds something, so that an edit of it leaves the rest valid.
    text.replace(QRegularExpression("\"otherBytes\": \\{[^}]*\\}"),
                 "\"otherBytes\": {\n        \"3\": 102\n    }");
    const qsizetype at = text.indexOf(from);
    QVERIFY(at >= 0);
    text.replace(at, from.size(), to);
    const qsizetype entry = atEntry ? text.lastIndexOf("\"name\"", at) : at;
    const QString line = QString("room.json:%1: ").arg(text.left(entry).count('\n') + 1);
    QVERIFY(testing::writeFile("room.json", text.toUtf8()));
    QFile::remove("out.dat");
    const Run run = ctl({"build", "room.json", "out.dat"});
    QCOMPARE(run.code, 4);
    QVERIFY2(run.err.contains(line) && run.err.contains(message),
             qPrintable(run.err + " / " + line + message));
    QVERIFY(!QFile::exists("out.dat"));
}

QTEST_GUILESS_MAIN(TestCtl)
#include "tst_ctl.moc"
