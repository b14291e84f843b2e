// Port numbers to devices.
//
// Port n is the line named by the environment variable ZEV720_COM<n> when it is set;
// otherwise the line that "ZEV720.ports" in the working folder gives it; otherwise COM<n> on
// Windows; otherwise on Linux the first of /dev/ttyUSB<n-1>, /dev/ttyACM<n-1> and
// /dev/ttyS<n-1> that exists. Any integer is accepted. A line is a device path, or a network
// line: tcp://HOST:PORT or rfc2217://HOST:PORT.
#pragma once

#include "wire/PortMap.h"

#include <string>

namespace zev {

/// Reads "ZEV720.ports" in the working folder (nothing without it), only when it is a regular
/// file of at most kMaxPortsFileBytes; otherwise that is its one problem.
PortsFile readPortsFile();

/// The device of port n, or an empty string when there is none.
std::string portDevice(int port);

/// From now on port n is `device`, before everything above: a program that is given a device
/// path takes a number for it this way. Not for the panel, whose numbers mean what is above.
void assignPortDevice(int port, const std::string &device);

} // namespace zev
