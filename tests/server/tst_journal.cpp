// The venue server's journal on real files: what a crash or a power cut leaves is read back
// without the damage and without losing what stood before it; the files stay within their
// size, the oldest going first; undone changes are known again after a restart.
#include "service/Journal.h"
#include "support/Sim.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

zev::JournalEntry change(const std::string &room, int before, int after)
{
    return {0, {}, room, 16, std::uint8_t(before), std::uint8_t(after), "tech", "api", {}};
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT
private slots:
    void damageIsLeftOutAndTheRestKept();
    void filesStayWithinTheirSize();
};

void TestJournal::damageIsLeftOutAndTheRestKept()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("journal");
    std::string error;
    {
        zev::Journal journal(dir.path().toStdString(), zev::kDefaultJournalBytes);
        QVERIFY(journal.open(error));
        journal.append(change("A01", 20, 28));
        journal.append(change("B02", 20, 30));
        zev::JournalEntry undo = change("A01", 28, 20);
        undo.undoes = {1};
        QCOMPARE(journal.append(undo).id, std::uint64_t(3));
    }
    const QByteArray whole = testing::readFile(path);
    QCOMPARE(whole.count('\n'), 3);
    // A line another program put there, and a line a power cut cut off.
    QVERIFY(testing::writeFile(path, whole + "not a journal line\n{\"id\":4,\"time\":\"2026"));
    zev::Journal journal(dir.path().toStdString(), zev::kDefaultJournalBytes);
    QVERIFY(journal.open(error));
    QCOMPARE(journal.dropped(), 2);
    const auto &a01 = journal.history("A01");
    QCOMPARE(a01.size(), std::size_t(2));
    QVERIFY(a01.front().undone && !a01.back().undone);
    QCOMPARE(a01.back().undoes, std::vector<std::uint64_t>{1});
    QCOMPARE(journal.history("B02").front().after, std::uint8_t(30));
    // What is no file is no journal: a device in its place would be read for ever.
    QTemporaryDir other;
    QVERIFY(QFile::link("/dev/zero", other.filePath("journal")));
    zev::Journal device(other.path().toStdString(), zev::kDefaultJournalBytes);
    QVERIFY(!device.open(error));
    QVERIFY2(error.find("not a plain file") != std::string::npos, error.c_str());
    // New lines follow the last whole one, with the next id.
    QCOMPARE(journal.append(change("A01", 20, 21)).id, std::uint64_t(4));
    journal.sync();
    const QByteArray now = testing::readFile(path);
    QVERIFY(now.startsWith(whole + "not a journal line\n{\"id\":4,"));
    QVERIFY(!now.contains("\"2026{"));
    zev::JournalEntry read;
    QVERIFY(zev::journalEntryFromLine(now.split('\n').at(4).toStdString(), read));
    QCOMPARE(read.before, std::uint8_t(20));
}

void TestJournal::filesStayWithinTheirSize()
{
    QTemporaryDir dir;
    constexpr std::size_t kBytes = 65536;
    std::string error;
    zev::Journal journal(dir.path().toStdString(), kBytes);
    QVERIFY(journal.open(error));
    for (int i = 0; i < 3000; ++i) journal.append(change("A01", i % 256, (i + 1) % 256));
    journal.sync();
    const qint64 total = QFileInfo(dir.filePath("journal")).size() +
                         QFileInfo(dir.filePath("journal.1")).size();
    QVERIFY2(total <= qint64(kBytes) && total > qint64(kBytes / 3), qPrintable(QString::number(total)));
    QCOMPARE(journal.history("A01").size(), zev::kHistoryPerRoom);
    QCOMPARE(journal.history("A01").back().id, std::uint64_t(3000));
    // Read again: the newest lines, in order, the ids going on.
    zev::Journal again(dir.path().toStdString(), kBytes);
    QVERIFY(again.open(error));
    QCOMPARE(again.dropped(), 0);
    const auto &history = again.history("A01");
    QVERIFY(history.size() > 100);
    QCOMPARE(history.back().id, std::uint64_t(3000));
    for (std::size_t i = 1; i < history.size(); ++i) QCOMPARE(history[i].id, history[i - 1].id + 1);
    QCOMPARE(again.append(change("A01", 1, 2)).id, std::uint64_t(3001));
}

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
