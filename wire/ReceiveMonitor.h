// The receive monitor: one run per tick of the poll timer while the link is connected.
//
// It takes in the processor's latest reply, retires the register that the reply confirms
// (never on its own frame echoed back, nor on a read answered with a value that no control of
// the register shows: that register is asked again), and sends the next pending register: at most one frame a tick, starting where the transfer
// cursor rests and looking at up to 128 addresses. A register is sent again on every tick
// until its reply arrives.
#pragma once

#include "model/ParameterModel.h"
#include "wire/Serialportuse.h"

#include <cstdint>

namespace zev {

/// What the monitor needs of the window it works for.
class MonitorHost {
public:
    virtual ~MonitorHost() = default;
    /// A value read back from the processor was stored at `address`: show it.
    virtual void registerRead(std::uint8_t address) = 0;
    /// The processor answered a frame for the lock address.
    virtual void lockConfirmed() = 0;
};

class ReceiveMonitor {
public:
    static constexpr int kAddressesPerTick = 128;

    /// One tick's work; the caller runs it only while the link is connected.
    void run(SerialChannel &channel, ParameterModel &model, MonitorHost &host);

    std::uint8_t cursor = 0;          ///< where the search resumes; rests on the address sent
    std::uint8_t lastValueSent = 252; ///< value of the monitor's last frame
};

} // namespace zev
