// The venue's rooms as operations: the one place where a held room is changed. The HTTP API,
// the frame ports and anything added later (a schedule, a bridge) call it; it knows no HTTP,
// no JSON and no sockets, and answers with typed results.
//
//   change     registers by value or by one step of a bar, by the rules the panel's controls
//              follow (a coupled bar moves its partner, a mode brings back its block), within
//              what the actor's role may change; answered once the processor has confirmed
//   lock       the processor's lock command
//   undo       the latest changes (a count, those since a time, or given ids) back to the
//              values before them
//   presets    stored, listed, loaded, removed; recalled into rooms (each room's result), and
//              compared with every room (register differences)
//   history    a room's latest journaled changes
//
// Every confirmed change is journaled (user and path) and told by changed(); a room's state
// and its whole read by stateChanged() and roomRead(); each room's recall by recalled().
// Refusals say what was wrong, with the input they concern, and nothing is changed.
//
// Thread safety: none; the thread of the event loop.
#pragma once

#include "files/UsersFile.h"
#include "service/Clock.h"
#include "service/Journal.h"
#include "service/Limits.h"
#include "service/Presets.h"
#include "service/Venue.h"

#include <QElapsedTimer>
#include <QObject>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QTimer;

namespace zev {

/// A change is answered NotConfirmed when the processor has not confirmed it in this time; it
/// stays queued (the latest value wins) and goes out when the room can take it.
constexpr int kConfirmTimeoutMs = 10000;
/// Changes waiting for the processor's confirmation, all actors together.
constexpr std::size_t kMaxWaitingRequests = 1024;
/// A desk user may undo a change of their own this long after it.
constexpr int kOwnUndoSeconds = 60;
/// What each room is known to hold is saved at most this long after it changed.
constexpr int kKnownSaveSeconds = 30;
/// The wall clock is looked at this often for the limits' hours and the schedule.
constexpr int kClockLookMs = 1000;

/// Who asks: the name and the path the journal records, and the role that bounds it.
struct Actor {
    std::string user;
    Role role = Role::Viewer;
    std::string through; ///< "api", "web", "frame port", ...
    RoomSet rooms;       ///< the rooms it is bound to; none: every room
    std::vector<std::uint8_t> registers; ///< a guest's: what it may change
    std::string who() const { return whoOf(through, user); }
};

/// Why an operation changed nothing, or did not finish.
struct Refusal {
    enum class Kind {
        None,
        Invalid,      ///< the input names something that cannot be done (422)
        BadInput,     ///< the input is malformed (400)
        Forbidden,    ///< not the actor's to do (403)
        NotFound,     ///< no such room, preset or change (404)
        Conflict,     ///< the state forbids it (409)
        Offline,      ///< the room is not there, or went away (503)
        Busy,         ///< too many changes wait already (503)
        NotConfirmed, ///< the processor did not confirm in time (504)
        Failed,       ///< the server's own failure, the disk (500)
    } kind = Kind::None;
    std::string detail; ///< in English, for people
    std::string field;  ///< the input it concerns ("registers[2]", "preset", "room")
    const char *code = nullptr; ///< a problem code of its own, when it has one
    explicit operator bool() const { return kind != Kind::None; }
};

/// One register to change: to a value, or one position of its bar up (+1) or down (-1).
struct RegisterWish {
    std::uint8_t address = 0;
    std::uint8_t value = 0;
    int step = 0;
};

/// What the processor confirmed of an operation: the values, and the journal entries made.
struct Confirmed {
    std::map<std::uint8_t, std::uint8_t> values;
    std::vector<std::uint64_t> ids;
};

/// A register that a limit kept from the value asked or recalled.
struct LimitHit {
    std::uint8_t address = 0;
    std::uint8_t bound = 0; ///< the value it was brought to
    Limit limit;            ///< the limit that holds it
};

struct ChangeResult {
    Refusal refusal;
    Confirmed confirmed;
    /// The registers that the rules or a limit kept from the value asked (a volume held under
    /// its maximum bar, a step at the end of its bar), in the order asked.
    std::vector<std::uint8_t> limited;
    /// Of those, the ones a limit of the actor's role held.
    std::vector<LimitHit> limits;
};

struct UndoRequest {
    std::size_t count = 1;              ///< the latest N changes
    std::string since;                  ///< or those after this time (UTC, ISO 8601)
    std::set<std::uint64_t> ids;        ///< or these changes and no others
};

struct UndoResult {
    Refusal refusal;
    std::vector<std::uint64_t> undone; ///< newest first
    Confirmed confirmed;
};

/// One room's part of a recall.
struct RoomRecall {
    std::string room;
    enum class Result { Ok, Differs, Failed } result = Result::Ok;
    std::vector<std::uint8_t> differs; ///< Differs: registers that ended unlike the preset
    Refusal failure;                   ///< Failed: why
    std::string reasonCode;            ///< Failed in an offline room: why it is offline
    RegisterImage wanted{};            ///< the preset's registers
    RegisterImage found{};             ///< the room's, once the recall was over
    std::vector<LimitHit> limited;     ///< registers held by the actor's limits
};

/// A room's registers that differ from a preset; none known before the room is read.
struct RoomComparison {
    const HeldRoom *room = nullptr;
    std::optional<std::vector<std::uint8_t>> differs;
};

/// Where a bar's − or + would change nothing by the panel's rules.
struct BarEnds {
    std::uint8_t address = 0;
    bool top = false;
    bool bottom = false;
};

class VenueService : public QObject {
    Q_OBJECT
public:
    /// `deskRegisters`: what a desk user may change.
    VenueService(Venue &venue, Journal &journal, Presets &presets,
                 std::vector<std::uint8_t> deskRegisters, QObject *parent = nullptr);
    ~VenueService() override;

