// The processor emulator that every test of the link relies on.
#include "wire/Serialportuse.h"
#include "sim/Processor.h"
#include "support/Sim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

using namespace zev;
using testing::hex;
using testing::Sim;

namespace {
constexpr int kPort = 5;

std::unique_ptr<SerialChannel> channelTo(const Sim &sim)
{
    sim.becomePort(kPort);
    std::unique_ptr<SerialChannel> channel(new SerialChannel(systemSerialLibrary()));
    channel->SetPortNumber(kPort);
    if (!channel->OpenPort()) qFatal("cannot open the emulator");
    return channel;
}

// Sends frames and collects the replies until `done` holds for them, with a generous deadline
// for a busy machine; then a short quiet time in which nothing more may arrive.
QList<QPair<int, int>> converse(SerialChannel &channel, const QList<QPair<int, int>> &frames,
                                const std::function<bool(const QList<QPair<int, int>> &)> &done)
{
    constexpr int kDeadlineMs = 10000, kQuietMs = 50;
    for (auto [a, v] : frames)
        channel.WriteFrame(std::uint8_t(a), std::uint8_t(v));
    QList<QPair<int, int>> replies;
    QElapsedTimer clock, quiet;
    clock.start();
    bool settled = false;
    while (clock.elapsed() < kDeadlineMs) {
        std::uint8_t a = 0, v = 0;
        while (channel.NextFrame(a, v))
            replies << qMakePair(int(a), int(v));
        if (!settled && done(replies)) {
            settled = true;
            quiet.start();
        }
        if (settled && quiet.elapsed() >= kQuietMs) break;
        QTest::qSleep(2);
    }
    return replies;
}

// Done once the emulator heard every frame and every reply it sent has arrived.
auto allAnswered(const Sim &sim, qsizetype sent)
{
    return [&sim, sent](const QList<QPair<int, int>> &replies) {
        return sim.frames().size() == sent && sim.frames(false).size() == replies.size();
    };
}
} // namespace

class TestSim : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { systemSerialLibrary().closePort(kPort); }
    void replyRules();
    void answersOnTheTerminal();
    void misbehavesReproducibly();
    void pacesLikeALine();
    void loadsDumpsAndLinks();
};

void TestSim::replyRules()
{
    sim::Processor processor;
    QCOMPARE(int(processor.registers[16]), 20); // factory image
    auto reply = processor.receive(16, 30);
    QCOMPARE(int(reply->value), 31);
    QCOMPARE(int(processor.registers[16]), 30);
    QCOMPARE(int(processor.receive(16, 252)->value), 31);
    QCOMPARE(int(processor.registers[16]), 30);
    QCOMPARE(int(processor.receive(200, 255)->value), 0);
    for (int command : {3, 6, 7}) {
        reply = processor.receive(std::uint8_t(command), 102);
        QCOMPARE(int(reply->address), command);
        QCOMPARE(int(reply->value), 103);
        QCOMPARE(int(processor.registers[command]), command == 3 ? 102 : 0);
    }
    QVERIFY(processor.locked);
    QVERIFY(!processor.connected);
    // The lock reads as 102 until a setting is written.
    QCOMPARE(int(processor.receive(3, 252)->value), 103);
    processor.receive(16, 31);
    QVERIFY(!processor.locked);
    QCOMPARE(int(processor.receive(3, 252)->value), 1);
}

void TestSim::answersOnTheTerminal()
{
    Sim sim;
    auto channel = channelTo(sim);
    const auto replies = converse(*channel, {{16, 20}, {6, 102}, {50, 252}}, allAnswered(sim, 3));
    QCOMPARE(replies, (QList<QPair<int, int>>{{16, 21}, {6, 103}, {50, 35}}));
    QCOMPARE(sim.frames().size(), 3);
    QCOMPARE(sim.frames()[2].bytes, hex("FE 32 FC 2E FD"));
    QCOMPARE(int(sim.registers()[16]), 20);
    // Changed at the unit: no frame, and a read gives it; then its memory lost.
    sim.command("set 16 5");
    QCOMPARE(int(sim.registers()[16]), 5);
    QCOMPARE(sim.frames(false).size(), 3);
    QCOMPARE(converse(*channel, {{16, 252}}, allAnswered(sim, 4)), (QList<QPair<int, int>>{{16, 6}}));
    sim.command("factory");
    QCOMPARE(int(sim.registers()[16]), 20);
}

void TestSim::misbehavesReproducibly()
{
    QList<QPair<int, int>> frames;
    for (int i = 0; i < 40; ++i)
        frames << qMakePair(16, i);
    QList<QPair<int, int>> first;
    for (int run = 0; run < 2; ++run) {
        Sim sim({"--drop", "0.5", "--seed", "7"});
        auto channel = channelTo(sim);
        const auto replies = converse(*channel, frames, allAnswered(sim, frames.size()));
        QVERIFY(replies.size() > 5 && replies.size() < 35);
        if (run == 0)
            first = replies;
        else
            QCOMPARE(replies, first);
        channel->ClosePort();
    }
    {
        Sim silent({"--silent"});
        auto channel = channelTo(silent);
        QVERIFY(converse(*channel, {{6, 102}}, allAnswered(silent, 1)).isEmpty());
        QCOMPARE(silent.frames().size(), 1); // heard, not answered
        channel->ClosePort();
    }
    {
        Sim noisy({"--noise", "1", "--corrupt", "1"});
        auto channel = channelTo(noisy);
        // Corrupted replies never arrive as frames: done once all ten were heard.
        const auto replies = converse(*channel, frames.mid(0, 10), [&](const auto &) {
            return noisy.frames().size() == 10 && noisy.frames(false).size() == 10;
        });
        QVERIFY(replies.size() < 10);
        QVERIFY(channel->discardCount() >= 10);
    }
}

void TestSim::pacesLikeALine()
{
    Sim slow({"--baud", "1200"});
    auto channel = channelTo(slow);
    QElapsedTimer clock;
    clock.start();
    channel->WriteFrame(6, 102);
    std::uint8_t a = 0, v = 0;
    while (!channel->PollFrames(a, v) && clock.elapsed() < 2000)
        QTest::qSleep(1);
    QVERIFY2(clock.elapsed() >= 40, "5 bytes at 1200 baud take 41.7 ms");
    channel->ClosePort();

    Sim split({"--split", "--split-gap", "1000"});
    channel = channelTo(split);
    channel->WriteFrame(6, 102);
    QTest::qWait(100);
    QVERIFY(!channel->PollFrames(a, v));
    QVERIFY(channel->fillCount() > 0 && channel->fillCount() < 5);
}

void TestSim::loadsDumpsAndLinks()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("start.dat"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(5632, '\x21'));
    file.close();
    const QString link = dir.filePath("com1");
    auto sim = std::make_unique<Sim>(QStringList{"--load", file.fileName(), "--link", link});
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim->path());
    QCOMPARE(int(sim->registers()[200]), 0x21);
    sim.reset();
    QVERIFY(!QFileInfo::exists(link)); // the link goes with it
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
