// The room engine on its own: jobs on rooms, many at once on one thread, against emulators on
// TCP and on pseudo-terminals that misbehave the way lines in a venue do. Every address is on
// this machine's loopback.
#include "files/ParameterFile.h"
#include "link/LinkSession.h"
#include "room/RoomQueue.h"
#include "support/Gui.h"
#include "support/Sim.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zev;
using testing::Sim;

namespace {

RoomTask taskOn(const QString &line, Operation operation)
{
    RoomTask task;
    task.line = line.toStdString();
    task.operation = operation;
    return task;
}

// An image that differs from the factory values in a few registers.
RegisterImage tunedImage()
{
    ParameterModel model;
    model.loadFactoryValues();
    model.image[16] = 30;
    model.image[50] = 10;
    model.image[62] = 7;
    return model.image;
}

// Runs the queue until every job is over; `during` runs once, `afterMs` after the start.
void runQueue(RoomQueue &queue, int afterMs = -1, const std::function<void()> &during = {})
{
    QEventLoop loop;
    QObject::connect(&queue, &RoomQueue::allOver, &loop, &QEventLoop::quit);
    QTimer guard; // a run that never ends fails below instead of hanging the suite
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(60000);
    if (during) QTimer::singleShot(afterMs, &loop, during);
    queue.start();
    loop.exec();
    QVERIFY2(queue.over(), "the rooms never finished");
}

bool sameRegisters(const RegisterImage &a, const RegisterImage &b)
{
    for (const RegisterRow &row : registerMap())
        if (a[row.address] != b[row.address]) return false;
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A listener on loopback whose backlog is full: further connection requests are dropped and
// never answered, as a host that is down behind a router.
class FullBacklog {
public:
    FullBacklog()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size) ||
            ::listen(m_listener, 0) ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size))
            qFatal("no listener");
        port = ntohs(address.sin_port);
        for (int i = 0; i < 3; ++i) { // queued and never accepted: the backlog is full
            const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(s, reinterpret_cast<sockaddr *>(&address), size);
            m_filling.push_back(s);
        }
        QTest::qWait(100);
    }
    ~FullBacklog()
    {
        for (int s : m_filling)
            ::close(s);
        ::close(m_listener);
    }
    QString line() const { return QString("tcp://127.0.0.1:%1").arg(port); }
    int port = 0;

private:
    int m_listener = -1;
    std::vector<int> m_filling;
};

} // namespace

class TestRoom : public QObject {
    Q_OBJECT
private slots:
    void init() { m_folder = std::make_unique<testing::WorkingFolder>(); }
    void cleanup() { m_folder.reset(); }
    void lineGoesAwayMidTransfer_data();
    void lineGoesAwayMidTransfer();
    void babblingPeerCostsNeitherMemoryNorTheOthersTime();
    void opensWaitTogetherUnderOneDeadline();
    void silenceAndBanners();
    void interruptReleasesRunningRoomsAndStartsNoOthers();
    void verifiedPushResendsWhatDiffers();

private:
    std::unique_ptr<testing::WorkingFolder> m_folder;
};

void TestRoom::lineGoesAwayMidTransfer_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("operation");
    QTest::newRow("closed during a pull") << "--hangup-after" << int(Operation::Pull);
    QTest::newRow("reset during a pull") << "--reset-after" << int(Operation::Pull);
    QTest::newRow("closed during a push") << "--hangup-after" << int(Operation::Push);
    QTest::newRow("reset during a push") << "--reset-after" << int(Operation::Push);
}

// A server that closes or resets the connection in the middle of a transfer ends that room
// as "the device went away"; the rooms beside it finish, their reports whole.
void TestRoom::lineGoesAwayMidTransfer()
{
    QFETCH(QString, how);
    QFETCH(int, operation);
    Sim leaving({"--listen", "127.0.0.1:0", "--baud", "9600", how, "20"});
    Sim first({"--listen", "127.0.0.1:0", "--baud", "9600"});
    Sim onCable({"--baud", "9600"});
    std::vector<RoomTask> tasks;
    for (const Sim *sim : {&first, &leaving, &onCable}) {
        tasks.push_back(taskOn(sim->path(), Operation(operation)));
        tasks.back().wanted = tunedImage();
    }
    RoomQueue queue(tasks, 0);
    runQueue(queue);
    const RoomReport &gone = queue.job(1).report();
    QCOMPARE(outcomeName(gone.outcome), "the device went away");
    for (std::size_t i : {0u, 2u}) {
        const RoomReport &report = queue.job(i).report();
        QCOMPARE(outcomeName(report.outcome), "ok");
        Sim &sim = i == 0 ? first : onCable;
        QVERIFY(sameRegisters(Operation(operation) == Operation::Pull ? report.held : tunedImage(),
                              sim.registers()));
        QCOMPARE(sim.frames().last().address(), int(kDisconnectAddress)); // released
    }
}

