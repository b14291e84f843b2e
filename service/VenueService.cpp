#include "service/VenueService.h"

#include "files/AtomicFile.h"
#include "files/TextFile.h"
#include "model/EditRules.h"
#include "model/Shown.h"
#include "room/Difference.h"

#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace zev {

struct VenueService::Waiting {
    HeldRoom *room = nullptr;
    std::set<std::uint8_t> addresses; ///< not confirmed yet
    Confirmed got;                    ///< confirmed, with the processor's value
    std::unique_ptr<QTimer> timer;
    Done done;
};

namespace {

Refusal refuse(Refusal::Kind kind, std::string detail, std::string field = {},
               const char *code = nullptr)
{
    return {kind, std::move(detail), std::move(field), code};
}

std::string wishField(std::size_t i)
{
    return "registers[" + std::to_string(i) + "]";
}

/// A limit as its file writes it: the same limit in an edited file is the same limit.
std::string keyOf(const Limit &limit)
{
    return limitsJson(LimitList{{limit}, {}});
}

Refusal notYours(const HeldRoom &room)
{
    return refuse(Refusal::Kind::Forbidden, "room '" + room.name + "' is not one of this user's rooms",
                  "room", "not-your-room");
}

bool limitedRole(Role role)
{
    return role == Role::Desk || role == Role::Guest;
}

} // namespace

VenueService::VenueService(Venue &venue, Journal &journal, Presets &presets,
                           std::vector<std::uint8_t> deskRegisters, QObject *parent)
    : QObject(parent), m_venue(venue), m_journal(journal), m_presets(presets),
      m_deskRegisters(std::move(deskRegisters)), m_clock(&processClock())
{
    m_steady.start();
    m_minute = minuteOf(m_clock->now());
    QObject::connect(&m_venue, &Venue::changed, this,
                     [this](HeldRoom &room, const RegisterChange &change) { confirmed(room, change); });
    QObject::connect(&m_venue, &Venue::stateChanged, this,
                     [this](HeldRoom &room) { roomState(room); });
    QObject::connect(&m_venue, &Venue::mirrorRead, this, [this](HeldRoom &room) {
        // The lock as the processor holds it, read with the room.
        room.locked = room.holder->mirror()[kLockAddress] == kCommandValue;
        lookForLoss(room);
        emit roomRead(room);
        // Limits that began while the room was away hold from its return.
        if (const auto missed = m_limitsMissed.find(&room); missed != m_limitsMissed.end()) {
            const std::set<std::string> begun = std::move(missed->second);
            m_limitsMissed.erase(missed);
            bringWithinLimits(room, begun);
        }
    });
    QObject::connect(&m_venue, &Venue::verified, this, [this](HeldRoom &room) {
        const bool before = !room.settingsLost.empty();
        lookForLoss(room);
        if (before != !room.settingsLost.empty()) emit roomRead(room);
    });
    m_look = new QTimer(this);
    QObject::connect(m_look, &QTimer::timeout, this, [this] { lookAtClock(); });
    m_look->start(kClockLookMs);
}

VenueService::~VenueService() = default;

bool VenueService::isDeskRegister(std::uint8_t address) const
{
    return std::find(m_deskRegisters.begin(), m_deskRegisters.end(), address) != m_deskRegisters.end();
}

Refusal VenueService::checkChange(const Actor &actor, const std::vector<RegisterWish> &wishes,
                                  bool rules) const
{
    using Kind = Refusal::Kind;
    if (actor.role == Role::Viewer) return refuse(Kind::Forbidden, "a viewer changes nothing", "role");
    if (!rules && actor.role != Role::Technician)
        return refuse(Kind::Forbidden, "rules: only a technician writes past the rules", "rules");
    for (std::size_t i = 0; i < wishes.size(); ++i) {
        const RegisterWish &wish = wishes[i];
        const RegisterRow *row = findRegister(wish.address);
        if (!row) return refuse(Kind::Invalid, "no such register", wishField(i));
        if (wish.step) {
            if ((wish.step != 1 && wish.step != -1) || controlKind(*row) != ControlKind::TrackBar)
                return refuse(Kind::Invalid, machineName(*row) + ": step is 1 or -1, on a bar",
                              wishField(i));
        } else if (!controlShows(*row, wish.value)) {
            return refuse(Kind::Invalid,
                          machineName(*row) + ": value " + std::to_string(wish.value) +
                              " is no value that this control shows",
                          wishField(i));
        }
        for (std::size_t k = 0; k < i; ++k)
            if (wishes[k].address == wish.address)
                return refuse(Kind::Invalid, machineName(*row) + ": given twice", wishField(i));
        if (actor.role == Role::Desk && !isDeskRegister(wish.address))
            return refuse(Kind::Forbidden, machineName(*row) + ": not a front desk control",
                          wishField(i), "not-desk-register");
        if (actor.role == Role::Guest &&
            std::find(actor.registers.begin(), actor.registers.end(), wish.address) == actor.registers.end())
            return refuse(Kind::Forbidden, machineName(*row) + ": not one of this room's guest controls",
                          wishField(i), "not-guest-register");
    }
    return {};
}

