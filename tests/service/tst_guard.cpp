// What guards the rooms, in the venue service: limits by role, room and hour, a desk user's
// undo of their own slips, and users bound to rooms. In-process against the emulator's reply
// rules over loopback, on a test clock: no test waits for an hour.
#include "model/EditRules.h"
#include "support/Held.h"

#include <QFile>

using namespace zev;
using testing::at;
using testing::Held;
using testing::kMicVolume;
using testing::kMusicVolume;
using testing::showing;

namespace {

const Actor kTechnician{"tech", Role::Technician, "api", {}, {}};
const Actor kDesk{"desk", Role::Desk, "web", {}, {}};
const Actor kOtherDesk{"bar", Role::Desk, "web", {}, {}};

Actor boundTo(const char *rooms)
{
    Actor actor{"k1desk", Role::Desk, "web", {}, {}};
    std::string error;
    parseRoomSet(rooms, actor.rooms, error);
    return actor;
}

std::string code(const Refusal &refusal)
{
    return refusal.code ? refusal.code : "";
}

std::string shownMusic(const Held &held, std::size_t i = 0)
{
    return shownValue(*findRegister(kMusicVolume),
                      const_cast<Held &>(held).room(i).holder->mirror()[kMusicVolume]);
}

} // namespace

class TestGuard : public QObject {
    Q_OBJECT
private slots:
    void limitsFileReadStrictly();
    void limitsHoldTheLimitedRolesOnly();
    void anHourBoundLimitBringsRoomsDownWhenItBegins();
    void aDeskUserUndoesTheirOwnSlipWithinAMinute();
    void aUserBoundToRoomsReachesNoOther();
};

void TestGuard::limitsFileReadStrictly()
{
    LimitList list;
    std::string error;
    QVERIFY(parseLimits(R"({"limits": [
        {"register": "MusicVolumeTrackBar", "role": "desk", "max": "78dB"},
        {"register": "MusicVolumeTrackBar", "role": "desk", "max": "70dB", "hours": "22:00–08:00",
         "rooms": "K01-K08,VIP 1", "set": "night"}], "off": ["night"]})",
                        "limits.json", list, error));
    QCOMPARE(list.limits.size(), std::size_t(2));
    QVERIFY(list.limits[1].rooms.contains("K05") && list.limits[1].rooms.contains("VIP 1"));
    QVERIFY(!list.limits[1].rooms.contains("K09") && !list.limits[1].rooms.contains("K5"));
    QVERIFY(list.limits[1].hours->contains(23 * 60) && list.limits[1].hours->contains(7 * 60 + 59));
    QVERIFY(!list.limits[1].hours->contains(8 * 60) && !list.limits[1].hours->contains(21 * 60 + 59));
    // Written back, read again: the same.
    LimitList again;
    QVERIFY(parseLimits(limitsJson(list), "limits.json", again, error));
    QCOMPARE(limitsJson(again), limitsJson(list));
    // Each fault names its line and its field, and nothing is taken.
    const std::pair<const char *, const char *> faults[] = {
        {"{\"limits\": [\n{\"register\": \"MusicVolume\", \"role\": \"desk\", \"max\": \"70dB\"}]}",
         "limits.json: line 2: limits[0].register: 'MusicVolume' is no bar"},
        {"{\"limits\": [\n{\"register\": \"MusicVolumeTrackBar\",\n \"role\": \"technician\", \"max\": \"70dB\"}]}",
         "limits.json: line 3: limits[0].role"},
        {"{\"limits\": [{\"register\": \"MusicVolumeTrackBar\", \"role\": \"desk\",\n \"max\": \"70.5dB\"}]}",
         "limits.json: line 1: limits[0].max: '70.5dB' is no value"},
        {"{\"limits\": [{\"register\": \"MusicVolumeTrackBar\", \"role\": \"desk\", \"max\": \"50dB\", \"min\": \"60dB\"}]}",
         "min is above max"},
        {"{\"limits\": [{\"register\": \"MusicVolumeTrackBar\", \"role\": \"desk\",\n\n \"loud\": \"no\"}]}",
         "limits.json: line 3: limits[0]: unknown member \"loud\""},
        {"{\"limits\": [{\"register\": \"MusicVolumeTrackBar\", \"role\": \"desk\", \"max\": \"70dB\", \"hours\": \"22-8\"}]}",
         "hours: HH:MM-HH:MM"},
        {"{\"limits\": [{\"register\": \"MusicVolumeTrackBar\", \"role\": \"desk\", \"max\": \"70dB\", \"rooms\": \"K01,../x\"}]}",
         "rooms: room '../x'"},
        {"{\"limits\": [], \"limits\": []}", "limits.json: line 1"},
    };
    for (const auto &[text, expected] : faults) {
        QVERIFY2(!parseLimits(text, "limits.json", list, error), text);
        QVERIFY2(error.find(expected) != std::string::npos, error.c_str());
        QCOMPARE(list.limits.size(), std::size_t(2));
    }
}

