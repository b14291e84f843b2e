#include "service/Venue.h"

#include "model/RegisterMap.h"

namespace zev {

const char *stateName(RoomHolder::State state)
{
    switch (state) {
    case RoomHolder::State::Stopped: return "stopped";
    case RoomHolder::State::Connecting: return "connecting";
    case RoomHolder::State::Online: return "online";
    case RoomHolder::State::Offline: return "offline";
    }
    return "stopped";
}

std::string whoOf(const std::string &through, const std::string &user)
{
    return through + ":" + user;
}

std::pair<std::string, std::string> splitWho(const std::string &who)
{
    const std::size_t colon = who.find(':');
    if (colon == std::string::npos) return {who, {}};
    return {who.substr(0, colon), who.substr(colon + 1)};
}

Venue::Venue(const std::vector<VenueRoom> &rooms, HoldTiming timing, QObject *parent)
    : QObject(parent)
{
    m_rooms.reserve(rooms.size()); // the rooms' addresses are kept by the connections below
    for (const VenueRoom &room : rooms) {
        HeldRoom &held = m_rooms.emplace_back();
        held.name = room.name;
        held.line = room.line;
        held.holder = std::make_unique<RoomHolder>(room.line, LineOptions{}, systemSerialLibrary(), timing);
    }
    for (HeldRoom &room : m_rooms) room.modes.loadFactoryValues();
    for (HeldRoom &room : m_rooms) {
        HeldRoom *held = &room;
        QObject::connect(room.holder.get(), &RoomHolder::stateChanged, this,
                         [this, held] { emit stateChanged(*held); });
        QObject::connect(room.holder.get(), &RoomHolder::mirrorRead, this,
                         [this, held] { emit mirrorRead(*held); });
        QObject::connect(room.holder.get(), &RoomHolder::verified, this,
                         [this, held] { emit verified(*held); });
        QObject::connect(room.holder.get(), &RoomHolder::changed, this,
                         [this, held](const RegisterChange &change) {
                             if (change.address == kLockAddress)
                                 held->locked = true;
                             else if (change.before != change.after)
                                 held->locked = false;
                             ++held->writes;
                             held->latencySum += change.seconds;
                             for (std::size_t i = 0; i < kLatencyBuckets.size(); ++i)
                                 if (change.seconds <= kLatencyBuckets[i]) ++held->latency[i];
                             emit changed(*held, change);
                         });
    }
}

HeldRoom *Venue::find(const std::string &name)
{
    for (HeldRoom &room : m_rooms)
        if (room.name == name) return &room;
    return nullptr;
}

void Venue::start()
{
    for (HeldRoom &room : m_rooms) room.holder->start();
}

void Venue::stop(std::function<void()> done)
{
    auto left = std::make_shared<std::size_t>(m_rooms.size());
    auto finish = std::make_shared<std::function<void()>>(std::move(done));
    if (*left == 0) return (*finish)();
    for (HeldRoom &room : m_rooms)
        room.holder->stop([left, finish] {
            if (--*left == 0) (*finish)();
        });
}

} // namespace zev
