// The schedule: when its entries run (a zone with daylight saving time, skipped and repeated
// hours, weekdays and dates left out), and what they do through the venue service: on time,
// caught up after a start, in a room that was away, and never twice however the clock moves.
// A test clock throughout: no test waits for an hour.
#include "service/Scheduler.h"
#include "support/Held.h"

#include <QFile>

using namespace zev;
using testing::Held;
using testing::kMicVolume;
using testing::kMusicVolume;
using testing::showing;

namespace {

const Actor kTechnician{"tech", Role::Technician, "api", {}, {}};

ScheduleEntry parsedOne(const char *json)
{
    std::vector<ScheduleEntry> entries;
    std::string error;
    [&] { QVERIFY2(parseSchedule(json, "schedule.json", entries, error), error.c_str()); }();
    return entries.empty() ? ScheduleEntry{} : entries.front();
}

QDateTime utc(const char *text)
{
    return QDateTime::fromString(text, Qt::ISODate).toUTC();
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

/// Stores a preset that differs from the room in the music volume alone.
void storeWithMusic(Held &held, const char *name, const char *shown)
{
    ParameterModel preset;
    QVERIFY(!held.service.roomAsPreset(held.room().name, preset));
    preset.image[kMusicVolume] = showing(kMusicVolume, shown);
    QVERIFY(!held.service.storePreset(name, preset));
}

std::string music(Held &held, std::size_t i)
{
    return shownValue(*findRegister(kMusicVolume), held.units[i]->processor.registers[kMusicVolume]);
}

} // namespace

class TestSchedule : public QObject {
    Q_OBJECT
private slots:
    void runsFollowTheZonesClock();
    void scheduleFileReadStrictly();
    void aStartAfterItsTimeCatchesUpTheLatestPerRoom();
    void aRoomAwayAtItsRunGetsItWhenBack();
    void aChangedClockRunsNothingTwice();
    void theNightsTheClockChangesEachEntryRunsOnce();
};

void TestSchedule::runsFollowTheZonesClock()
{
    const QTimeZone berlin("Europe/Berlin");
    const ScheduleEntry night = parsedOne(R"({"entries": [{"name": "n", "at": "02:30", "lock": true}]})");
    // Spring: 02:00 becomes 03:00, so 02:30 is never on the clock; it runs once, at the jump.
    auto runs = night.runsBetween(utc("2027-03-27T12:00:00Z"), utc("2027-03-28T12:00:00Z"), berlin);
    QCOMPARE(runs.size(), std::size_t(1));
    QCOMPARE(runs[0], utc("2027-03-28T01:00:00Z"));
    // Autumn: 03:00 becomes 02:00, so 02:30 comes twice; it runs the first time only.
    runs = night.runsBetween(utc("2026-10-24T12:00:00Z"), utc("2026-10-25T12:00:00Z"), berlin);
    QCOMPARE(runs.size(), std::size_t(1));
    QCOMPARE(runs[0], utc("2026-10-25T00:30:00Z"));
    // An ordinary night: 02:30 local, an hour (winter) or two (summer) ahead of UTC.
    QCOMPARE(night.runOn(QDate(2026, 12, 10), berlin), utc("2026-12-10T01:30:00Z"));
    QCOMPARE(night.runOn(QDate(2026, 7, 10), berlin), utc("2026-07-10T00:30:00Z"));
    // Weekdays and dates left out.
    const ScheduleEntry weekend = parsedOne(
        R"({"entries": [{"name": "w", "at": "02:00", "days": ["fri", "sat"], "except": ["2026-12-12"], "lock": true}]})");
    runs = weekend.runsBetween(utc("2026-12-06T00:00:00Z"), utc("2026-12-20T00:00:00Z"), berlin);
    QCOMPARE(runs.size(), std::size_t(3)); // Fri 11th, Fri 18th, Sat 19th; not Sat 12th
    QCOMPARE(runs[0].toTimeZone(berlin).date(), QDate(2026, 12, 11));
    QCOMPARE(runs[1].toTimeZone(berlin).date(), QDate(2026, 12, 18));
}

void TestSchedule::scheduleFileReadStrictly()
{
    std::vector<ScheduleEntry> entries;
    std::string error;
    const char *good = R"({"entries": [
        {"name": "late", "at": "22:00", "recall": "深夜", "rooms": "all"},
        {"name": "closing", "at": "02:00", "days": ["fri", "sat"], "lock": true, "rooms": "K01-K08"},
        {"name": "quiet", "at": "23:00", "limits": {"on": ["night"]}, "except": ["2026-12-31"]}]})";
    QVERIFY2(parseSchedule(good, "schedule.json", entries, error), error.c_str());
    std::vector<ScheduleEntry> again;
    QVERIFY(parseSchedule(scheduleJson(entries), "schedule.json", again, error));
    QCOMPARE(scheduleJson(again), scheduleJson(entries));
    const std::pair<const char *, const char *> faults[] = {
        {"{\"entries\": [\n{\"name\": \"a\", \"at\": \"25:00\", \"lock\": true}]}", "line 2: entries[0].at: HH:MM"},
        {"{\"entries\": [{\"name\": \"a\", \"at\": \"22:00\"}]}", "entries[0]: it does nothing"},
        {"{\"entries\": [{\"name\": \"a\", \"at\": \"22:00\", \"lock\": true},\n{\"name\": \"a\", \"at\": \"23:00\", \"lock\": true}]}",
         "line 2: entries[1]: 'a' given twice"},
        {"{\"entries\": [{\"name\": \"a\", \"at\": \"22:00\", \"lock\": true, \"days\": [\"friday\"]}]}", "days: a list of mon"},
        {"{\"entries\": [{\"name\": \"a\", \"at\": \"22:00\", \"lock\": true, \"except\": [\"2026-02-30\"]}]}", "except: a list of dates"},
        {"{\"entries\": [{\"name\": \"a\", \"at\": \"22:00\", \"lock\": true, \"as\": \"technician\"}]}", "entries[0].as"},
        {"{\"entries\": [{\"name\": \"a\", \"at\": \"22:00\", \"lock\": true, \"rooms\": \"../x\"}]}", "entries[0].rooms: room '../x'"},
        {"{\"entries\": [{\"name\": \"a\", \"at\": \"22:00\", \"lock\": true, \"when\": 1}]}", "unknown member \"when\""},
    };
    for (const auto &[text, expected] : faults) {
        QVERIFY2(!parseSchedule(text, "schedule.json", entries, error), text);
        QVERIFY2(error.find(expected) != std::string::npos, error.c_str());
        QCOMPARE(entries.size(), std::size_t(3));
    }
}

