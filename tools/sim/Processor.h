// The processor's reply rules, as the panel relies on them. Usable in-process by tests.
//
//   a setting write (a, v)          stores v, replies (a, v + 1)
//   a read request (a, 252)         replies (a, stored + 1)
//   connect, disconnect, lock       (6, 102), (7, 102), (3, 102) reply (a, 103)
//   the lock's state                register 3 holds 102 from the lock command until a
//                                   setting is written (the panel's rule: a change unlocks)
//   a write to a mangled register   stores v + 1, replies (a, v + 2)
#pragma once

#include "model/ParameterModel.h"

#include <cstdint>
#include <optional>

namespace zev::sim {

struct Reply {
    std::uint8_t address;
    std::uint8_t value;
};

class Processor {
public:
    /// Starts from the factory image.
    Processor();

    /// The reply to one received frame.
    std::optional<Reply> receive(std::uint8_t address, std::uint8_t value);
    /// A register changed at the unit itself (its front panel, its remote): no frame, no reply.
    void setAtUnit(std::uint8_t address, std::uint8_t value);
    /// Everything forgotten, as a unit that lost its memory: the factory image, not locked.
    void forget();

    RegisterImage registers{};
    bool connected = false;
    bool locked = false;
    /// A faulty register: a write to it stores the value plus one, and the reply says so.
    std::optional<std::uint8_t> mangled;
};

} // namespace zev::sim
