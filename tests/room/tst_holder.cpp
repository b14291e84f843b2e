// A room held for as long as a program runs, against the emulator on a pseudo-terminal: the
// live mirror, the shared write queue, a processor that falls silent and comes back, a line
// that is not there, and the release at the end.
#include "model/RegisterMap.h"
#include "room/RoomHolder.h"
#include "support/Sim.h"

#include <QSignalSpy>
#include <QTest>

using namespace zev;
using testing::Sim;

namespace {
constexpr HoldTiming kQuick{100, 400, 100};

bool waitForState(RoomHolder &room, RoomHolder::State state, int ms = 5000)
{
    return QTest::qWaitFor([&] { return room.state() == state; }, ms);
}

int writesTo(const Sim &sim, int address)
{
    int count = 0;
    for (const testing::LoggedFrame &frame : sim.frames())
        if (frame.address() == address && frame.value() != kReadRequest) ++count;
    return count;
}
} // namespace

class TestHolder : public QObject {
    Q_OBJECT
private slots:
    void mirrorsAndSharesOneQueue();
    void silentProcessorGoesOfflineAndComesBackRead();
    void silentProcessorFoundByAWrite();
    void lineThatIsNotThereBacksOff();
    void unitThatHoldsAnotherValueStaysOnline();
    void neverOnlineWithAMirrorNotRead();
};

// Online with the processor's 56 registers; writes from several clients to one register fold
// into the latest value, each confirmed change is told with who made it; stop releases.
void TestHolder::mirrorsAndSharesOneQueue()
{
    Sim sim;
    RoomHolder room(sim.path().toStdString(), {}, systemSerialLibrary(), kQuick);
    QSignalSpy read(&room, &RoomHolder::mirrorRead);
    QSignalSpy changes(&room, &RoomHolder::changed);
    room.start();
    QVERIFY(waitForState(room, RoomHolder::State::Online));
    QCOMPARE(read.count(), 1);
    const RegisterImage held = sim.registers();
    for (const RegisterRow &row : registerMap())
        QCOMPARE(int(room.mirror()[row.address]), int(held[row.address]));

    const std::uint8_t volume = 32;
    room.write(volume, 10, "desk"); // goes out at once
    room.write(volume, 20, "phone");
    room.write(volume, 30, "panel"); // replaces 20 before it went out
    room.write(16, 40, "desk");
    QVERIFY(QTest::qWaitFor([&] { return room.pendingWrites() == 0 && changes.count() >= 3; }));
    QTRY_COMPARE(int(sim.registers()[volume]), 30);
    QCOMPARE(writesTo(sim, volume), 2); // 10, then 30: 20 never went out
    QCOMPARE(int(room.mirror()[volume]), 30);
    QCOMPARE(int(room.mirror()[16]), 40);
    const auto last = changes.last().first().value<RegisterChange>();
    QCOMPARE(int(last.address), int(volume));
    QCOMPARE(int(last.before), 10);
    QCOMPARE(int(last.after), 30);
    QCOMPARE(last.who, std::string("panel"));

    bool stopped = false;
    room.stop([&] { stopped = true; });
    QTRY_VERIFY(stopped);
    QCOMPARE(room.state(), RoomHolder::State::Stopped);
    QVERIFY(sim.waitForFrames(1));
    QCOMPARE(sim.frames().last().address(), int(kDisconnectAddress));
}

// A processor switched off is noticed by the quiet check; writes made meanwhile wait; back,
// the whole set is read again before they go out.
void TestHolder::silentProcessorGoesOfflineAndComesBackRead()
{
    Sim sim;
    RoomHolder room(sim.path().toStdString(), {}, systemSerialLibrary(), kQuick);
    QSignalSpy read(&room, &RoomHolder::mirrorRead);
    room.start();
    QVERIFY(waitForState(room, RoomHolder::State::Online));
    sim.command("silent on");
    QVERIFY(waitForState(room, RoomHolder::State::Offline));
    QVERIFY2(room.reason().find("stopped answering") != std::string::npos, room.reason().c_str());
    room.write(50, 12, "desk");
    QCOMPARE(room.pendingWrites(), std::size_t(1));
    // Backing off while it stays silent.
    QTRY_VERIFY_WITH_TIMEOUT(room.retryDelayMs() == kQuick.maxRetryMs, 5000);
    const int framesBefore = int(sim.frames().size());
    sim.command("silent off");
    QVERIFY(waitForState(room, RoomHolder::State::Online, 5000));
    QCOMPARE(read.count(), 2);
    QVERIFY(int(sim.frames().size()) - framesBefore >= int(registerMap().size()));
    QTRY_COMPARE(int(sim.registers()[50]), 12);
    QCOMPARE(room.pendingWrites(), std::size_t(0));
    QCOMPARE(room.retryDelayMs(), kQuick.firstRetryMs);
    bool stopped = false;
    room.stop([&] { stopped = true; });
    QTRY_VERIFY(stopped);
}

