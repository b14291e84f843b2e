// The serial channel on a real pseudo-terminal, with the emulator at the other end.
#include "wire/FrameCodec.h"
#include "wire/Serialportuse.h"
#include "support/Sim.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <cstdio>
#include <memory>

using namespace zev;
using testing::hex;
using testing::Sim;

namespace {
constexpr int kPort = 3;

std::unique_ptr<SerialChannel> openChannel(int port = kPort)
{
    std::unique_ptr<SerialChannel> channel(new SerialChannel(systemSerialLibrary()));
    channel->SetPortNumber(port);
    if (!channel->OpenPort()) qFatal("port %d does not open", port);
    return channel;
}

struct Poll {
    bool found;
    int address, value;
};
Poll poll(SerialChannel &channel)
{
    std::uint8_t a = 0, v = 0;
    const bool found = channel.PollFrames(a, v);
    return {found, a, v};
}
} // namespace

class TestChannel : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        for (int port = 0; port < 16; ++port)
            systemSerialLibrary().closePort(port);
    }
    void framesAreWrittenUnescaped();
    void scanSkipsBadCandidatesOneByteAtATime();
    void framesSplitAcrossReadsAndSeveralInOnePoll();
    void randomStreamsGiveBackEveryFrame();
    void bufferResetsPastTheThreshold();
    void openingAndClosing();
    void portHeldByAnotherProcess();
    void deviceThatDisappears();
};

void TestChannel::framesAreWrittenUnescaped()
{
    QCOMPARE(encodeFrame(16, 20), (FrameBytes{0xFE, 0x10, 0x14, 0x24, 0xFD}));
    QCOMPARE(encodeFrame(200, 100), (FrameBytes{0xFE, 0xC8, 0x64, 0x2C, 0xFD}));
    Sim sim({"--silent"});
    sim.becomePort(kPort);
    auto channel = openChannel();
    QVERIFY(channel->WriteFrame(16, 254));
    QVERIFY(channel->WriteFrame(0xFD, 0xFE));
    QVERIFY(sim.waitForFrames(2));
    QCOMPARE(sim.frames()[0].bytes, hex("FE 10 FE 0E FD"));
    QCOMPARE(sim.frames()[1].bytes, hex("FE FD FE FB FD"));
    QCOMPARE(channel->lastSentAddress(), 0xFD);
    QVERIFY(channel->ClosePort());
    QVERIFY(!channel->WriteFrame(16, 20)); // closed: nothing is sent
    QTest::qWait(20);
    QCOMPARE(sim.frames().size(), 2);
    QCOMPARE(channel->lastSentValue(), 0xFE);
}

void TestChannel::scanSkipsBadCandidatesOneByteAtATime()
{
    Sim sim({"--silent"});
    sim.becomePort(kPort);
    auto channel = openChannel();
    Poll p = poll(*channel);
    QVERIFY(!p.found); // nothing ever arrived
    QCOMPARE(p.address, 0xFF);
    QCOMPARE(p.value, 0xFF);

    sim.send(hex("FE 10 14 25 FD")); // wrong checksum
    QVERIFY(!poll(*channel).found);
    QCOMPARE(channel->discardCount(), 1);
    QCOMPARE(channel->discarded()[0], 0xFE);
    QCOMPARE(channel->scanPosition(), 1); // four bytes wait for more input

    sim.send(hex("00 FE FE 10 14 24 FD"));
    p = poll(*channel);
    QVERIFY(p.found);
    QCOMPARE(p.address, 16);
    QCOMPARE(p.value, 20);
    QCOMPARE(channel->discardCount(), 7); // FE 10 14 25 FD 00 FE
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(channel->discarded()), 7),
             hex("FE 10 14 25 FD 00 FE"));
    QCOMPARE(channel->scanPosition(), channel->fillCount());
    channel->ClosePort();
}

