// The rooms the venue server holds: each room's processor on the room engine, and what the
// server knows beyond the registers (the lock state, the mode memories, the write latencies).
#pragma once

#include "files/VenueFile.h"
#include "model/ParameterModel.h"
#include "room/RoomHolder.h"

#include <QObject>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zev {

/// Upper bounds of the write latency histogram, in seconds (Prometheus' "le").
constexpr std::array<double, 9> kLatencyBuckets{0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 10};

struct HeldRoom {
    std::string name;
    std::string line;
    std::unique_ptr<RoomHolder> holder;
    /// The processor's data locked since the last change (none: not known since the start).
    std::optional<bool> locked;
    /// The room's mode memories (modeSlots; the image is unused): what each EQ mode and DSP
    /// mode K1 to K4 brings back when chosen, from the factory's until a preset is recalled.
    ParameterModel modes;
    std::array<std::uint64_t, kLatencyBuckets.size()> latency{}; ///< writes at or under each
    std::uint64_t writes = 0;
    double latencySum = 0;
    std::uint64_t limited = 0; ///< registers a limit held (a change, a recall, a limit begun)
    /// The registers as last known to hold (read or confirmed), to tell a unit that lost them.
    std::optional<RegisterImage> known;
    /// Since when (UTC, ISO 8601) the unit is found to have lost its settings: read back as the
    /// factory's while it held others; none while not.
    std::string settingsLost;
    RegisterImage lostSettings{}; ///< what it held before
};

const char *stateName(RoomHolder::State state);

/// A write's origin as RegisterChange::who carries it: "api:alice", "frame port:127.0.0.1:50312".
std::string whoOf(const std::string &through, const std::string &user);
/// The two parts back: through ("api", "web", "frame port") and user (or address).
std::pair<std::string, std::string> splitWho(const std::string &who);

class Venue : public QObject {
    Q_OBJECT
public:
    Venue(const std::vector<VenueRoom> &rooms, HoldTiming timing = {}, QObject *parent = nullptr);
    std::vector<HeldRoom> &rooms() { return m_rooms; }
    HeldRoom *find(const std::string &name);
    void start();
    /// Every processor released, then `done`.
    void stop(std::function<void()> done);

signals:
    void stateChanged(zev::HeldRoom &room);
    void changed(zev::HeldRoom &room, const zev::RegisterChange &change);
    void mirrorRead(zev::HeldRoom &room);
    /// Read whole again while online.
    void verified(zev::HeldRoom &room);

private:
    std::vector<HeldRoom> m_rooms;
};

} // namespace zev