// A processor that goes quiet while a write waits for it: found by the write itself, long
// before the next quiet check, and the write is kept for its return.
void TestHolder::silentProcessorFoundByAWrite()
{
    Sim sim;
    RoomHolder room(sim.path().toStdString(), {}, systemSerialLibrary(), {100, 400, 60000});
    room.start();
    QVERIFY(waitForState(room, RoomHolder::State::Online));
    sim.command("silent on");
    room.write(62, 5, "desk");
    QVERIFY(waitForState(room, RoomHolder::State::Offline, 3000));
    QVERIFY2(room.reason().find("writes") != std::string::npos, room.reason().c_str());
    QCOMPARE(room.pendingWrites(), std::size_t(1));
    sim.command("silent off");
    QTRY_COMPARE_WITH_TIMEOUT(int(sim.registers()[62]), 5, 5000);
    bool stopped = false;
    room.stop([&] { stopped = true; });
    QTRY_VERIFY(stopped);
}

// No such device: offline with the reason, tried again after 100, 200, 400, 400 ms.
void TestHolder::lineThatIsNotThereBacksOff()
{
    RoomHolder room("/dev/zev720-nothing-here", {}, systemSerialLibrary(), kQuick);
    QSignalSpy states(&room, &RoomHolder::stateChanged);
    room.start();
    QVERIFY(waitForState(room, RoomHolder::State::Offline));
    QVERIFY2(room.reason().find("no such device") != std::string::npos, room.reason().c_str());
    QTRY_VERIFY_WITH_TIMEOUT(states.count() >= 6, 3000); // connecting, offline, three times
    QCOMPARE(room.retryDelayMs(), kQuick.maxRetryMs);
    bool stopped = false;
    room.stop([&] { stopped = true; });
    QTRY_VERIFY(stopped);
    QCOMPARE(room.state(), RoomHolder::State::Stopped);
}

// A faulty unit that stores another value than the one written answers all the same: the
// write is over with the value it holds (tried as often as any other, then no more), and the
// room is not taken for silent.
void TestHolder::unitThatHoldsAnotherValueStaysOnline()
{
    Sim sim(QStringList{"--mangle", "16"});
    RoomHolder room(sim.path().toStdString(), {}, systemSerialLibrary(), kQuick);
    QSignalSpy changes(&room, &RoomHolder::changed);
    room.start();
    QVERIFY(waitForState(room, RoomHolder::State::Online));
    room.write(16, 40, "desk");
    QVERIFY(QTest::qWaitFor([&] { return changes.count() == 1; }));
    QCOMPARE(int(changes.first().first().value<RegisterChange>().after), 41);
    QCOMPARE(int(room.mirror()[16]), 41);
    QCOMPARE(room.pendingWrites(), std::size_t(0));
    QCOMPARE(writesTo(sim, 16), kTransferTries);
    QTest::qWait(300); // quiet checks, and no resend
    QCOMPARE(room.state(), RoomHolder::State::Online);
    QCOMPARE(writesTo(sim, 16), kTransferTries);
    QCOMPARE(room.counters().unanswered, std::uint64_t(0));
}

// A room is online only once every register was answered rightly: a peer that answers each
// frame for another register never brings it online (it goes offline, "stopped answering",
// and is tried again); a line that echoes what it is sent, with a processor behind it, is
// online with the processor's own values, not its echo.
void TestHolder::neverOnlineWithAMirrorNotRead()
{
    Sim liar(QStringList{"--reply-other-address"});
    RoomHolder lying(liar.path().toStdString(), {}, systemSerialLibrary(), kQuick);
    QSignalSpy states(&lying, &RoomHolder::stateChanged);
    lying.start();
    QVERIFY(QTest::qWaitFor([&] { return states.count() >= 6; }, 10000)); // three rounds
    for (const QList<QVariant> &state : states)
        QVERIFY(state.first().value<RoomHolder::State>() != RoomHolder::State::Online);
    QCOMPARE(lying.reasonOutcome(), Outcome::StoppedAnswering);
    QVERIFY(!lying.mirrored());

    Sim echoing(QStringList{"--echo"});
    RoomHolder room(echoing.path().toStdString(), {}, systemSerialLibrary(), kQuick);
    room.start();
    QVERIFY(waitForState(room, RoomHolder::State::Online));
    const RegisterImage held = echoing.registers();
    for (const RegisterRow &row : registerMap())
        QCOMPARE(int(room.mirror()[row.address]), int(held[row.address]));
}

QTEST_GUILESS_MAIN(TestHolder)
#include "tst_holder.moc"