void TestGuard::limitsHoldTheLimitedRolesOnly()
{
    Held held({"K01", "K09"});
    QTRY_VERIFY(held.online(0) && held.online(1));
    held.change(kTechnician, {{testing::kMusicMax, at(testing::kMusicMax, 0), 0}}); // no max in the way
    held.change(kTechnician, {{testing::kMusicMax, at(testing::kMusicMax, 0), 0}}, true, 1);
    QVERIFY(!held.service.putLimits(R"({"limits": [
        {"register": "MusicVolumeTrackBar", "role": "desk", "max": "70dB"},
        {"register": "MusicVolumeTrackBar", "role": "desk", "max": "60dB", "rooms": "K01-K05"},
        {"register": "MicVolumeTrackBar", "role": "guest", "max": "50dB"}]})"));
    // Past the limit: held at it, and the result says by which limit.
    ChangeResult result = held.change(kDesk, {{kMusicVolume, showing(kMusicVolume, "80dB"), 0}}, true, 1);
    QVERIFY(!result.refusal);
    QCOMPARE(shownMusic(held, 1), std::string("70dB"));
    QCOMPARE(result.limits.size(), std::size_t(1));
    QCOMPARE(result.limits[0].bound, showing(kMusicVolume, "70dB"));
    // A step at the limit changes nothing and says so; a step down is free.
    result = held.change(kDesk, {{kMusicVolume, 0, 1}}, true, 1);
    QVERIFY(result.confirmed.values.empty());
    QCOMPARE(result.limited, std::vector<std::uint8_t>{kMusicVolume});
    QCOMPARE(result.limits.size(), std::size_t(1));
    QCOMPARE(held.service.limitEnds(held.room(1), Role::Desk).size(), std::size_t(1));
    QVERIFY(held.service.limitEnds(held.room(1), Role::Desk)[0].top);
    result = held.change(kDesk, {{kMusicVolume, 0, -1}}, true, 1);
    QCOMPARE(shownMusic(held, 1), std::string("69dB"));
    QVERIFY(result.limits.empty());
    // The tightest limit holds in the rooms it names.
    held.change(kDesk, {{kMusicVolume, showing(kMusicVolume, "80dB"), 0}});
    QCOMPARE(shownMusic(held), std::string("60dB"));
    // A technician is never limited.
    result = held.change(kTechnician, {{kMusicVolume, showing(kMusicVolume, "80dB"), 0}});
    QCOMPARE(shownMusic(held), std::string("80dB"));
    QVERIFY(result.limits.empty());
    // A desk user's recall is held in each room by that room's limits, and says which.
    ParameterModel loud;
    QVERIFY(!held.service.roomAsPreset("K01", loud));
    loud.image[kMusicVolume] = showing(kMusicVolume, "85dB");
    QVERIFY(!held.service.storePreset("loud", loud));
    const auto results = held.recall("loud", kDesk, {&held.room(0), &held.room(1)});
    QCOMPARE(results.size(), std::size_t(2));
    QCOMPARE(int(results[0].result), int(RoomRecall::Result::Ok));
    QCOMPARE(results[0].limited.size(), std::size_t(1));
    QCOMPARE(shownMusic(held, 0), std::string("60dB"));
    QCOMPARE(shownMusic(held, 1), std::string("70dB"));
    held.recall("loud", kTechnician, {&held.room(1)});
    QCOMPARE(shownMusic(held, 1), std::string("85dB"));
    // Refused limits change nothing.
    QCOMPARE(int(held.service.putLimits("{\"limits\": [{}]}").kind), int(Refusal::Kind::Invalid));
    QCOMPARE(held.service.limits().limits.size(), std::size_t(3));
}

