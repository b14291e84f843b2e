// The serial layer: operations on numbered ports, the only way the programs reach a line.
//
// Every operation reports one result of a closed set, LineResult: 0 or a count when it went
// well, otherwise one of the negative values below, each with one meaning:
//
//   NoSuchDevice      no device has that port number, its device does not exist, or the line
//                     is a malformed network address
//   PermissionDenied  the device's permissions keep this user out
//   HeldElsewhere     another program holds the device (a lock file, or opened exclusively)
//   HeldHere          this program has the port open already
//   UnknownHost       a network line's host name does not resolve
//   Refused           the server refused the connection
//   NoAnswer          nothing answered the open within kOpenDeadlineMs (a host that drops
//                     the connection request, a name server that does not answer)
//   DeviceGone        the device went away: an adapter pulled out, the other end of a
//                     pseudo-terminal closed, a server that closed or reset the connection, a
//                     peer that TCP keepalive found dead. The port stays useless until closed.
//   LineHeld          a write was not taken: flow control, or a server that stopped reading.
//                     The port stays open; nothing piles up behind the refused bytes.
//   Failed            any other reason, told in the open's text
//
// Operations, by what they return:
//   startOpen  calls `done` once with the outcome, from the event loop and never from inside
//              the call, at most kOpenDeadlineMs later (name lookup included)
//   openPort   the same, returning when it is over: the event loop runs meanwhile with user
//              input held back, so a window repaints and takes no clicks
//   setLine    Ok, or NoSuchDevice when the port is not open (baud and mode codes: LineCodes.h)
//   setFlow    the same
//   read       bytes placed in the buffer at once, without waiting (0: nothing); DeviceGone;
//              NoSuchDevice when the port is not open. A capacity of 0 only asks whether the
//              device is still there. Reading never calls back: what it takes in is told to
//              `watchInput` later, from the event loop.
//   write      the length, all taken; LineHeld; DeviceGone; NoSuchDevice when not open
//   closePort  Ok, or NoSuchDevice when the port was not open
//   watchInput calls `ready` from the event loop, never from inside another operation,
//              whenever input may be waiting or the device may have gone (an empty function
//              stops it). Several causes between two passes of the loop give one call.
//
// Memory: each open port holds at most kLineBuffer bytes that the program has not read; a
// device or server that sends faster than the program reads is slowed or dropped there.
//
// Thread safety: none. One thread, the one with the event loop, calls every operation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zev {

enum class LineResult : int {
    Ok = 0,
    NoSuchDevice = -1,
    PermissionDenied = -2,
    HeldElsewhere = -3,
    HeldHere = -4,
    UnknownHost = -5,
    Refused = -6,
    NoAnswer = -7,
    DeviceGone = -8,
    LineHeld = -9,
    Failed = -10,
};

/// As the read and write results carry it.
constexpr int kSerialDeviceGone = int(LineResult::DeviceGone);
constexpr int kLineHeld = int(LineResult::LineHeld);

/// An open waits this long at most, name lookup and connection included.
constexpr int kOpenDeadlineMs = 1500;
/// Bytes a port holds for the program at most (a real UART driver holds about as much).
constexpr int kLineBuffer = 4096;

/// How an open ended.
struct OpenOutcome {
    LineResult result = LineResult::Ok;
    std::string group;  ///< PermissionDenied: the device's group, when it may read and write it
    std::string device; ///< the device or network line that the port stood for
    std::string text;   ///< the system's words where it gave any ("host:port: Connection refused")
    std::string owner = {}; ///< PermissionDenied without such a group: the user who may
    bool ok() const { return result == LineResult::Ok; }
};

class SerialLibrary {
public:
    using OpenDone = std::function<void(const OpenOutcome &)>;

    virtual ~SerialLibrary() = default;
    virtual void startOpen(int port, OpenDone done) = 0;
    virtual OpenOutcome openPort(int port) = 0;
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