void VenueService::change(HeldRoom &room, const Actor &actor, const std::vector<RegisterWish> &wishes,
                          bool rules, std::function<void(ChangeResult)> done)
{
    if (Refusal refusal = checkChange(actor, wishes, rules))
        return done({std::move(refusal), {}, {}, {}});
    if (!reaches(actor, room)) return done({notYours(room), {}, {}, {}});
    // The changes are made, in the order given, on a copy of what the processor holds, by the
    // rules the panel's controls follow. What ends different from the processor is written.
    ParameterModel work = room.modes;
    work.image = room.holder->mirror();
    std::vector<std::uint8_t> limited;
    std::map<std::uint8_t, std::uint8_t> asked;
    for (const RegisterWish &wish : wishes) {
        const RegisterRow &row = *findRegister(wish.address);
        std::uint8_t value = wish.value;
        if (wish.step) {
            const auto stepped = steppedValue(row, work.image[wish.address], wish.step);
            if (!stepped) { // at the end of the bar already
                limited.push_back(wish.address);
                continue;
            }
            value = *stepped;
        }
        asked[wish.address] = value;
        if (rules)
            applyEdit(work, wish.address, value);
        else
            work.image[wish.address] = value;
    }
    const std::vector<LimitHit> hits = keepWithinLimits(room, actor.role, work);
    for (const auto &[address, value] : asked)
        if (work.image[address] != value &&
            std::find(limited.begin(), limited.end(), address) == limited.end())
            limited.push_back(address);
    // A step already at a limit: the limit is what held it.
    std::vector<LimitHit> limits;
    for (const RegisterWish &wish : wishes) {
        const auto hit = std::find_if(hits.begin(), hits.end(),
                                      [&](const LimitHit &h) { return h.address == wish.address; });
        if (hit != hits.end()) {
            limits.push_back(*hit);
        } else if (wish.step && limitedRole(actor.role) &&
                   std::find(limited.begin(), limited.end(), wish.address) != limited.end()) {
            const Bounds bounds = boundsNow(actor.role, room.name, wish.address);
            const std::uint8_t value = room.holder->mirror()[wish.address];
            if (wish.step > 0 && bounds.upper && *bounds.upper == value)
                limits.push_back({wish.address, value, *bounds.upperBy});
            else if (wish.step < 0 && bounds.lower && *bounds.lower == value)
                limits.push_back({wish.address, value, *bounds.lowerBy});
        }
    }
    room.limited += limits.size();
    std::map<std::uint8_t, std::uint8_t> writes;
    for (const std::uint8_t address : differingRegisters(work.image, room.holder->mirror()))
        writes[address] = work.image[address];
    // The mode memories follow the choice as soon as it is taken, as the panel's do.
    takeModes(room, work);
    startWrites(room, writes, actor.who(),
                [done = std::move(done), limited, limits](Refusal refusal, const Confirmed &got) {
                    done({std::move(refusal), got, limited, limits});
                });
}

void VenueService::writeAsGiven(HeldRoom &room, std::uint8_t address, std::uint8_t value,
                                const std::string &who)
{
    // A mode left: its block, as the processor holds it, goes to the mode's memory, as the
    // client's own rules kept it.
    const RegisterRow *row = findRegister(address);
    const bool fixed = address == kDspModeRegister && value >= kFirstFixedDspMode &&
                       value <= kLastFixedDspMode; // a fixed mode keeps nothing, as the rules say
    if (row && !fixed && controlKind(*row) == ControlKind::Mode && room.holder->mirrored() &&
        room.holder->state() == RoomHolder::State::Online) {
        const std::uint8_t leaving = room.holder->mirror()[address];
        ParameterModel work = room.modes;
        work.image = room.holder->mirror();
        if (leaving != value && work.copyRegisterBlock(address, leaving, CopyDirection::Save))
            takeModes(room, work);
    }
    room.holder->write(address, value, who);
}

void VenueService::lock(HeldRoom &room, const Actor &actor, std::function<void(ChangeResult)> done)
{
    if (actor.role <= Role::Viewer)
        return done({refuse(Refusal::Kind::Forbidden, "a viewer changes nothing", "role"), {}, {}, {}});
    if (!reaches(actor, room)) return done({notYours(room), {}, {}, {}});
    startWrites(room, {{kLockAddress, kCommandValue}}, actor.who(),
                [done = std::move(done)](Refusal refusal, const Confirmed &got) {
                    done({std::move(refusal), got, {}, {}});
                });
}