void TestChannel::framesSplitAcrossReadsAndSeveralInOnePoll()
{
    Sim sim({"--silent"});
    sim.becomePort(kPort);
    auto channel = openChannel();
    sim.send(hex("FE 10 14"));
    QVERIFY(!poll(*channel).found);
    sim.send(hex("24 FD"));
    Poll p = poll(*channel);
    QVERIFY(p.found);
    QCOMPARE(p.address, 16);

    sim.send(hex("FE 10 15 25 FD FE 11 01 12 FD"));
    p = poll(*channel);
    QVERIFY(p.found);
    QCOMPARE(p.address, 17);
    QCOMPARE(p.value, 1);
    QCOMPARE(channel->scanPosition(), channel->fillCount());
    p = poll(*channel); // nothing new: the last frame on record
    QVERIFY(!p.found);
    QCOMPARE(p.address, 17);
    QCOMPARE(p.value, 1);
    channel->ClosePort();
}

// Noise with frames in it, in chunks of any size: every frame comes back in order, and the
// discard buffer holds exactly the bytes around them.
void TestChannel::randomStreamsGiveBackEveryFrame()
{
    Sim sim({"--silent"});
    sim.becomePort(kPort);
    auto channel = openChannel();
    QRandomGenerator random(720);
    QByteArray stream, noise;
    QList<QPair<int, int>> sent;
    for (int i = 0; i < 200; ++i) {
        const int length = int(random.bounded(12));
        for (int n = 0; n < length; ++n) {
            // Mostly markers, to make false starts common.
            const char byte =
                char(random.bounded(3) ? (random.bounded(2) ? 0xFE : 0xFD) : random.bounded(256));
            stream.append(byte);
            noise.append(byte);
        }
        const auto a = std::uint8_t(random.bounded(256));
        const auto v = std::uint8_t(random.bounded(256));
        const FrameBytes frame = encodeFrame(a, v);
        stream.append(reinterpret_cast<const char *>(frame.data()), kFrameSize);
        sent << qMakePair(int(a), int(v));
    }
    QList<QPair<int, int>> found;
    QByteArray discarded;
    for (qsizetype at = 0; at < stream.size();) {
        const qsizetype chunk = std::min<qsizetype>(1 + random.bounded(40), stream.size() - at);
        sim.send(stream.mid(at, chunk));
        at += chunk;
        std::uint8_t a = 0, v = 0;
        while (channel->NextFrame(a, v))
            found << qMakePair(int(a), int(v));
        QVERIFY(channel->discardCount() <= channel->scanPosition());
        QVERIFY(channel->scanPosition() <= channel->fillCount());
    }
    discarded =
        QByteArray(reinterpret_cast<const char *>(channel->discarded()), channel->discardCount());
    // Noise that happens to hold a valid frame is found too; the sent frames all are.
    QVERIFY(found.size() >= sent.size());
    qsizetype next = 0;
    for (const auto &frame : found)
        if (next < sent.size() && frame == sent[next]) ++next;
    QCOMPARE(next, sent.size());
    if (found.size() == sent.size()) QCOMPARE(discarded, noise);
    channel->ClosePort();
}

void TestChannel::bufferResetsPastTheThreshold()
{
    Sim sim({"--silent"});
    sim.becomePort(kPort);
    auto channel = openChannel();
    sim.command("flood on");
    std::int32_t highest = 0;
    bool reset = false;
    // Bounded by time, not by a count of reads: a loaded machine may give the flood little
    // time, and a read finding nothing returns at once.
    QDeadlineTimer deadline(20000);
    while (!reset && !deadline.hasExpired()) {
        const std::int32_t before = channel->fillCount();
        const std::int32_t n = channel->ReadInput();
        if (n == 0 && channel->fillCount() == before) QTest::qSleep(1);
        highest = std::max(highest, channel->fillCount());
        QVERIFY(channel->fillCount() <= SerialChannel::kResetThreshold);
        if (channel->fillCount() < before) {
            reset = true;
            QCOMPARE(n, 0);
            QCOMPARE(channel->fillCount(), 0);
            QCOMPARE(channel->scanPosition(), 0);
            QCOMPARE(channel->discardCount(), 0);
        }
    }
    QVERIFY(reset);
    QVERIFY(highest > SerialChannel::kResetThreshold - SerialChannel::kReadChunk);
    sim.command("flood off");
    channel->ClosePort();
}

