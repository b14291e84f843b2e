// The serial layer that the programs use: each port number goes to the layer its line needs.
#include "link/NetworkLines.h"
#include "link/PortInfo.h"
#include "link/PortMap.h"
#include "link/SerialLibrary.h"

#include <map>

namespace zev {
namespace {

constexpr int kOpenFailed = -2;

class SystemLines final : public SerialLibrary {
public:
    int openPort(int port) override
    {
        if (m_owners.count(port)) {
            recordOpenFailure(port, {OpenFailure::HeldHere, {}, {}});
            return kOpenFailed;
        }
        SerialLibrary &layer = isNetworkLine(portDevice(port)) ? networkLines() : serialPorts();
        const int result = layer.openPort(port);
        if (result == 0) m_owners[port] = &layer;
        return result;
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
        const int result = owner(port).closePort(port);
        m_owners.erase(port);
        return result;
    }
    void watchInput(int port, std::function<void()> ready) override
    {
        owner(port).watchInput(port, std::move(ready));
    }

private:
    // A port that is not open answers from the serial ports, which know it is not theirs.
    SerialLibrary &owner(int port)
    {
        const auto it = m_owners.find(port);
        return it == m_owners.end() ? serialPorts() : *it->second;
    }
    std::map<int, SerialLibrary *> m_owners;
};

} // namespace

SerialLibrary &systemSerialLibrary()
{
    static SystemLines lines;
    return lines;
}

} // namespace zev
