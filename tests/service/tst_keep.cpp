// What the venue keeps of a unit that changes behind the server's back: a register changed at
// the unit's own panel is found by the whole read made every so often (or at once when the
// quiet check finds its register changed), taken into the mirror, journaled as "unit" and told;
// a user's write queued meanwhile goes first and wins. In-process, on the emulator's rules.
#include "support/Held.h"

#include <QFile>

using namespace zev;
using testing::Held;
using testing::kMicVolume;
using testing::kMusicVolume;
using testing::showing;

namespace {

const Actor kTechnician{"tech", Role::Technician, "api", {}, {}};

} // namespace

class TestKeep : public QObject {
    Q_OBJECT
private slots:
    void changesAtTheUnitAreTakenAndTold();
    void theQuietCheckStartsAWholeReadAtOnce();
    void aUnitThatLostItsSettingsIsMarkedAndRestored();
};

void TestKeep::changesAtTheUnitAreTakenAndTold()
{
    Held held({"K01"}, {100, 400, 60000, 300, 5});
    QTRY_VERIFY(held.online());
    std::vector<RegisterChange> told;
    QObject::connect(&held.service, &VenueService::changed, &held.service,
                     [&](HeldRoom &, const RegisterChange &change, const JournalEntry *) { told.push_back(change); });
    // The unit's own panel turns the microphones down; the next whole read finds it.
    held.unit.processor.setAtUnit(kMicVolume, showing(kMicVolume, "40dB"));
    QTRY_COMPARE(held.room().holder->mirror()[kMicVolume], showing(kMicVolume, "40dB"));
    QCOMPARE(told.size(), std::size_t(1));
    QCOMPARE(told[0].who, std::string(kUnitWho));
    const auto line = held.service.history(held.room(), 1);
    QCOMPARE(line.front()->user, std::string("unit"));
    QCOMPARE(line.front()->through, std::string("unit"));
    QCOMPARE(held.room().holder->counters().unitChanges, std::uint64_t(1));
    // Read whole again and again, it finds nothing more.
    QSignalSpy verified(held.room().holder.get(), &RoomHolder::verified);
    QTRY_VERIFY(verified.size() >= 2);
    QCOMPARE(told.size(), std::size_t(1));
    // A user's change of a register the unit changed too: the user's goes out and wins, and
    // is answered as asked.
    held.unit.processor.setAtUnit(kMusicVolume, showing(kMusicVolume, "50dB"));
    const ChangeResult mine = held.change(kTechnician, {{kMusicVolume, showing(kMusicVolume, "60dB"), 0}});
    QVERIFY(!mine.refusal);
    QTRY_VERIFY(verified.size() >= 4);
    QCOMPARE(held.unit.processor.registers[kMusicVolume], showing(kMusicVolume, "60dB"));
    QCOMPARE(held.room().holder->mirror()[kMusicVolume], showing(kMusicVolume, "60dB"));
}

void TestKeep::theQuietCheckStartsAWholeReadAtOnce()
{
    // No whole read by time; the quiet check every 200 ms reads the music volume.
    Held held({"K01"}, {100, 400, 200, 0, 5});
    QTRY_VERIFY(held.online());
    QSignalSpy verified(held.room().holder.get(), &RoomHolder::verified);
    held.unit.processor.setAtUnit(kMicVolume, showing(kMicVolume, "41dB"));
    held.unit.processor.setAtUnit(kMusicVolume, showing(kMusicVolume, "51dB"));
    QTRY_COMPARE(held.room().holder->mirror()[kMusicVolume], showing(kMusicVolume, "51dB"));
    QTRY_COMPARE(verified.size(), 1);
    QCOMPARE(held.room().holder->mirror()[kMicVolume], showing(kMicVolume, "41dB"));
    QCOMPARE(held.room().holder->counters().unitChanges, std::uint64_t(2));
}

void TestKeep::aUnitThatLostItsSettingsIsMarkedAndRestored()
{
    Held held({"K01", "K02"}, {100, 400, 60000, 300, 5});
    QTRY_VERIFY(held.online(0) && held.online(1));
    held.service.keepLostSettings(held.dir.filePath("lost").toStdString(), VenueService::RestoreMode::Ask);
    for (std::size_t i = 0; i < 2; ++i)
        held.change(kTechnician, {{kMicVolume, showing(kMicVolume, "55dB"), 0}}, true, i);
    // A technician's own return to the factory's settings is no loss.
    ParameterModel factory;
    factory.startAfresh();
    factory.loadFactoryValues();
    QVERIFY(!held.service.storePreset("factory", factory));
    held.recall("factory", kTechnician, {&held.room(1)});
    QSignalSpy verified(held.room(1).holder.get(), &RoomHolder::verified);
    QTRY_VERIFY(verified.size() >= 2);
    QVERIFY(held.room(1).settingsLost.empty());
    // The unit forgets everything (a power cut): the next whole read marks it, and what it held
    // is kept as a parameter file.
    QSignalSpy marked(&held.service, &VenueService::settingsLostChanged);
    held.units[0]->processor.forget();
    QTRY_VERIFY(!held.room(0).settingsLost.empty());
    QCOMPARE(marked.size(), 1);
    QCOMPARE(held.room(0).lostSettings[kMicVolume], showing(kMicVolume, "55dB"));
    QVERIFY(QFile::exists(held.dir.filePath("lost/K01.dat")));
    // Only a technician restores it, once; then the mark is gone.
    std::optional<ChangeResult> restored;
    const Actor desk{"desk", Role::Desk, "web", {}, {}};
    held.service.restoreLost(held.room(0), desk, [&](ChangeResult r) { restored = std::move(r); });
    QCOMPARE(int(restored->refusal.kind), int(Refusal::Kind::Forbidden));
    restored.reset();
    held.service.restoreLost(held.room(0), kTechnician, [&](ChangeResult r) { restored = std::move(r); });
    QTRY_VERIFY(restored.has_value());
    QVERIFY(!restored->refusal);
    QCOMPARE(held.units[0]->processor.registers[kMicVolume], showing(kMicVolume, "55dB"));
    QVERIFY(held.room(0).settingsLost.empty());
    QCOMPARE(held.service.acceptFactory(held.room(0), kTechnician).code, "settings-not-lost");
    // Restored by the server itself, when told to: journaled as "restore".
    held.service.keepLostSettings(held.dir.filePath("lost").toStdString(), VenueService::RestoreMode::Auto);
    held.units[0]->processor.forget();
    QTRY_COMPARE(held.units[0]->processor.registers[kMicVolume], showing(kMicVolume, "55dB"));
    QTRY_VERIFY(held.room(0).settingsLost.empty());
    QCOMPARE(held.service.history(held.room(0), 1).front()->user, std::string("restore"));
}

QTEST_GUILESS_MAIN(TestKeep)
#include "tst_keep.moc"