// A peer that answers the connect and then babbles noise with frames in it, as fast as TCP
// takes it: the rooms beside it keep their pace, and the engine's memory does not grow.
void TestRoom::babblingPeerCostsNeitherMemoryNorTheOthersTime()
{
    std::vector<std::unique_ptr<Sim>> good;
    for (int i = 0; i < 4; ++i)
        good.push_back(
            std::make_unique<Sim>(QStringList{"--listen", "127.0.0.1:0", "--baud", "9600"}));
    auto goodTasks = [&] {
        std::vector<RoomTask> tasks;
        for (const auto &sim : good)
            tasks.push_back(taskOn(sim->path(), Operation::Pull));
        return tasks;
    };
    auto goodTimes = [&](const RoomQueue &queue) {
        std::vector<double> seconds;
        for (std::size_t i = 0; i < good.size(); ++i) {
            if (queue.job(i).report().outcome != Outcome::Ok) return std::vector<double>{};
            seconds.push_back(queue.job(i).report().seconds);
        }
        return seconds;
    };
    RoomQueue quiet(goodTasks(), 0);
    runQueue(quiet);
    const std::vector<double> quietTimes = goodTimes(quiet);
    QVERIFY(!quietTimes.empty());

    // It answers the connect, then only babbles: each frame of noise that happens to be
    // valid keeps the room going, so its push outlasts the others.
    Sim babbler({"--listen", "127.0.0.1:0", "--silent-after", "1", "--flood"});
    std::vector<RoomTask> tasks = goodTasks();
    tasks.push_back(taskOn(babbler.path(), Operation::Push));
    tasks.back().wanted = tunedImage();
    RoomQueue noisy(tasks, 0);
    const std::size_t heapBefore = testing::heapInUse();
    std::size_t heapDuring = 0;
    // Three seconds of flood after the good rooms are over, then the babbling room is ended.
    runQueue(noisy, 3000, [&] {
        heapDuring = testing::heapInUse();
        noisy.interrupt();
    });
    const std::vector<double> noisyTimes = goodTimes(noisy);
    QVERIFY(!noisyTimes.empty());
    QCOMPARE(outcomeName(noisy.job(4).report().outcome), "interrupted");
    qInfo("good rooms, median: %.3f s alone, %.3f s beside the flood; heap %zu KB before, %zu KB "
          "during",
          median(quietTimes), median(noisyTimes), heapBefore / 1024, heapDuring / 1024);
    QVERIFY2(median(noisyTimes) < 1.5 * median(quietTimes), "the flood slowed the other rooms");
    QVERIFY2(heapDuring < heapBefore + 2 * 1024 * 1024, "the flood grew the memory");
}

// Opens that nobody answers all wait at the same time, under one deadline each, and end as
// "no answer" rather than "refused"; the good rooms beside them are not held up.
void TestRoom::opensWaitTogetherUnderOneDeadline()
{
    FullBacklog dropped;
    Sim a({"--listen", "127.0.0.1:0"}), b({"--listen", "127.0.0.1:0"});
    std::vector<RoomTask> tasks{taskOn(a.path(), Operation::Probe)};
    for (int i = 0; i < 8; ++i)
        tasks.push_back(taskOn(dropped.line(), Operation::Probe));
    tasks.push_back(taskOn(b.path(), Operation::Probe));
    tasks.push_back(taskOn("tcp://127.0.0.1:1", Operation::Probe));
    RoomQueue queue(tasks, 0);
    QElapsedTimer clock;
    clock.start();
    runQueue(queue);
    const double seconds = double(clock.elapsed()) / 1000;
    for (std::size_t i = 1; i <= 8; ++i) {
        const RoomReport &report = queue.job(i).report();
        QCOMPARE(outcomeName(report.outcome), "no answer");
        QVERIFY2(QString::fromStdString(report.detail).endsWith("no answer within 1.5 s"),
                 report.detail.c_str());
    }
    QCOMPARE(outcomeName(queue.job(0).report().outcome), "ok");
    QCOMPARE(outcomeName(queue.job(9).report().outcome), "ok");
    QVERIFY(queue.job(0).report().seconds < 1.0); // not behind the opens that wait
    QCOMPARE(outcomeName(queue.job(10).report().outcome), "refused");
    // One after another, the eight would take 12 s; side by side, one deadline.
    QVERIFY2(seconds < 2 * kOpenDeadlineMs / 1000.0, qPrintable(QString::number(seconds)));
}

