// The venue service in-process: rooms held over loopback TCP by the emulator's own reply
// rules, no zev720d. What the API's suites test of the answers' shapes, this tests of the
// rules behind them.
#include "model/EditRules.h"
#include "support/Held.h"
#include "model/Encoding.h"
#include "model/Shown.h"
#include "service/VenueService.h"
#include "sim/Processor.h"
#include "wire/FrameCodec.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace zev;

namespace {

using testing::Held;
using testing::at;
using testing::row;
using testing::kMusicVolume;
using testing::kMusicMax;

const Actor kTechnician{"tech", Role::Technician, "api", {}, {}};
const Actor kDesk{"desk", Role::Desk, "web", {}, {}};
const Actor kViewer{"view", Role::Viewer, "web", {}, {}};

} // namespace

class TestService : public QObject {
    Q_OBJECT
private slots:
    void changesFollowTheRulesAndTheRole();
    void undoTakesBackWhatTheJournalHolds();
    void recallAndCompareSayWhatDiffers();
    void anOfflineRoomChangesNothing();
    void framePortWritesKeepTheModeMemories();
};

void TestService::changesFollowTheRulesAndTheRole()
{
    Held held;
    QTRY_VERIFY(held.online());
    // Refused whole, before anything is written.
    const auto refused = [&](const Actor &actor, std::vector<RegisterWish> wishes, bool rules,
                             Refusal::Kind kind, const char *field) {
        const Refusal refusal = held.service.checkChange(actor, wishes, rules);
        QCOMPARE(int(refusal.kind), int(kind));
        QCOMPARE(refusal.field, std::string(field));
    };
    refused(kViewer, {{kMusicVolume, at(kMusicVolume, 20), 0}}, true, Refusal::Kind::Forbidden, "role");
    refused(kDesk, {{kMusicVolume, at(kMusicVolume, 20), 0}}, false, Refusal::Kind::Forbidden, "rules");
    refused(kDesk, {{kMusicVolume, at(kMusicVolume, 20), 0}, {kMusicMax, at(kMusicMax, 5), 0}}, true,
            Refusal::Kind::Forbidden, "registers[1]");
    refused(kTechnician, {{kMusicVolume, at(kMusicVolume, 20), 0}, {kMusicVolume, at(kMusicVolume, 21), 0}},
            true, Refusal::Kind::Invalid, "registers[1]");
    refused(kTechnician, {{kMusicMax, 0, 2}}, true, Refusal::Kind::Invalid, "registers[0]");
    refused(kTechnician, {{kMusicEqModeRegister, 0, 1}}, true, Refusal::Kind::Invalid, "registers[0]");
    QCOMPARE(held.unit.processor.registers, held.room().holder->mirror());

    // The maximum moved below the volume drags the volume along, as the panel's bar does: both
    // are confirmed and journaled.
    held.change(kTechnician, {{kMusicVolume, at(kMusicVolume, 30), 0}, {kMusicMax, at(kMusicMax, 20), 0}});
    ChangeResult result = held.change(kTechnician, {{kMusicMax, at(kMusicMax, 40), 0}});
    QVERIFY(!result.refusal);
    QCOMPARE(result.confirmed.values.size(), std::size_t(2));
    QCOMPARE(result.confirmed.values.at(kMusicVolume), at(kMusicVolume, 40));
    QCOMPARE(result.confirmed.ids.size(), std::size_t(2));
    QCOMPARE(held.unit.processor.registers[kMusicVolume], at(kMusicVolume, 40));
    // The volume asked above its maximum stays under it, and the result says which.
    result = held.change(kDesk, {{kMusicVolume, at(kMusicVolume, 10), 0}});
    QVERIFY(!result.refusal);
    QCOMPARE(result.limited, std::vector<std::uint8_t>{kMusicVolume});
    QVERIFY(result.confirmed.values.empty());
    // A step moves one shown position; at the end of the bar it is limited, and past the rules
    // a technician's value goes as given.
    result = held.change(kDesk, {{kMusicVolume, 0, -1}});
    QCOMPARE(result.confirmed.values.size(), std::size_t(1));
    QCOMPARE(result.confirmed.values.begin()->second,
             *steppedValue(row(kMusicVolume), at(kMusicVolume, 40), -1));
    result = held.change(kTechnician, {{kMusicVolume, at(kMusicVolume, 10), 0}}, false);
    QVERIFY(result.limited.empty());
    QCOMPARE(held.unit.processor.registers[kMusicVolume], at(kMusicVolume, 10));
    const auto latest = held.service.history(held.room(), 1);
    QCOMPARE(latest.size(), std::size_t(1));
    QCOMPARE(latest.front()->user, std::string("tech"));
    QCOMPARE(latest.front()->through, std::string("api"));
}

