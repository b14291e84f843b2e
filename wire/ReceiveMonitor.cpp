#include "wire/ReceiveMonitor.h"

#include "model/Shown.h"

namespace zev {

void ReceiveMonitor::run(SerialChannel &channel, ParameterModel &model, MonitorHost &host)
{
    std::uint8_t address = 0;
    std::uint8_t value = 0;
    const bool arrived = channel.PollFrames(address, value);
    const auto stored = static_cast<std::uint8_t>(value - 1); // replies carry the value plus one
    // Only the latest reply counts, and only for the register that was sent last; our own
    // frame echoed back by the line (a two-wire adapter, a loopback plug) is no reply.
    if (arrived && address == cursor && value != lastValueSent) {
        std::uint8_t &entry = model.pending[address];
        const RegisterRow *row = findRegister(address);
        if (isPendingRead(entry) && row && !controlShows(*row, stored)) {
            // A value that no control shows is a wrong answer: the register is asked again.
        } else if (isPendingRead(entry)) {
            model.image[address] = stored;
            host.registerRead(address);
            entry = kPendingNone; // after the refresh, which may have marked it in real time
        } else if (entry != kPendingNone && stored == lastValueSent) {
            // Edited again since the frame left: the entry stays and the new value goes now.
            if (model.image[address] == lastValueSent) entry = kPendingNone;
        }
        if (address == kLockAddress) host.lockConfirmed();
    }

    for (int looked = 0; looked < kAddressesPerTick; ++looked) {
        const std::uint8_t entry = model.pending[cursor];
        if (entry != kPendingNone) {
            lastValueSent = isPendingRead(entry) ? kReadRequest : model.image[cursor];
            channel.WriteFrame(cursor, lastValueSent);
            return;
        }
        ++cursor; // wraps from 255 to 0
    }
}

} // namespace zev
