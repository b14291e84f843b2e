// The serial layer: six operations on numbered ports, the only way the panel reaches a line.
//
// Results, as the channel relies on them:
//   openPort   0 opened; anything else failed (no such port, or held by another program)
//   setLine    not examined (baud code, mode code: see LineCodes.h)
//   setFlow    not examined
//   read       count of bytes placed in the buffer at once, without waiting; 0 nothing;
//              kSerialDeviceGone when the device has disappeared; other negatives: nothing.
//              A capacity of 0 only asks whether the device is still there.
//   write      0 or more accepted; negative failed; kSerialDeviceGone as for read
//   closePort  0 closed; anything else failed
//   watchInput calls `ready` from the event loop whenever input may be waiting on the open
//              port (an empty function stops it); a layer without readiness never calls it
//
// Thread safety: none. The panel calls every operation from its user-interface thread.
#pragma once

#include <cstdint>
#include <functional>

namespace zev {

/// Returned by read and write when the device went away (a USB adapter pulled out, the other
/// end of a pseudo-terminal closed). The port then stays useless until it is closed.
constexpr int kSerialDeviceGone = -100;

class SerialLibrary {
public:
    virtual ~SerialLibrary() = default;
    virtual int openPort(int port) = 0;
    virtual int setLine(int port, int baudCode, int modeCode) = 0;
    virtual int setFlow(int port, int flowCode) = 0;
    virtual int read(int port, std::uint8_t *buffer, int capacity) = 0;
    virtual int write(int port, const std::uint8_t *buffer, int length) = 0;
    virtual int closePort(int port) = 0;
    virtual void watchInput(int port, std::function<void()> ready)
    {
        (void)port;
        (void)ready;
    }
};

/// Every line a port number can stand for (see PortMap.h): the system's serial ports on Qt
/// SerialPort, and network lines (tcp://, rfc2217://) on Qt Network. Each open goes to the one
/// that the port's line needs; nothing above this layer knows which.
SerialLibrary &systemSerialLibrary();

/// The system's serial ports alone (Qt SerialPort).
SerialLibrary &serialPorts();

} // namespace zev