    Venue &venue() { return m_venue; }
    /// The clock of the limits' hours and of the journal (the process's unless set).
    void setClock(const Clock &clock);
    const Clock &clock() const { return *m_clock; }
    /// Now as a minute of the day, in the clock's zone, as the clock was last looked at (at
    /// most kClockLookMs ago): the time the limits' hours follow.
    int minuteNow() const;

    /// Whether the actor may see and change the room (a user bound to rooms).
    static bool reaches(const Actor &actor, const HeldRoom &room);

    /// Reads the limits of `path` ("DIR/limits.json"); none when it does not exist. False with
    /// `error` when the file is refused.
    bool loadLimits(const std::string &path, std::string &error);
    const LimitList &limits() const { return m_limits; }
    /// New limits, as their file's text: checked, kept in the file, in force at once.
    Refusal putLimits(const std::string &text);
    /// Switches sets of limits on or off (a schedule's action); false with `error` when the
    /// file could not be written.
    bool switchLimitSets(const std::set<std::string> &on, const std::set<std::string> &off,
                         std::string &error);
    /// What a room that lost its settings gets: asked of a technician (the default), or written
    /// back at once.
    enum class RestoreMode { Ask, Auto };
    /// Keeps what a unit held before it lost its settings as a parameter file named after the
    /// room in `folder`, and sets how it is restored.
    void keepLostSettings(const std::string &folder, RestoreMode mode);
    /// Writes back what the room held before it lost its settings (journaled as user
    /// "restore"); the mark goes once it is confirmed.
    void restoreLost(HeldRoom &room, const Actor &actor, std::function<void(ChangeResult)> done);
    /// The factory's settings are what the room is to hold: the mark goes, nothing is written.
    Refusal acceptFactory(HeldRoom &room, const Actor &actor);

    /// The bounds of a role's changes of a register in a room, now.
    Bounds boundsNow(Role role, const std::string &room, std::uint8_t address) const;
    const std::vector<std::uint8_t> &deskRegisters() const { return m_deskRegisters; }
    bool isDeskRegister(std::uint8_t address) const;

    /// Whether the actor may make these changes, each asked once, by the rules or (a
    /// technician's) past them; a refusal names the first wish at fault.
    Refusal checkChange(const Actor &actor, const std::vector<RegisterWish> &wishes,
                        bool rules) const;
    /// Makes them, in the order given, on a copy of what the processor holds; what ends
    /// different is written, and `done` is called once with the result.
    void change(HeldRoom &room, const Actor &actor, const std::vector<RegisterWish> &wishes,
                bool rules, std::function<void(ChangeResult)> done);
    /// A value as a frame port's client gave it: written as it is (the client made it by the
    /// rules), the mode memories kept in step with a mode it leaves.
    void writeAsGiven(HeldRoom &room, std::uint8_t address, std::uint8_t value,
                      const std::string &who);
    void lock(HeldRoom &room, const Actor &actor, std::function<void(ChangeResult)> done);
    void undo(HeldRoom &room, const Actor &actor, const UndoRequest &request,
              std::function<void(UndoResult)> done);