void VenueService::undo(HeldRoom &room, const Actor &actor, const UndoRequest &request,
                        std::function<void(UndoResult)> done)
{
    using Kind = Refusal::Kind;
    if (actor.role != Role::Technician && actor.role != Role::Desk)
        return done({refuse(Kind::Forbidden, "undo is a technician's", "role"), {}, {}});
    if (!reaches(actor, room)) return done({notYours(room), {}, {}});
    if (actor.role == Role::Desk) {
        // The front desk undoes its own slips (the wrong room, a double tap): changes of its
        // own, given by their ids, made within kOwnUndoSeconds, that nobody changed since.
        if (request.ids.empty())
            return done({refuse(Kind::Forbidden,
                                "a desk user undoes changes of their own, by their ids, within " +
                                    std::to_string(kOwnUndoSeconds) + " s",
                                "ids", "not-own-change"),
                         {}, {}});
        const QDateTime now = m_clock->now();
        const std::deque<JournalEntry> &entries = m_journal.history(room.name);
        for (const std::uint64_t id : request.ids) {
            const auto entry = std::find_if(entries.begin(), entries.end(),
                                            [id](const JournalEntry &e) { return e.id == id; });
            const std::string field = "ids";
            if (entry == entries.end())
                return done({refuse(Kind::NotFound, "no change " + std::to_string(id) + " in room '" +
                                                        room.name + "'",
                                    field),
                             {}, {}});
            const QDateTime made = QDateTime::fromString(QString::fromStdString(entry->time),
                                                         Qt::ISODateWithMs);
            const bool later = std::any_of(entry + 1, entries.end(), [&](const JournalEntry &e) {
                return e.address == entry->address && !request.ids.count(e.id);
            });
            if (entry->user != actor.user || (entry->through != "api" && entry->through != "web"))
                return done({refuse(Kind::Forbidden,
                                    "change " + std::to_string(id) + " is not this user's own",
                                    field, "not-own-change"),
                             {}, {}});
            if (!made.isValid() || made.secsTo(now) > kOwnUndoSeconds || later || entry->undone)
                return done({refuse(Kind::Conflict,
                                    "change " + std::to_string(id) +
                                        (later || entry->undone
                                             ? " was changed again since; a technician can undo it"
                                             : " is older than " + std::to_string(kOwnUndoSeconds) +
                                                   " s; a technician can undo it"),
                                    field, "too-late-to-undo"),
                             {}, {}});
        }
    }
    // The latest changes that are not undone and are no undo themselves, newest first; each
    // register goes back to its value before the oldest of them.
    const std::deque<JournalEntry> &entries = m_journal.history(room.name);
    std::map<std::uint8_t, std::uint8_t> writes;
    std::map<std::uint8_t, std::vector<std::uint64_t>> byRegister;
    std::vector<std::uint64_t> undone;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->undone || !it->undoes.empty()) continue;
        if (!request.ids.empty()) {
            if (!request.ids.count(it->id)) continue;
        } else if (request.since.empty() ? undone.size() == request.count : it->time <= request.since) {
            break;
        }
        writes[it->address] = it->before;
        byRegister[it->address].push_back(it->id);
        undone.push_back(it->id);
    }
    if (writes.empty())
        return done({refuse(Refusal::Kind::Conflict, "nothing to undo in room '" + room.name + "'",
                            {}, "nothing-to-undo"),
                     {}, {}});
    if (limitedRole(actor.role)) {
        // What was before a slip is held by the limits in force now, as any change of the role.
        for (auto &[address, value] : writes)
            value = boundsNow(actor.role, room.name, address).clamp(value);
    }
    for (const auto &[address, value] : writes) m_undoing[{&room, address}] = {value, byRegister[address]};
    startWrites(room, writes, actor.who(),
                [done = std::move(done), undone](Refusal refusal, const Confirmed &got) {
                    done({std::move(refusal), undone, got});
                });
}

Refusal VenueService::loadPreset(const std::string &name, ParameterModel &model) const
{
    std::string error;
    bool missing = false;
    if (!m_presets.load(name, model, error, &missing))
        return missing ? refuse(Refusal::Kind::NotFound, error, "preset", "no-such-preset")
                       : refuse(Refusal::Kind::Failed, error, "preset");
    return {};
}

Refusal VenueService::roomAsPreset(const std::string &name, ParameterModel &model) const
{
    HeldRoom *room = m_venue.find(name);
    if (!room)
        return refuse(Refusal::Kind::NotFound, "no room '" + name + "' in this venue", "fromRoom",
                      "no-such-room");
    if (!room->holder->mirrored())
        return refuse(Refusal::Kind::Offline, "room '" + room->name + "' has not been read yet",
                      "fromRoom", "room-not-read");
    model.startAfresh();
    model.image = room->holder->mirror();
    model.modeSlots = room->modes.modeSlots;
    return {};
}