void TestSchedule::aStartAfterItsTimeCatchesUpTheLatestPerRoom()
{
    Held held({"K01", "K02", "K03"});
    held.clock.in = QTimeZone("Asia/Shanghai");
    QTRY_VERIFY(held.online(0) && held.online(1) && held.online(2));
    for (std::size_t i = 0; i < 3; ++i)
        held.change(kTechnician, {{testing::kMusicMax, testing::at(testing::kMusicMax, 0), 0}}, true, i);
    const std::string before = music(held, 0);
    storeWithMusic(held, "evening", "50dB");
    storeWithMusic(held, "深夜", "60dB");
    storeWithMusic(held, "vip", "66dB");
    // The server stopped at 21:00 and starts at 23:10: of the two entries for K01 and K03 the
    // later holds; K02 has one of its own later still.
    QVERIFY(writeText(held.dir.filePath("schedule.json"), R"({"entries": [
        {"name": "evening", "at": "21:30", "recall": "evening"},
        {"name": "late", "at": "22:00", "recall": "深夜"},
        {"name": "vip", "at": "22:30", "recall": "vip", "rooms": "K02"},
        {"name": "tomorrow", "at": "23:30", "recall": "evening"}]})"));
    held.clock.setLocal("2026-12-10T21:00:00");
    QVERIFY(writeText(held.dir.filePath("schedule-state.json"),
                      ("{\"look\": \"" + held.clock.now().toString(Qt::ISODate) + "\"}").toUtf8()));
    held.clock.setLocal("2026-12-10T23:10:00");
    Scheduler scheduler(held.service);
    std::string error;
    QVERIFY2(scheduler.load(held.dir.path().toStdString(), error), error.c_str());
    std::vector<std::pair<std::string, bool>> ran;
    QObject::connect(&scheduler, &Scheduler::ran, &scheduler,
                     [&](const std::string &entry, bool late) { ran.emplace_back(entry, late); });
    QTRY_COMPARE(music(held, 2), std::string("60dB"));
    QTRY_COMPARE(music(held, 1), std::string("66dB"));
    QCOMPARE(music(held, 0), std::string("60dB"));
    QCOMPARE(ran.size(), std::size_t(3)); // evening reached no room: the later entries took them
    QVERIFY(ran[0].second && ran[1].second && ran[2].second);
    const auto line = held.service.history(held.room(0), 1);
    QCOMPARE(line.front()->user, std::string("schedule"));
    QCOMPARE(line.front()->through, std::string("catch-up"));
    // Tonight: what runs in the next 24 hours, in order, with its rooms.
    const auto coming = scheduler.tonight();
    QCOMPARE(coming.size(), std::size_t(4));
    QCOMPARE(coming[0].entry->name, std::string("tomorrow"));
    QCOMPARE(coming[3].rooms, std::vector<std::string>{"K02"});
    // Undoable like any change.
    std::optional<UndoResult> undone;
    held.service.undo(held.room(0), kTechnician, {1, {}, {}}, [&](UndoResult r) { undone = r; });
    QTRY_VERIFY(undone.has_value());
    QCOMPARE(music(held, 0), before);
    // A restart after the runs makes none of them again.
    Scheduler restarted(held.service);
    QTRY_VERIFY(QFile::exists(held.dir.filePath("schedule-state.json")));
    QVERIFY(restarted.load(held.dir.path().toStdString(), error));
    int again = 0;
    QObject::connect(&restarted, &Scheduler::ran, &restarted, [&] { ++again; });
    QTest::qWait(2 * kClockLookMs);
    QCOMPARE(again, 0);
}