// A processor that stops answering is given up on after a run of silent frames, not after
// every register's tries; a long greeting of the server before the first reply is skipped.
void TestRoom::silenceAndBanners()
{
    Sim stops({"--listen", "127.0.0.1:0", "--silent-after", "3"});
    Sim greets({"--listen", "127.0.0.1:0", "--banner", "5000"});
    Sim greetsSlowly({"--listen", "127.0.0.1:0", "--banner", "5000", "--baud", "115200"});
    RoomTask push = taskOn(stops.path(), Operation::Push);
    push.wanted = tunedImage();
    RoomQueue queue({push, taskOn(greets.path(), Operation::Pull),
                     taskOn(greetsSlowly.path(), Operation::Pull)},
                    0);
    runQueue(queue);
    const RoomReport &silent = queue.job(0).report();
    QCOMPARE(outcomeName(silent.outcome), "the processor stopped answering");
    // The connect, two answered writes, then kSilentFrames unanswered ones and the release.
    QVERIFY2(stops.frames().size() <= 3 + kSilentFrames + 1,
             qPrintable(QString::number(stops.frames().size())));
    QCOMPARE(stops.frames().last().address(), int(kDisconnectAddress));
    for (std::size_t i : {1u, 2u}) {
        QCOMPARE(outcomeName(queue.job(i).report().outcome), "ok");
        QVERIFY(sameRegisters(queue.job(i).report().held,
                              (i == 1 ? greets : greetsSlowly).registers()));
    }
}

// An interrupt ends the transfers under way after their frame, releases those processors,
// and the rooms that were waiting for their turn are not started and not counted as failed.
void TestRoom::interruptReleasesRunningRoomsAndStartsNoOthers()
{
    Sim slow({"--baud", "1200"});
    std::vector<std::unique_ptr<Sim>> waiting;
    std::vector<RoomTask> tasks{taskOn(slow.path(), Operation::Pull)};
    for (int i = 0; i < 3; ++i) {
        waiting.push_back(std::make_unique<Sim>(QStringList{"--listen", "127.0.0.1:0"}));
        tasks.push_back(taskOn(waiting.back()->path(), Operation::Pull));
    }
    RoomQueue queue(tasks, 1);
    runQueue(queue, 500, [&] { queue.interrupt(); });
    QCOMPARE(outcomeName(queue.job(0).report().outcome), "interrupted");
    QVERIFY(!isFailure(queue.job(0).report().outcome));
    QVERIFY(slow.waitForFrames(3));
    QCOMPARE(slow.frames().last().address(), int(kDisconnectAddress));
    QVERIFY(slow.frames().size() < 40); // 56 reads would follow otherwise
    for (std::size_t i = 1; i < 4; ++i) {
        QCOMPARE(outcomeName(queue.job(i).report().outcome), "not started");
        QVERIFY(!isFailure(queue.job(i).report().outcome));
        QVERIFY(waiting[i - 1]->frames().isEmpty());
    }
}

// A unit that keeps one register wrong is resent it kVerifyRounds times and then reported;
// one that drops replies still ends verified.
void TestRoom::verifiedPushResendsWhatDiffers()
{
    Sim mangles({"--listen", "127.0.0.1:0", "--mangle", "16"});
    Sim drops({"--drop", "0.2", "--seed", "7"});
    RoomTask a = taskOn(mangles.path(), Operation::Push), b = taskOn(drops.path(), Operation::Push);
    a.wanted = b.wanted = tunedImage();
    RoomQueue queue({a, b}, 0);
    runQueue(queue);
    const RoomReport &kept = queue.job(0).report();
    QCOMPARE(outcomeName(kept.outcome), "differs");
    QCOMPARE(kept.differing, std::vector<std::uint8_t>{16});
    QCOMPARE(kept.resendRounds, kVerifyRounds);
    QCOMPARE(outcomeName(queue.job(1).report().outcome), "ok");
    QVERIFY(sameRegisters(drops.registers(), tunedImage()));
}

QTEST_GUILESS_MAIN(TestRoom)
#include "tst_room.moc"