Refusal VenueService::storePreset(const std::string &name, const ParameterModel &model)
{
    // Nothing is kept that a recall would send and no control of the panel could make.
    if (const auto unshown = firstUnshownValue(model))
        return refuse(Refusal::Kind::Invalid, unshown->detail, unshown->field);
    std::string error;
    switch (m_presets.store(name, model, error)) {
    case Presets::Stored::Yes: return {};
    case Presets::Stored::LookAlike:
        return refuse(Refusal::Kind::Conflict, error, "preset", "preset-name-taken");
    case Presets::Stored::BadName: return refuse(Refusal::Kind::BadInput, error, "preset");
    case Presets::Stored::TooMany: return refuse(Refusal::Kind::Conflict, error, "preset");
    case Presets::Stored::Failed: break;
    }
    return refuse(Refusal::Kind::Failed, error, "preset");
}

Refusal VenueService::removePreset(const std::string &name)
{
    std::string error;
    if (!m_presets.remove(name, error)) return refuse(Refusal::Kind::NotFound, error, "preset");
    return {};
}

Refusal VenueService::recallable(const std::string &name, ParameterModel &model) const
{
    if (Refusal refusal = loadPreset(name, model)) return refusal;
    if (const auto unshown = firstUnshownValue(model))
        return refuse(Refusal::Kind::Invalid,
                      "preset '" + name + "': " + unshown->detail +
                          "; nothing was recalled (store it again)",
                      unshown->field);
    return {};
}

void VenueService::recall(const std::string &name, const ParameterModel &model,
                          const std::vector<HeldRoom *> &rooms, const Actor &actor,
                          std::function<void(std::vector<RoomRecall>)> done)
{
    const auto refusalOf = [&](const HeldRoom &room) -> Refusal {
        if (actor.role <= Role::Viewer)
            return refuse(Refusal::Kind::Forbidden, "a viewer changes nothing", "role");
        if (!reaches(actor, room)) return notYours(room);
        return {};
    };
    if (std::any_of(rooms.begin(), rooms.end(), [&](HeldRoom *room) { return bool(refusalOf(*room)); })) {
        std::vector<RoomRecall> results;
        for (HeldRoom *room : rooms) {
            RoomRecall refused;
            refused.room = room->name;
            refused.result = RoomRecall::Result::Failed;
            refused.failure = refusalOf(*room);
            if (!refused.failure)
                refused.failure = refuse(Refusal::Kind::Forbidden,
                                         "nothing was recalled: the recall names a room that is "
                                         "not this user's",
                                         "rooms");
            results.push_back(std::move(refused));
        }
        return done(std::move(results));
    }
    struct Results {
        std::vector<RoomRecall> rooms;
        std::size_t left = 0;
        std::function<void(std::vector<RoomRecall>)> done;
    };
    auto results = std::make_shared<Results>();
    results->rooms.resize(rooms.size());
    results->left = rooms.size();
    results->done = std::move(done);
    if (rooms.empty()) return results->done({});
    const std::string who = actor.who();
    for (std::size_t i = 0; i < rooms.size(); ++i) {
        HeldRoom &room = *rooms[i];
        // A limited role's recall is held within its limits, in each room by that room's.
        ParameterModel held = model;
        std::vector<LimitHit> hits;
        if (limitedRole(actor.role) && room.holder->mirrored())
            for (const RegisterRow &row : registerMap()) {
                const Bounds bounds = boundsNow(actor.role, room.name, row.address);
                const std::uint8_t value = bounds.clamp(held.image[row.address]);
                if (value == held.image[row.address]) continue;
                applyEdit(held, row.address, value);
                hits.push_back({row.address, value,
                                bounds.upper == value ? *bounds.upperBy : *bounds.lowerBy});
            }
        room.limited += hits.size();
        std::map<std::uint8_t, std::uint8_t> writes;
        if (room.holder->mirrored())
            for (const std::uint8_t address : differingRegisters(room.holder->mirror(), held.image))
                writes[address] = held.image[address];
        const RegisterImage wanted = held.image;
        // The preset's mode memories come with it, as opening the file in the panel brings them.
        takeModes(room, held);
        startWrites(room, writes, who,
                    [this, results, i, name, wanted, hits, held = &room](Refusal refusal, const Confirmed &) {
                        RoomRecall &result = results->rooms[i];
                        result.room = held->name;
                        result.limited = hits;
                        if (refusal) {
                            result.result = RoomRecall::Result::Failed;
                            if (held->holder->state() == RoomHolder::State::Offline)
                                result.reasonCode = outcomeCode(held->holder->reasonOutcome());
                            result.failure = std::move(refusal);
                        } else {
                            result.wanted = wanted;
                            result.found = held->holder->mirror();
                            result.differs = differingRegisters(result.found, wanted);
                            result.result = result.differs.empty() ? RoomRecall::Result::Ok
                                                                   : RoomRecall::Result::Differs;
                        }
                        emit recalled(name, result);
                        if (--results->left) return;
                        results->done(std::move(results->rooms));
                    });
    }
}

