// The serial layer that the programs use: each port number goes to the layer its line needs,
// and the outcome of each open is kept for people (PortInfo.h).
#include "link/NetworkLines.h"
#include "link/OpenReplies.h"
#include "link/PortInfo.h"
#include "wire/NetworkAddress.h"
#include "link/PortDevices.h"
#include "wire/SerialLibrary.h"

#include <map>

namespace zev {
namespace {

constexpr int kNotOpen = int(LineResult::NoSuchDevice);

class SystemLines final : public SerialLibrary {
public:
    void startOpen(int port, OpenDone done) override
    {
        if (m_owners.count(port)) {
            OpenOutcome held{LineResult::HeldHere, {}, portDevice(port), {}};
            recordOpenOutcome(port, held);
            m_replies.later(port, std::move(done), held);
            return;
        }
        SerialLibrary &layer = layerFor(port);
        m_owners[port] = &layer; // from now on: closing it ends the open
        layer.startOpen(port, [this, port, &layer, done = std::move(done)](const OpenOutcome &o) {
            if (!o.ok()) {
                const auto it = m_owners.find(port);
                if (it != m_owners.end() && it->second == &layer) m_owners.erase(it);
            }
            recordOpenOutcome(port, o);
            done(o);
        });
    }
    OpenOutcome openPort(int port) override
    {
        if (m_owners.count(port)) {
            OpenOutcome held{LineResult::HeldHere, {}, portDevice(port), {}};
            recordOpenOutcome(port, held);
            return held;
        }
        SerialLibrary &layer = layerFor(port);
        const OpenOutcome outcome = layer.openPort(port);
        if (outcome.ok()) m_owners[port] = &layer;
        recordOpenOutcome(port, outcome);
        return outcome;
    }
    int setLine(int port, int baudCode, int modeCode) override
    {
        return owner(port).setLine(port, baudCode, modeCode);
    }
    int setFlow(int port, int flowCode) override { return owner(port).setFlow(port, flowCode); }
    int read(int port, std::uint8_t *buffer, int capacity) override
    {
        return owner(port).read(port, buffer, capacity);
    }
    int write(int port, const std::uint8_t *buffer, int length) override
    {
        return owner(port).write(port, buffer, length);
    }
    int closePort(int port) override
    {
        const bool replyWaiting = m_replies.cancel(port);
        const auto it = m_owners.find(port);
        if (it == m_owners.end()) return replyWaiting ? 0 : kNotOpen;
        SerialLibrary &layer = *it->second;
        m_owners.erase(it);
        return layer.closePort(port);
    }
    void watchInput(int port, std::function<void()> ready) override
    {
        owner(port).watchInput(port, std::move(ready));
    }

private:
    static SerialLibrary &layerFor(int port)
    {
        return isNetworkLine(portDevice(port)) ? networkLines() : serialPorts();
    }
    // A port that is not open answers from the serial ports, which know it is not theirs.
    SerialLibrary &owner(int port)
    {
        const auto it = m_owners.find(port);
        return it == m_owners.end() ? serialPorts() : *it->second;
    }
    std::map<int, SerialLibrary *> m_owners; ///< ports open or opening, by the layer that has them
    OpenReplies m_replies;
};

} // namespace

SerialLibrary &systemSerialLibrary()
{
    static SystemLines lines;
    return lines;
}

} // namespace zev