    /// A stored preset, checked as a recall sends it.
    Refusal loadPreset(const std::string &name, ParameterModel &model) const;
    /// A room's registers and mode memories as a preset would hold them.
    Refusal roomAsPreset(const std::string &room, ParameterModel &model) const;
    Refusal storePreset(const std::string &name, const ParameterModel &model);
    Refusal removePreset(const std::string &name);
    std::vector<PresetInfo> presets() const { return m_presets.list(); }
    /// A stored preset that a recall may send: one stored before presets were checked, or put
    /// in the folder by hand, may hold what no control shows.
    Refusal recallable(const std::string &name, ParameterModel &model) const;
    /// Recalls the preset (as recallable() gave it) into the rooms; `done` gets each room's
    /// result in their order.
    void recall(const std::string &name, const ParameterModel &model,
                const std::vector<HeldRoom *> &rooms, const Actor &actor,
                std::function<void(std::vector<RoomRecall>)> done);
    /// Every room's registers that differ from the preset; `preset` is the preset as loaded.
    Refusal compare(const std::string &name, std::vector<RoomComparison> &rooms,
                    ParameterModel *preset = nullptr);

    /// The room's latest changes, newest first.
    std::vector<const JournalEntry *> history(const HeldRoom &room, std::size_t limit) const;
    /// The desk's bars that a step one way would not move; none before the room is read.
    std::vector<BarEnds> deskEnds(const HeldRoom &room) const;
    /// The bars that stand at (or past) a limit of the role in force now.
    std::vector<BarEnds> limitEnds(const HeldRoom &room, Role role) const;

    /// Keeps what each room is known to hold in `folder` (saved within kKnownSaveSeconds of a
    /// change, and by saveKnown), so that a unit that lost its settings while the server was
    /// down too (a power cut takes both) is found out when it is read after the start.
    void keepKnownSettings(const std::string &folder);
    /// Saves the known settings not saved yet (at the end).
    void saveKnown();
    /// Keeps each room's mode memories as a parameter file named after it in `folder`, so
    /// that a restart brings them back; reads those there now.
    void keepModeMemories(const std::string &folder);

signals:
    /// A confirmed change; `entry` is its journal line (none for the lock, or a write that
    /// changed nothing).
    void changed(zev::HeldRoom &room, const zev::RegisterChange &change,
                 const zev::JournalEntry *entry);
    void stateChanged(zev::HeldRoom &room);
    /// The room was read whole.
    void roomRead(zev::HeldRoom &room);
    void recalled(const std::string &preset, const zev::RoomRecall &result);
    /// Limits came into force or went out of it (their hours, a set switched, new limits).
    void limitsChanged();
    /// A room was found to have lost its settings, or the mark went.
    void settingsLostChanged(zev::HeldRoom &room);
    /// The wall clock was looked at (each kClockLookMs): the schedule's beat.
    void clockLooked(const QDateTime &now);

private:
    struct Waiting;
    using Done = std::function<void(Refusal, const Confirmed &)>;
    void startWrites(HeldRoom &room, const std::map<std::uint8_t, std::uint8_t> &writes,
                     const std::string &who, Done done);
    void confirmed(HeldRoom &room, const RegisterChange &change);
    void roomState(HeldRoom &room);
    void modesChanged(HeldRoom &room);
    void takeModes(HeldRoom &room, const ParameterModel &model);
    /// Brings the work's registers that differ from the room within the role's limits.
    std::vector<LimitHit> keepWithinLimits(const HeldRoom &room, Role role, ParameterModel &work) const;
    void lookAtClock();
    int minuteOf(const QDateTime &now) const;
    /// Brings the room within the limits that began (their keys) while it could not be.
    void bringWithinLimits(HeldRoom &room, const std::set<std::string> &begun);
    bool storeLimits(const LimitList &list, std::string &error);
    /// A whole read: a unit found holding the factory's settings where it held others has lost
    /// them.
    void lookForLoss(HeldRoom &room);

    struct Undoing {
        std::uint8_t value = 0;
        std::vector<std::uint64_t> ids;
    };

    Venue &m_venue;
    Journal &m_journal;
    Presets &m_presets;
    std::vector<std::uint8_t> m_deskRegisters;
    std::unique_ptr<Presets> m_modes;
    std::map<std::pair<HeldRoom *, std::uint8_t>, Undoing> m_undoing;
    std::vector<std::shared_ptr<Waiting>> m_waiting;
    const Clock *m_clock = nullptr;
    int m_minute = 0; ///< of the day, when the clock was last looked at
    LimitList m_limits;
    std::string m_limitsPath;
    std::set<std::string> m_inForce; ///< the keys of limits that come and go, in force
    std::map<HeldRoom *, std::set<std::string>> m_limitsMissed; ///< begun while it was away
    QTimer *m_look = nullptr;
    std::unique_ptr<Presets> m_lost;
    std::unique_ptr<Presets> m_known;
    std::set<HeldRoom *> m_knownChanged; ///< rooms whose known settings are not saved yet
    QElapsedTimer m_steady;              ///< started with the service
    qint64 m_knownSavedAt = 0;           ///< when they were last saved (ms of m_steady)
    RestoreMode m_restore = RestoreMode::Ask;
};

} // namespace zev