Refusal VenueService::compare(const std::string &name, std::vector<RoomComparison> &rooms,
                              ParameterModel *preset)
{
    ParameterModel loaded;
    ParameterModel &model = preset ? *preset : loaded;
    if (Refusal refusal = loadPreset(name, model)) return refusal;
    rooms.clear();
    for (const HeldRoom &room : m_venue.rooms()) {
        RoomComparison comparison{&room, std::nullopt};
        if (room.holder->mirrored()) comparison.differs = differingRegisters(room.holder->mirror(), model.image);
        rooms.push_back(std::move(comparison));
    }
    return {};
}

std::vector<const JournalEntry *> VenueService::history(const HeldRoom &room, std::size_t limit) const
{
    const std::deque<JournalEntry> &entries = m_journal.history(room.name);
    std::vector<const JournalEntry *> out;
    for (auto it = entries.rbegin(); it != entries.rend() && out.size() < limit; ++it) out.push_back(&*it);
    return out;
}

std::vector<BarEnds> VenueService::deskEnds(const HeldRoom &room) const
{
    // Where a desk register's − or + would change nothing, by the panel's rules (a volume at
    // its maximum bar, a bar at its end).
    std::vector<BarEnds> out;
    if (!room.holder->mirrored()) return out;
    for (const std::uint8_t address : m_deskRegisters) {
        const RegisterRow &row = *findRegister(address);
        if (controlKind(row) != ControlKind::TrackBar) continue;
        BarEnds ends{address, false, false};
        for (const int step : {1, -1}) {
            ParameterModel work = room.modes;
            work.image = room.holder->mirror();
            const auto stepped = steppedValue(row, work.image[address], step);
            if (stepped) applyEdit(work, address, *stepped);
            if (!stepped || work.image[address] == room.holder->mirror()[address])
                (step > 0 ? ends.top : ends.bottom) = true;
        }
        if (ends.top || ends.bottom) out.push_back(ends);
    }
    return out;
}

std::vector<BarEnds> VenueService::limitEnds(const HeldRoom &room, Role role) const
{
    std::vector<BarEnds> out;
    if (!room.holder->mirrored() || !limitedRole(role) || m_limits.limits.empty()) return out;
    // The bars that some limit of the role names, each once, in the map's order.
    std::set<std::uint8_t> named;
    for (const Limit &limit : m_limits.limits)
        if (limit.role == role && limit.rooms.contains(room.name)) named.insert(limit.address);
    if (named.empty()) return out;
    const int minute = minuteNow();
    for (const std::uint8_t address : named) {
        const Bounds bounds = boundsOf(m_limits, role, room.name, address, minute);
        if (!bounds) continue;
        const RegisterRow &row = *findRegister(address);
        const auto number = [&](std::uint8_t value) {
            return numberShown(shownValue(row, value)).value_or(0);
        };
        const double here = number(room.holder->mirror()[address]);
        BarEnds ends{address, bounds.upper && here >= number(*bounds.upper),
                     bounds.lower && here <= number(*bounds.lower)};
        if (ends.top || ends.bottom) out.push_back(ends);
    }
    return out;
}

void VenueService::startWrites(HeldRoom &room, const std::map<std::uint8_t, std::uint8_t> &writes,
                               const std::string &who, Done done)
{
    using Kind = Refusal::Kind;
    // Refused while the room is not there: a change made now would go out at some later time
    // nobody chose.
    if (room.holder->state() != RoomHolder::State::Online)
        return done(refuse(Kind::Offline,
                           "room '" + room.name + "' is " + stateName(room.holder->state()) +
                               (room.holder->reason().empty() ? "" : ": " + room.holder->reason()) +
                               "; nothing was changed",
                           "room", "room-offline"),
                    {});
    if (m_waiting.size() >= kMaxWaitingRequests)
        return done(refuse(Kind::Busy, "too many changes wait for their rooms; nothing was changed",
                           "room", "queue-full"),
                    {});
    if (writes.empty()) return done({}, {});
    auto waiting = std::make_shared<Waiting>();
    waiting->room = &room;
    waiting->done = std::move(done);
    for (const auto &[address, value] : writes) waiting->addresses.insert(address);
    waiting->timer = std::make_unique<QTimer>();
    waiting->timer->setSingleShot(true);
    QObject::connect(waiting->timer.get(), &QTimer::timeout, this, [this, raw = waiting.get()] {
        const auto it = std::find_if(m_waiting.begin(), m_waiting.end(),
                                     [raw](const auto &w) { return w.get() == raw; });
        if (it == m_waiting.end()) return;
        const auto held = *it;
        m_waiting.erase(it);
        held->done(refuse(Kind::NotConfirmed,
                          "the processor has not confirmed in " +
                              std::to_string(kConfirmTimeoutMs / 1000) +
                              " s; what it has not confirmed stays queued and goes out when the "
                              "room can take it",
                          {}, "not-confirmed"),
                   held->got);
    });
    waiting->timer->start(kConfirmTimeoutMs);
    m_waiting.push_back(waiting);
    for (const auto &[address, value] : writes) room.holder->write(address, value, who);
}