void TestChannel::openingAndClosing()
{
    Sim first({"--silent"});
    Sim second({"--silent"});
    first.becomePort(kPort);
    second.becomePort(kPort + 1);
    std::unique_ptr<SerialChannel> channel(new SerialChannel(systemSerialLibrary()));
    QVERIFY(!channel->IsOpen());
    QVERIFY(channel->ClosePort()); // closed already
    for (int absent : {0, -3, 99, 9999}) {
        qunsetenv(qPrintable(QString("ZEV720_COM%1").arg(absent)));
        channel->SetPortNumber(absent);
        QVERIFY(!channel->OpenPort());
        QVERIFY(!channel->IsOpen());
    }
    qputenv("ZEV720_COM12", "/nonexistent/tty");
    channel->SetPortNumber(12);
    QVERIFY(!channel->OpenPort());

    channel->SetPortNumber(kPort);
    QVERIFY(channel->OpenPort());
    channel->SetPortNumber(kPort + 1); // not applied: the open port is kept
    QVERIFY(channel->OpenPort());
    channel->WriteFrame(16, 20);
    QVERIFY(first.waitForFrames(1));
    QVERIFY(channel->ClosePort());
    QVERIFY(!channel->IsOpen());
    QVERIFY(channel->OpenPort()); // now the new number
    channel->WriteFrame(16, 21);
    QVERIFY(second.waitForFrames(1));
    QCOMPARE(first.frames().size(), 1);

    // This program's other channel cannot take a port that is open.
    std::unique_ptr<SerialChannel> other(new SerialChannel(systemSerialLibrary()));
    other->SetPortNumber(kPort + 1);
    QVERIFY(!other->OpenPort());
    channel->ClosePort();
    QVERIFY(other->OpenPort());
    other->ClosePort();
}

void TestChannel::portHeldByAnotherProcess()
{
    Sim sim({"--silent"});
    sim.becomePort(kPort);
    QProcess holder;
    holder.setProgram(QCoreApplication::applicationFilePath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZEV_TEST_HOLD_PORT", QString::number(kPort));
    holder.setProcessEnvironment(environment);
    holder.start();
    QVERIFY(holder.waitForReadyRead(5000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));

    std::unique_ptr<SerialChannel> channel(new SerialChannel(systemSerialLibrary()));
    channel->SetPortNumber(kPort);
    QVERIFY(!channel->OpenPort());
    holder.kill(); // even a holder that dies without closing lets go
    holder.waitForFinished();
    QVERIFY(channel->OpenPort());
    channel->ClosePort();
}

void TestChannel::deviceThatDisappears()
{
    auto sim = std::make_unique<Sim>();
    sim->becomePort(kPort);
    auto channel = openChannel();
    QVERIFY(channel->WriteFrame(6, 102));
    QTest::qWait(30);
    QVERIFY(poll(*channel).found);
    sim.reset(); // the emulator ends: its terminal hangs up
    QTest::qWait(30);
    QVERIFY(!poll(*channel).found);
    QVERIFY(!channel->IsOpen());
    QVERIFY(channel->takeDeviceLost());
    QVERIFY(!channel->takeDeviceLost());
    const Poll p = poll(*channel); // the old device's frames are forgotten
    QCOMPARE(p.address, 0xFF);

    Sim again; // a new device behind the same number opens
    again.becomePort(kPort);
    QVERIFY(channel->OpenPort());
    QVERIFY(channel->WriteFrame(6, 102));
    QVERIFY(again.waitForFrames(1));
    channel->ClosePort();
}

// With ZEV_TEST_HOLD_PORT set, this program only holds that port open until it is killed.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("ZEV_TEST_HOLD_PORT")) {
        if (!systemSerialLibrary().openPort(qEnvironmentVariableIntValue("ZEV_TEST_HOLD_PORT")).ok())
            return 1;
        std::puts("held");
        std::fflush(stdout);
        for (;;)
            QTest::qSleep(1000);
    }
    TestChannel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_channel.moc"