void TestGuard::anHourBoundLimitBringsRoomsDownWhenItBegins()
{
    Held held({"K01", "K02", "K03"});
    held.clock.in = QTimeZone("Asia/Shanghai");
    held.clock.setLocal("2026-12-10T21:59:00");
    QTRY_VERIFY(held.online(0) && held.online(1) && held.online(2));
    for (std::size_t i = 0; i < 3; ++i) {
        held.change(kTechnician, {{testing::kMusicMax, at(testing::kMusicMax, 0), 0}}, true, i);
        held.change(kTechnician, {{kMusicVolume, showing(kMusicVolume, i == 1 ? "60dB" : "80dB"), 0}}, true, i);
    }
    QVERIFY(!held.service.putLimits(R"({"limits": [
        {"register": "MusicVolumeTrackBar", "role": "desk", "max": "70dB", "hours": "22:00-08:00"}]})"));
    QTest::qWait(2 * kClockLookMs); // looked at before 22:00: nothing happens
    QCOMPARE(shownMusic(held, 0), std::string("80dB"));
    // K03 is away when the limit begins; it is brought down when it is back.
    held.units[2]->answering = false;
    QTRY_VERIFY_WITH_TIMEOUT(!held.online(2), 15000);
    int told = 0;
    QObject::connect(&held.service, &VenueService::limitsChanged, &held.service, [&] { ++told; });
    held.clock.setLocal("2026-12-10T22:00:00");
    QTRY_COMPARE(shownMusic(held, 0), std::string("70dB"));
    QCOMPARE(shownMusic(held, 1), std::string("60dB")); // under it: untouched
    QCOMPARE(told, 1);
    const auto line = held.service.history(held.room(0), 1);
    QCOMPARE(line.front()->user, std::string("schedule"));
    QCOMPARE(line.front()->through, std::string("limit"));
    QCOMPARE(held.units[2]->processor.registers[kMusicVolume], showing(kMusicVolume, "80dB"));
    held.units[2]->answering = true;
    QTRY_VERIFY_WITH_TIMEOUT(held.online(2), 15000);
    QTRY_COMPARE(held.units[2]->processor.registers[kMusicVolume], showing(kMusicVolume, "70dB"));
    // Within the hours a technician may go past it again; it is not pulled down a second time.
    held.change(kTechnician, {{kMusicVolume, showing(kMusicVolume, "75dB"), 0}});
    held.clock.setLocal("2026-12-10T23:30:00");
    QTest::qWait(2 * kClockLookMs);
    QCOMPARE(shownMusic(held, 0), std::string("75dB"));
    // At 08:00 it ends; a desk user goes up to the bar's own end again.
    held.clock.setLocal("2026-12-11T08:00:00");
    QTRY_COMPARE(told, 2);
    held.change(kDesk, {{kMusicVolume, showing(kMusicVolume, "82dB"), 0}});
    QCOMPARE(shownMusic(held, 0), std::string("82dB"));
    // A set switched on by a schedule begins as the hours do.
    QVERIFY(!held.service.putLimits(R"({"limits": [
        {"register": "MusicVolumeTrackBar", "role": "desk", "max": "65dB", "set": "quiet"}],
        "off": ["quiet"]})"));
    QTest::qWait(2 * kClockLookMs);
    QCOMPARE(shownMusic(held, 0), std::string("82dB"));
    std::string error;
    QVERIFY(held.service.switchLimitSets({"quiet"}, {}, error));
    QTRY_COMPARE(shownMusic(held, 0), std::string("65dB"));
}