void TestService::undoTakesBackWhatTheJournalHolds()
{
    Held held;
    QTRY_VERIFY(held.online());
    const std::uint8_t first = held.unit.processor.registers[kMusicVolume];
    held.change(kTechnician, {{kMusicVolume, at(kMusicVolume, 25), 0}});
    held.change(kTechnician, {{kMusicVolume, at(kMusicVolume, 35), 0}});
    const auto undo = [&](const Actor &actor, UndoRequest request) {
        std::optional<UndoResult> got;
        held.service.undo(held.room(), actor, request, [&](UndoResult r) { got = std::move(r); });
        [&] { QTRY_VERIFY(got.has_value()); }();
        return got.value_or(UndoResult{});
    };
    QCOMPARE(int(undo(kDesk, {}).refusal.kind), int(Refusal::Kind::Forbidden));
    UndoResult result = undo(kTechnician, {2, {}, {}});
    QVERIFY(!result.refusal);
    QCOMPARE(result.undone.size(), std::size_t(2));
    QCOMPARE(held.unit.processor.registers[kMusicVolume], first);
    // The undo is journaled as undoing both, which count as undone from then on.
    const auto history = held.service.history(held.room(), 10);
    QCOMPARE(history.size(), std::size_t(3));
    QCOMPARE(history[0]->undoes.size(), std::size_t(2));
    QVERIFY(history[1]->undone && history[2]->undone);
    result = undo(kTechnician, {});
    QCOMPARE(std::string(result.refusal.code), std::string("nothing-to-undo"));
}

void TestService::recallAndCompareSayWhatDiffers()
{
    Held held;
    QTRY_VERIFY(held.online());
    ParameterModel preset;
    QVERIFY(!held.service.roomAsPreset("K01", preset));
    preset.image[kMusicVolume] = at(kMusicVolume, 30);
    preset.image[kMusicMax] = at(kMusicMax, 10);
    QVERIFY(!held.service.storePreset("晚上", preset));
    ParameterModel unshown = preset;
    unshown.image[kMusicVolume] = 200;
    QCOMPARE(int(held.service.storePreset("bad", unshown).kind), int(Refusal::Kind::Invalid));

    std::vector<RoomComparison> rooms;
    QVERIFY(!held.service.compare("晚上", rooms));
    QCOMPARE(rooms.size(), std::size_t(1));
    QCOMPARE(*rooms[0].differs, (std::vector<std::uint8_t>{kMusicVolume, kMusicMax}));

    // A unit that keeps one register wrong: the recall says so, by name.
    held.unit.processor.mangled = kMusicMax;
    ParameterModel model;
    QVERIFY(!held.service.recallable("晚上", model));
    int told = 0;
    QObject::connect(&held.service, &VenueService::recalled, &held.service, [&] { ++told; });
    std::optional<std::vector<RoomRecall>> results;
    held.service.recall("晚上", model, {&held.room()}, kDesk,
                        [&](std::vector<RoomRecall> r) { results = std::move(r); });
    QTRY_VERIFY(results.has_value());
    QCOMPARE(told, 1);
    QCOMPARE(int((*results)[0].result), int(RoomRecall::Result::Differs));
    QCOMPARE((*results)[0].differs, std::vector<std::uint8_t>{kMusicMax});
    QVERIFY(!held.service.compare("晚上", rooms));
    QCOMPARE(*rooms[0].differs, std::vector<std::uint8_t>{kMusicMax});
    QCOMPARE(int(held.service.recallable("nowhere", model).kind), int(Refusal::Kind::NotFound));
}

void TestService::anOfflineRoomChangesNothing()
{
    Held held;
    QTRY_VERIFY(held.online());
    // A change the unit never confirms is ended by the room going offline, and says so.
    held.unit.answering = false;
    std::optional<ChangeResult> waiting;
    held.service.change(held.room(), kTechnician, {{kMusicVolume, at(kMusicVolume, 33), 0}}, true,
                        [&](ChangeResult r) { waiting = std::move(r); });
    QVERIFY(!waiting);
    held.unit.unplug();
    QTRY_VERIFY_WITH_TIMEOUT(waiting.has_value(), 15000);
    QCOMPARE(int(waiting->refusal.kind), int(Refusal::Kind::Offline));
    QVERIFY(waiting->refusal.detail.find("went offline") != std::string::npos);
    // Offline, a change is refused at once and nothing is journaled.
    const ChangeResult refused = held.change(kTechnician, {{kMusicVolume, at(kMusicVolume, 34), 0}});
    QCOMPARE(std::string(refused.refusal.code), std::string("room-offline"));
    QVERIFY(held.service.history(held.room(), 10).empty());
}

void TestService::framePortWritesKeepTheModeMemories()
{
    Held held;
    QTRY_VERIFY(held.online());
    const RegisterRow &mode = row(kMusicEqModeRegister);
    const std::uint8_t leaving = held.room().holder->mirror()[mode.address];
    const std::uint8_t entering = leaving == mode.choices.front().value ? mode.choices.back().value
                                                                         : mode.choices.front().value;
    // The block as the client tuned it, then the mode left: the left mode's memory holds it.
    const std::uint8_t tuned = held.room().holder->mirror()[mode.blockFirst] == 0 ? 1 : 0;
    int changed = 0;
    QObject::connect(&held.service, &VenueService::changed, &held.service, [&] { ++changed; });
    held.service.writeAsGiven(held.room(), mode.blockFirst, tuned, "frame port:127.0.0.1:1");
    QTRY_COMPARE(held.room().holder->mirror()[mode.blockFirst], tuned);
    held.service.writeAsGiven(held.room(), mode.address, entering, "frame port:127.0.0.1:1");
    QTRY_COMPARE(held.room().holder->mirror()[mode.address], entering);
    QCOMPARE(held.room().modes.modeSlots[leaving][mode.blockFirst], tuned);
    QCOMPARE(changed, 2);
    QCOMPARE(held.service.history(held.room(), 1).front()->through, std::string("frame port"));
}

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