void VenueService::confirmed(HeldRoom &room, const RegisterChange &change)
{
    // What was confirmed of ours is known; a change found at the unit is not, until the whole
    // read is over (a unit that lost its settings is told by comparing with what it held).
    if (room.known && change.who != kUnitWho) {
        (*room.known)[change.address] = change.after;
        m_knownChanged.insert(&room);
    }
    const JournalEntry *entry = nullptr;
    if (change.address != kLockAddress && change.before != change.after &&
        findRegister(change.address)) {
        const auto [through, user] = splitWho(change.who);
        JournalEntry line{0, {}, room.name, change.address, change.before, change.after,
                          user, through, {}};
        const auto undoing = m_undoing.find({&room, change.address});
        if (undoing != m_undoing.end()) {
            if (undoing->second.value == change.after) line.undoes = undoing->second.ids;
            m_undoing.erase(undoing);
        }
        entry = &m_journal.append(std::move(line));
    }
    if (entry || change.address == kLockAddress) emit changed(room, change, entry);
    // Found changed at the unit: it confirms nothing that was asked.
    if (change.who == kUnitWho) return;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        Waiting &waiting = **it;
        if (waiting.room != &room || !waiting.addresses.erase(change.address)) {
            ++it;
            continue;
        }
        waiting.got.values[change.address] = change.after;
        if (entry) waiting.got.ids.push_back(entry->id);
        if (!waiting.addresses.empty()) {
            ++it;
            continue;
        }
        const auto held = *it;
        it = m_waiting.erase(it);
        held->done({}, held->got);
    }
}

void VenueService::roomState(HeldRoom &room)
{
    emit stateChanged(room);
    if (room.holder->state() != RoomHolder::State::Offline) return;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if ((*it)->room != &room) {
            ++it;
            continue;
        }
        const auto held = *it;
        it = m_waiting.erase(it);
        held->done(refuse(Refusal::Kind::Offline,
                          "room '" + room.name + "' went offline (" + room.holder->reason() +
                              "); what it had not confirmed stays queued for its return",
                          "room", "room-offline"),
                   held->got);
    }
}

void VenueService::takeModes(HeldRoom &room, const ParameterModel &model)
{
    if (room.holder->state() != RoomHolder::State::Online || room.modes.modeSlots == model.modeSlots)
        return;
    room.modes.modeSlots = model.modeSlots;
    modesChanged(room);
}

void VenueService::setClock(const Clock &clock)
{
    m_clock = &clock;
    m_journal.setClock(&clock);
    m_minute = minuteOf(clock.now());
}

int VenueService::minuteNow() const
{
    return m_minute;
}

int VenueService::minuteOf(const QDateTime &now) const
{
    const QTime time = now.toTimeZone(m_clock->zone()).time();
    return time.hour() * 60 + time.minute();
}

bool VenueService::reaches(const Actor &actor, const HeldRoom &room)
{
    return actor.role == Role::Technician || actor.rooms.contains(room.name);
}

Bounds VenueService::boundsNow(Role role, const std::string &room, std::uint8_t address) const
{
    if (!limitedRole(role)) return {};
    return boundsOf(m_limits, role, room, address, minuteNow());
}

std::vector<LimitHit> VenueService::keepWithinLimits(const HeldRoom &room, Role role,
                                                     ParameterModel &work) const
{
    std::vector<LimitHit> hits;
    if (!limitedRole(role) || m_limits.limits.empty()) return hits;
    const int minute = minuteNow();
    for (const std::uint8_t address : differingRegisters(work.image, room.holder->mirror())) {
        const Bounds bounds = boundsOf(m_limits, role, room.name, address, minute);
        const std::uint8_t value = bounds.clamp(work.image[address]);
        if (value == work.image[address]) continue;
        applyEdit(work, address, value);
        hits.push_back({address, value, bounds.upper == value ? *bounds.upperBy : *bounds.lowerBy});
    }
    return hits;
}