void TestGuard::aDeskUserUndoesTheirOwnSlipWithinAMinute()
{
    Held held;
    QTRY_VERIFY(held.online());
    held.change(kTechnician, {{testing::kMusicMax, at(testing::kMusicMax, 0), 0}});
    held.change(kTechnician, {{kMusicVolume, showing(kMusicVolume, "60dB"), 0}});
    const ChangeResult slip = held.change(kDesk, {{kMusicVolume, showing(kMusicVolume, "75dB"), 0}});
    QCOMPARE(slip.confirmed.ids.size(), std::size_t(1));
    const std::set<std::uint64_t> ids(slip.confirmed.ids.begin(), slip.confirmed.ids.end());
    // Not by count, not another's, not a technician's change.
    QCOMPARE(code(held.undo(kDesk, {1, {}, {}}).refusal), std::string("not-own-change"));
    QCOMPARE(code(held.undo(kOtherDesk, {1, {}, ids}).refusal), std::string("not-own-change"));
    QCOMPARE(code(held.undo(kDesk, {1, {}, {ids.begin(), ids.end()}}).refusal),
             std::string()); // ok
    QCOMPARE(shownMusic(held), std::string("60dB"));
    // A minute later, or once someone changed it again, it is a technician's to undo.
    const ChangeResult late = held.change(kDesk, {{kMusicVolume, showing(kMusicVolume, "72dB"), 0}});
    held.clock.at = held.clock.at.addSecs(kOwnUndoSeconds + 1);
    const std::set<std::uint64_t> lateIds(late.confirmed.ids.begin(), late.confirmed.ids.end());
    QCOMPARE(code(held.undo(kDesk, {1, {}, lateIds}).refusal), std::string("too-late-to-undo"));
    const ChangeResult again = held.change(kDesk, {{kMusicVolume, showing(kMusicVolume, "73dB"), 0}});
    held.change(kOtherDesk, {{kMusicVolume, showing(kMusicVolume, "74dB"), 0}});
    const std::set<std::uint64_t> againIds(again.confirmed.ids.begin(), again.confirmed.ids.end());
    QCOMPARE(code(held.undo(kDesk, {1, {}, againIds}).refusal), std::string("too-late-to-undo"));
    QCOMPARE(shownMusic(held), std::string("74dB"));
}

void TestGuard::aUserBoundToRoomsReachesNoOther()
{
    Held held({"K01", "K09"});
    QTRY_VERIFY(held.online(0) && held.online(1));
    const Actor bound = boundTo("K01-K08");
    QVERIFY(VenueService::reaches(bound, held.room(0)) && !VenueService::reaches(bound, held.room(1)));
    QVERIFY(!held.change(bound, {{kMusicVolume, showing(kMusicVolume, "50dB"), 0}}).refusal);
    const ChangeResult refused = held.change(bound, {{kMusicVolume, showing(kMusicVolume, "50dB"), 0}}, true, 1);
    QCOMPARE(code(refused.refusal), std::string("not-your-room"));
    QCOMPARE(code(held.undo(bound, {1, {}, {1}}, 1).refusal), std::string("not-your-room"));
    // A recall naming a room not theirs recalls nothing at all.
    ParameterModel preset;
    QVERIFY(!held.service.roomAsPreset("K01", preset));
    preset.image[kMicVolume] = showing(kMicVolume, "30dB");
    QVERIFY(!held.service.storePreset("p", preset));
    const auto results = held.recall("p", bound, {&held.room(0), &held.room(1)});
    QCOMPARE(int(results[0].result), int(RoomRecall::Result::Failed));
    QCOMPARE(code(results[1].failure), std::string("not-your-room"));
    QVERIFY(held.room(0).holder->mirror()[kMicVolume] != showing(kMicVolume, "30dB"));
}

QTEST_GUILESS_MAIN(TestGuard)
#include "tst_guard.moc"
