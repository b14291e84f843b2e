// Port numbers to devices.
//
// Port n is the device named by the environment variable ZEV720_COM<n> when it is set;
// otherwise COM<n> on Windows; otherwise on Linux the first of /dev/ttyUSB<n-1>,
// /dev/ttyACM<n-1> and /dev/ttyS<n-1> that exists. Any integer is accepted.
#pragma once

#include <string>

namespace zev {

/// The device of port n, or an empty string when there is none.
std::string portDevice(int port);

/// From now on port n is `device`, before everything above: a program that is given a device
/// path takes a number for it this way. Not for the panel, whose numbers mean what is above.
void assignPortDevice(int port, const std::string &device);

} // namespace zev