bool VenueService::loadLimits(const std::string &path, std::string &error)
{
    m_limitsPath = path;
    std::string text;
    switch (readTextFile(path, kMaxLimitsFileBytes, text, error)) {
    case TextFileStatus::Missing: m_limits = {}; break;
    case TextFileStatus::Failed: return false;
    case TextFileStatus::Read:
        if (!parseLimits(text, path, m_limits, error)) return false;
    }
    lookAtClock();
    return true;
}

bool VenueService::storeLimits(const LimitList &list, std::string &error)
{
    if (!m_limitsPath.empty()) {
        const std::string text = limitsJson(list) + "\n";
        if (!writeFileSafely(m_limitsPath, text.data(), text.size(), error)) return false;
    }
    m_limits = list;
    lookAtClock();
    emit limitsChanged();
    return true;
}

Refusal VenueService::putLimits(const std::string &text)
{
    LimitList list;
    std::string error;
    if (!parseLimits(text, "limits", list, error))
        return refuse(Refusal::Kind::Invalid, error, "body");
    if (!storeLimits(list, error)) return refuse(Refusal::Kind::Failed, error, "limits");
    return {};
}

bool VenueService::switchLimitSets(const std::set<std::string> &on, const std::set<std::string> &off,
                                   std::string &error)
{
    LimitList list = m_limits;
    for (const std::string &set : on) list.off.erase(set);
    for (const std::string &set : off) list.off.insert(set);
    if (list.off == m_limits.off) return true;
    return storeLimits(list, error);
}

void VenueService::lookAtClock()
{
    const QDateTime now = m_clock->now();
    const int minute = m_minute = minuteOf(now);
    std::set<std::string> inForce, begun;
    for (const Limit &limit : m_limits.limits) {
        if (!limit.comesAndGoes() || !m_limits.inForce(limit, minute)) continue;
        const std::string key = keyOf(limit);
        inForce.insert(key);
        if (!m_inForce.count(key)) begun.insert(key);
    }
    const bool changed = inForce != m_inForce;
    m_inForce = std::move(inForce);
    if (!begun.empty())
        for (HeldRoom &room : m_venue.rooms()) bringWithinLimits(room, begun);
    if (changed) emit limitsChanged();
    if (!m_knownChanged.empty() && m_steady.elapsed() - m_knownSavedAt >= kKnownSaveSeconds * 1000)
        saveKnown();
    emit clockLooked(now);
}

void VenueService::bringWithinLimits(HeldRoom &room, const std::set<std::string> &begun)
{
    if (room.holder->state() != RoomHolder::State::Online || !room.holder->mirrored()) {
        m_limitsMissed[&room].insert(begun.begin(), begun.end());
        return;
    }
    ParameterModel work = room.modes;
    work.image = room.holder->mirror();
    for (const Limit &limit : m_limits.limits) {
        const std::string key = keyOf(limit);
        if (!begun.count(key) || !m_inForce.count(key) || !limit.rooms.contains(room.name)) continue;
        Bounds bounds;
        bounds.upper = limit.upper;
        bounds.lower = limit.lower;
        bounds.upperBy = bounds.lowerBy = &limit;
        const std::uint8_t value = bounds.clamp(work.image[limit.address]);
        if (value != work.image[limit.address]) applyEdit(work, limit.address, value);
    }
    std::map<std::uint8_t, std::uint8_t> writes;
    for (const std::uint8_t address : differingRegisters(work.image, room.holder->mirror()))
        writes[address] = work.image[address];
    room.limited += writes.size();
    if (!writes.empty())
        startWrites(room, writes, whoOf("limit", "schedule"), [](Refusal, const Confirmed &) {});
}

namespace {

bool holdsFactorySettings(const RegisterImage &image)
{
    static const RegisterImage factory = [] {
        ParameterModel model;
        model.loadFactoryValues();
        return model.image;
    }();
    return differingRegisters(image, factory).empty();
}

} // namespace

void VenueService::lookForLoss(HeldRoom &room)
{
    const RegisterImage &now = room.holder->mirror();
    const bool lost = room.known && holdsFactorySettings(now) && !holdsFactorySettings(*room.known) &&
                      room.settingsLost.empty();
    if (lost) {
        room.settingsLost = m_clock->nowText();
        room.lostSettings = *room.known;
        std::printf("%s: settings lost (the unit holds the factory's)\n", room.name.c_str());
        std::fflush(stdout);
        if (m_lost) {
            ParameterModel kept = room.modes;
            kept.image = room.lostSettings;
            std::string error;
            if (m_lost->store(room.name, kept, error) != Presets::Stored::Yes)
                std::fprintf(stderr, "%s: the settings before their loss not kept: %s\n", room.name.c_str(),
                             error.c_str());
        }
        emit settingsLostChanged(room);
    }
    // What it holds now is what is known; the settings before a loss stay with the mark.
    if (room.known != now) m_knownChanged.insert(&room);
    room.known = now;
    if (lost && m_restore == RestoreMode::Auto)
        restoreLost(room, Actor{"restore", Role::Technician, "restore", {}, {}}, [](ChangeResult) {});
}

