// The API's objects as JSON: one function for each, all on the one JSON writer, so that an
// object looks the same wherever it appears (an answer, an event, a list).
//
//   room        {"name", "state", "reason"+"reasonCode" (offline), "progress" (being read),
//                "locked", "pending", "framePort", "ends", "limitEnds" (by role: where a
//                limit in force holds a bar), "registers"}
//   change      {"type":"change", "room", "register" (or "locked":true for the lock),
//                "before", "beforeShown", "locked", "id", "undoes", "ends", "user", "through",
//                "time"}
//   state       {"type":"state", "room", "state", "reason"+"reasonCode" (offline), "time"}
//   recall      a room's result: {"room", "result": "ok" | "differs" (+ "differs": names)
//                | "failed" (+ "code", "reasonCode", "detail")}
//   comparison  a register difference (room/Difference's shape, "a" the preset, "b" the
//                room) with "shown" (the room's) and "preset" as people read them
//   history     a journal line with "title", "beforeShown", "afterShown", "undone"
#pragma once

#include "files/Json.h"
#include "service/VenueService.h"

#include <string>

namespace zev {

class FramePort;

/// The time now as the API gives times: UTC, ISO 8601 with milliseconds.
std::string nowText();

/// What the views need beyond the service: each room's frame port.
struct ViewContext {
    const VenueService &service;
    std::function<const FramePort *(const HeldRoom &)> framePort;
    /// The room's live links (a tablet's), for the staff.
    std::function<std::size_t(const HeldRoom &)> links;
};

/// `only`: these registers alone (a guest's), in place of all or the desk's.
void writeRoom(JsonWriter &out, const ViewContext &context, const HeldRoom &room, bool allRegisters,
               const std::vector<std::uint8_t> *only = nullptr);
void writeEnds(JsonWriter &out, const ViewContext &context, const HeldRoom &room);
std::string changeEvent(const ViewContext &context, const HeldRoom &room,
                        const RegisterChange &change, const JournalEntry *entry);
std::string stateEvent(const HeldRoom &room);
void writeRecall(JsonWriter &out, const RoomRecall &result);
/// The registers a limit held: [{"name", "title", "limited": "78dB", "bound": "max" | "min",
/// "role", "hours", "set"}].
void writeLimitHits(JsonWriter &out, const std::vector<LimitHit> &hits);
void writeComparison(JsonWriter &out, std::uint8_t address, std::uint8_t preset, std::uint8_t here);
void writeHistoryEntry(JsonWriter &out, const JournalEntry &entry);
/// The registers as the API gives them, each as the files write it.
void writeRegisters(JsonWriter &out, const std::map<std::uint8_t, std::uint8_t> &values);

/// The HTTP status of a refusal, and its problem code (its own, or its status's).
int statusOf(const Refusal &refusal);
const char *codeOf(const Refusal &refusal);

/// The problem code of an offline room's reason; nothing for another.
std::string offlineCode(const HeldRoom &room);

} // namespace zev
