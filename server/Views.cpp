#include "server/Views.h"

#include "files/ParameterJson.h"
#include "model/Shown.h"
#include "room/Difference.h"
#include "server/Codes.h"
#include "server/FramePort.h"

#include <QDateTime>

namespace zev {

std::string nowText()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
}

int statusOf(const Refusal &refusal)
{
    switch (refusal.kind) {
    case Refusal::Kind::None: return 200;
    case Refusal::Kind::Invalid: return 422;
    case Refusal::Kind::BadInput: return 400;
    case Refusal::Kind::Forbidden: return 403;
    case Refusal::Kind::NotFound: return 404;
    case Refusal::Kind::Conflict: return 409;
    case Refusal::Kind::Offline:
    case Refusal::Kind::Busy: return 503;
    case Refusal::Kind::NotConfirmed: return 504;
    case Refusal::Kind::Failed: break;
    }
    return 500;
}

const char *codeOf(const Refusal &refusal)
{
    return refusal.code ? refusal.code : codeOfStatus(statusOf(refusal));
}

std::string offlineCode(const HeldRoom &room)
{
    if (room.holder->state() != RoomHolder::State::Offline) return {};
    return outcomeCode(room.holder->reasonOutcome());
}

namespace {

void writeEndsObject(JsonWriter &out, const std::vector<BarEnds> &list)
{
    out.object();
    for (const BarEnds &ends : list) {
        out.key(machineName(*findRegister(ends.address))).array();
        if (ends.top) out.string("top");
        if (ends.bottom) out.string("bottom");
        out.end();
    }
    out.end();
}

} // namespace

void writeEnds(JsonWriter &out, const ViewContext &context, const HeldRoom &room)
{
    if (!room.holder->mirrored()) return;
    out.key("ends");
    writeEndsObject(out, context.service.deskEnds(room));
    // Where a limited role's step would be held by a limit now.
    if (context.service.limits().limits.empty()) return;
    out.key("limitEnds").object();
    for (const Role role : {Role::Desk, Role::Guest}) {
        out.key(roleName(role));
        writeEndsObject(out, context.service.limitEnds(room, role));
    }
    out.end();
}

void writeLimitHits(JsonWriter &out, const std::vector<LimitHit> &hits)
{
    out.array();
    for (const LimitHit &hit : hits) {
        const RegisterRow &row = *findRegister(hit.address);
        out.object().field("name", machineName(row)).field("title", nameForPeople(hit.address))
            .field("limited", shownValue(row, hit.bound))
            .field("bound", hit.limit.upper == hit.bound ? "max" : "min")
            .field("role", roleName(hit.limit.role));
        if (hit.limit.hours) out.field("hours", hit.limit.hours->text());
        if (!hit.limit.set.empty()) out.field("set", hit.limit.set);
        out.end();
    }
    out.end();
}

void writeRoom(JsonWriter &out, const ViewContext &context, const HeldRoom &room, bool allRegisters,
               const std::vector<std::uint8_t> *only)
{
    const RoomHolder &holder = *room.holder;
    out.object().field("name", room.name).field("state", stateName(holder.state()));
    if (holder.state() == RoomHolder::State::Offline)
        out.field("reason", holder.reason()).field("reasonCode", offlineCode(room));
    if (holder.state() == RoomHolder::State::Connecting && holder.readTotal() > 0)
        out.key("progress").object().field("done", holder.readDone()).field("of", holder.readTotal()).end();
    out.key("locked");
    if (room.locked)
        out.boolean(*room.locked);
    else
        out.null();
    out.field("pending", holder.pendingWrites());
    if (const FramePort *port = context.framePort ? context.framePort(room) : nullptr)
        out.field("framePort", port->port());
    if (!only && context.links) out.field("links", context.links(room));
    if (!room.settingsLost.empty()) out.field("settingsLost", room.settingsLost);
    writeEnds(out, context, room);
    out.key("registers").array();
    if (holder.mirrored())
        for (const RegisterRow &row : registerMap())
            if (only ? std::find(only->begin(), only->end(), row.address) != only->end()
                     : allRegisters || context.service.isDeskRegister(row.address))
                out.raw(registerToJson(row, holder.mirror()[row.address]));
    out.end().end();
}

std::string changeEvent(const ViewContext &context, const HeldRoom &room,
                        const RegisterChange &change, const JournalEntry *entry)
{
    const auto [through, user] = splitWho(change.who);
    JsonWriter out;
    out.object().field("type", "change").field("room", room.name);
    if (change.address == kLockAddress) {
        out.flag("locked", true);
    } else if (const RegisterRow *row = findRegister(change.address)) {
        out.key("register").raw(registerToJson(*row, change.after));
        out.field("before", change.before)
            .field("beforeShown", shownValue(*row, change.before))
            .flag("locked", false);
        if (entry) {
            out.field("id", entry->id);
            if (!entry->undoes.empty()) {
                out.key("undoes").array();
                for (const std::uint64_t id : entry->undoes) out.number(static_cast<long long>(id));
                out.end();
            }
        }
    } else {
        out.field("address", change.address).field("value", change.after);
    }
    writeEnds(out, context, room);
    out.field("user", user).field("through", through).field("time", nowText());
    return out.end().take();
}

std::string stateEvent(const HeldRoom &room)
{
    JsonWriter out;
    out.object().field("type", "state").field("room", room.name).field("state", stateName(room.holder->state()));
    if (room.holder->state() == RoomHolder::State::Offline)
        out.field("reason", room.holder->reason()).field("reasonCode", offlineCode(room));
    out.field("time", nowText());
    return out.end().take();
}

void writeRecall(JsonWriter &out, const RoomRecall &result)
{
    out.object().field("room", result.room);
    switch (result.result) {
    case RoomRecall::Result::Failed:
        out.field("result", "failed").field("code", codeOf(result.failure));
        if (!result.reasonCode.empty()) out.field("reasonCode", result.reasonCode);
        out.field("detail", result.failure.detail);
        break;
    case RoomRecall::Result::Differs:
        out.field("result", "differs").key("differs").array();
        for (const std::uint8_t address : result.differs) out.string(machineName(*findRegister(address)));
        out.end().key("differences").array(); // a: the preset's, b: the room's
        for (const std::uint8_t address : result.differs)
            writeDifference(out, address, result.wanted[address], result.found[address]);
        out.end();
        break;
    case RoomRecall::Result::Ok: out.field("result", "ok"); break;
    }
    if (!result.limited.empty()) {
        out.key("limited");
        writeLimitHits(out, result.limited);
    }
    out.end();
}

void writeComparison(JsonWriter &out, std::uint8_t address, std::uint8_t preset, std::uint8_t here)
{
    const RegisterRow &row = *findRegister(address);
    out.object();
    writeDifferenceMembers(out, address, preset, here);
    out.field("shown", shownValue(row, here)).field("preset", shownValue(row, preset)).end();
}

void writeHistoryEntry(JsonWriter &out, const JournalEntry &entry)
{
    const RegisterRow &row = *findRegister(entry.address);
    out.object();
    writeJournalMembers(out, entry);
    out.field("title", nameForPeople(row.address))
        .field("beforeShown", shownValue(row, entry.before))
        .field("afterShown", shownValue(row, entry.after))
        .flag("undone", entry.undone)
        .end();
}

void writeRegisters(JsonWriter &out, const std::map<std::uint8_t, std::uint8_t> &values)
{
    out.array();
    for (const auto &[address, value] : values) out.raw(registerToJson(*findRegister(address), value));
    out.end();
}

} // namespace zev