void VenueService::keepLostSettings(const std::string &folder, RestoreMode mode)
{
    m_lost = std::make_unique<Presets>(folder);
    m_restore = mode;
}

void VenueService::restoreLost(HeldRoom &room, const Actor &actor, std::function<void(ChangeResult)> done)
{
    using Kind = Refusal::Kind;
    if (actor.role != Role::Technician)
        return done({refuse(Kind::Forbidden, "restoring a room's settings is a technician's", "role"), {}, {}, {}});
    if (room.settingsLost.empty())
        return done({refuse(Kind::Conflict, "room '" + room.name + "' has not lost its settings", "room",
                            "settings-not-lost"),
                     {}, {}, {}});
    std::map<std::uint8_t, std::uint8_t> writes;
    for (const std::uint8_t address : differingRegisters(room.holder->mirror(), room.lostSettings))
        writes[address] = room.lostSettings[address];
    startWrites(room, writes, actor.who(), [this, &room, done = std::move(done)](Refusal refusal, const Confirmed &got) {
        if (!refusal && !room.settingsLost.empty()) {
            room.settingsLost.clear();
            m_knownChanged.insert(&room);
            emit settingsLostChanged(room);
        }
        done({std::move(refusal), got, {}, {}});
    });
}

Refusal VenueService::acceptFactory(HeldRoom &room, const Actor &actor)
{
    if (actor.role != Role::Technician)
        return refuse(Refusal::Kind::Forbidden, "a technician says what a room is to hold", "role");
    if (room.settingsLost.empty())
        return refuse(Refusal::Kind::Conflict, "room '" + room.name + "' has not lost its settings", "room",
                      "settings-not-lost");
    room.settingsLost.clear();
    m_knownChanged.insert(&room);
    emit settingsLostChanged(room);
    return {};
}

void VenueService::keepKnownSettings(const std::string &folder)
{
    m_known = std::make_unique<Presets>(folder);
    for (HeldRoom &room : m_venue.rooms()) {
        ParameterModel kept;
        std::string error;
        bool missing = false;
        if (m_known->load(room.name, kept, error, &missing))
            room.known = kept.image;
        else if (!missing)
            std::fprintf(stderr, "%s: what it held before the start is not known: %s\n", room.name.c_str(),
                         error.c_str());
    }
    m_knownSavedAt = m_steady.elapsed();
}

void VenueService::saveKnown()
{
    if (!m_known) return m_knownChanged.clear();
    for (HeldRoom *room : m_knownChanged) {
        if (!room->known) continue;
        // While the mark stands, what it held before the loss is what it is to hold: a start
        // before the restore finds the loss again.
        ParameterModel kept;
        kept.loadFactoryValues();
        kept.image = room->settingsLost.empty() ? *room->known : room->lostSettings;
        std::string error;
        if (m_known->store(room->name, kept, error) != Presets::Stored::Yes)
            std::fprintf(stderr, "%s: what it holds not kept: %s\n", room->name.c_str(), error.c_str());
    }
    m_knownChanged.clear();
    m_knownSavedAt = m_steady.elapsed();
}

void VenueService::keepModeMemories(const std::string &folder)
{
    m_modes = std::make_unique<Presets>(folder);
    for (HeldRoom &room : m_venue.rooms()) {
        ParameterModel kept;
        std::string error;
        bool missing = false;
        if (m_modes->load(room.name, kept, error, &missing)) {
            // Only the slots are kept from the file: they alone are checked.
            ParameterModel memories;
            memories.startAfresh();
            memories.loadFactoryValues();
            memories.modeSlots = kept.modeSlots;
            if (const auto unshown = firstUnshownValue(memories))
                std::fprintf(stderr, "%s: mode memories from the factory: %s\n", room.name.c_str(),
                             unshown->detail.c_str());
            else
                room.modes.modeSlots = kept.modeSlots;
        } else if (!missing) {
            std::fprintf(stderr, "%s: mode memories from the factory: %s\n", room.name.c_str(),
                         error.c_str());
        }
    }
}

void VenueService::modesChanged(HeldRoom &room)
{
    if (!m_modes) return;
    ParameterModel kept = room.modes;
    kept.image = room.holder->mirror();
    std::string error;
    if (m_modes->store(room.name, kept, error) != Presets::Stored::Yes)
        std::fprintf(stderr, "%s: mode memories not kept: %s\n", room.name.c_str(), error.c_str());
}

} // namespace zev
