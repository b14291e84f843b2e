// A room's line as a person gives it, and the settings it is opened with.
#pragma once

#include "settings/PortSettings.h"

#include <string>

namespace zev {

/// Line settings a person gave; unset fields come from "ZEV720.cfg" or 9600 8N1.
struct LineOptions {
    int baud = -1;      ///< rate in baud, one of the port settings' rates
    int dataBits = -1;  ///< 5 to 8
    std::string parity; ///< none, even, odd, mark, space
    int stopBits = -1;  ///< 1 or 2
    std::string flow;   ///< none, hardware, software
};

/// The port number for a line: a number as given ("5", as in the panel: ZEV720_COM5,
/// "ZEV720.ports", then the system's devices), or a number of its own for a device path
/// ("/dev/ttyUSB0", "./com1") or a network line ("tcp://host:4001"). False with `error` for
/// anything else, a malformed network line included.
bool portNumberFor(const std::string &line, int &port, std::string &error);

/// True when the text names a port (a number, a device path, a network line) rather than a
/// parameter file.
bool looksLikePort(const std::string &text);

/// The settings for port n: "ZEV720.cfg" in the working folder, else 9600 8N1, then the
/// options. False with `error` ("--baud 9601: not a rate of the port settings") for an
/// option out of its range.
bool lineSettingsFor(int port, const LineOptions &options, PortSettings &settings,
                     std::string &error);

} // namespace zev
