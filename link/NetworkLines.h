// Lines to processors behind serial device servers: tcp://HOST:PORT and rfc2217://HOST:PORT.
#pragma once

#include "link/SerialLibrary.h"

#include <cstdint>
#include <string>

namespace zev {

struct NetworkAddress {
    bool valid = false;
    bool rfc2217 = false; ///< Telnet with the COM port option, else raw TCP
    std::string host;
    std::uint16_t port = 0;
};

/// "tcp://10.0.3.15:4001", "rfc2217://host:4001"; anything else is not valid.
NetworkAddress parseNetworkLine(const std::string &text);
/// True when the text names a network line (valid or not), not a device.
bool isNetworkLine(const std::string &text);

/// The serial layer over TCP (Qt Network), keyed by port number like the system's ports.
SerialLibrary &networkLines();

} // namespace zev