void TestSchedule::aRoomAwayAtItsRunGetsItWhenBack()
{
    Held held({"K01", "K02"});
    QTRY_VERIFY(held.online(0) && held.online(1));
    for (std::size_t i = 0; i < 2; ++i)
        held.change(kTechnician, {{testing::kMusicMax, testing::at(testing::kMusicMax, 0), 0}}, true, i);
    storeWithMusic(held, "深夜", "60dB");
    held.clock.setLocal("2026-12-10T21:59:30");
    Scheduler scheduler(held.service);
    QVERIFY(!scheduler.put(R"({"entries": [{"name": "late", "at": "22:00", "recall": "深夜", "rooms": "K01-K02"}]})"));
    held.units[1]->answering = false;
    QTRY_VERIFY_WITH_TIMEOUT(!held.online(1), 15000);
    held.clock.setLocal("2026-12-10T22:00:01");
    QTRY_COMPARE(music(held, 0), std::string("60dB"));
    QCOMPARE(held.service.history(held.room(0), 1).front()->through, std::string("schedule"));
    QVERIFY(music(held, 1) != "60dB");
    held.units[1]->answering = true;
    QTRY_COMPARE_WITH_TIMEOUT(music(held, 1), std::string("60dB"), 15000);
    QCOMPARE(held.service.history(held.room(1), 1).front()->through, std::string("catch-up"));
}

void TestSchedule::aChangedClockRunsNothingTwice()
{
    Held held;
    QTRY_VERIFY(held.online());
    held.clock.setLocal("2026-12-10T21:59:00");
    Scheduler scheduler(held.service);
    QVERIFY(!scheduler.put(R"({"entries": [{"name": "closing", "at": "22:00", "lock": true}]})"));
    int runs = 0;
    QObject::connect(&scheduler, &Scheduler::ran, &scheduler, [&] { ++runs; });
    held.clock.setLocal("2026-12-10T22:00:30");
    QTRY_COMPARE(runs, 1);
    QTRY_VERIFY(held.room().locked.value_or(false));
    // Set back before its time and forward past it again: it ran tonight already.
    held.clock.setLocal("2026-12-10T21:50:00");
    QTest::qWait(2 * kClockLookMs);
    held.clock.setLocal("2026-12-10T22:05:00");
    QTest::qWait(2 * kClockLookMs);
    QCOMPARE(runs, 1);
    // A jump of days (a machine that slept): the missed nights are one run, the latest.
    held.clock.setLocal("2026-12-13T22:10:00");
    QTRY_COMPARE(runs, 2);
    QTest::qWait(2 * kClockLookMs);
    QCOMPARE(runs, 2);
    // The next night, on time.
    held.clock.setLocal("2026-12-14T22:00:00");
    QTRY_COMPARE(runs, 3);
}

void TestSchedule::theNightsTheClockChangesEachEntryRunsOnce()
{
    // The scheduler looked at through each night minute by minute (as the service's beat
    // would, each second), in a zone with daylight saving time.
    Held held;
    held.clock.in = QTimeZone("Europe/Berlin");
    Scheduler scheduler(held.service);
    QObject::disconnect(&held.service, &VenueService::clockLooked, &scheduler, nullptr);
    held.clock.at = utc("2026-10-24T20:00:00Z");
    QVERIFY(!scheduler.put(R"({"entries": [
        {"name": "skipped-or-twice", "at": "02:30", "limits": {"on": ["night"]}},
        {"name": "before", "at": "01:59", "limits": {"on": ["a"]}},
        {"name": "after", "at": "03:00", "limits": {"on": ["b"]}}]})"));
    std::map<std::string, std::vector<QDateTime>> runs;
    QObject::connect(&scheduler, &Scheduler::ran, &scheduler,
                     [&](const std::string &entry) { runs[entry].push_back(held.clock.at); });
    const auto night = [&](const char *from, const char *to) {
        held.clock.at = utc(from); // the evening before (what it catches up of months past aside)
        scheduler.look(held.clock.at);
        runs.clear();
        for (QDateTime at = utc(from).addSecs(60); at <= utc(to); at = at.addSecs(60)) {
            held.clock.at = at;
            scheduler.look(at);
        }
    };
    // Autumn (25 October 2026): 03:00 summer time is 02:00 again; 02:30 comes twice.
    night("2026-10-24T22:00:00Z", "2026-10-25T04:00:00Z");
    QCOMPARE(runs["skipped-or-twice"], std::vector<QDateTime>{utc("2026-10-25T00:30:00Z")});
    QCOMPARE(runs["before"].size(), std::size_t(1));
    QCOMPARE(runs["after"], std::vector<QDateTime>{utc("2026-10-25T02:00:00Z")});
    // Spring (28 March 2027): 02:00 is 03:00 at once; 02:30 never is on the clock.
    night("2027-03-27T22:00:00Z", "2027-03-28T04:00:00Z");
    QCOMPARE(runs["skipped-or-twice"], std::vector<QDateTime>{utc("2027-03-28T01:00:00Z")});
    QCOMPARE(runs["before"], std::vector<QDateTime>{utc("2027-03-28T00:59:00Z")});
    QCOMPARE(runs["after"], std::vector<QDateTime>{utc("2027-03-28T01:00:00Z")});
}

QTEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
