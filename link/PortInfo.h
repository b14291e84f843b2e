// What a port number stands for on this machine, for people choosing one: the device it maps
// to, the system's description of that device, and why the last open of the port failed.
#pragma once

#include "wire/SerialLibrary.h"

#include <string>

namespace zev {

/// How the last open of port n by this program ended (Ok before the first). Kept by the
/// system's serial layer for people: the port settings dialog says why a port did not open.
OpenOutcome lastOpenOutcome(int port);

/// Recorded by the system's serial layer at each open.
void recordOpenOutcome(int port, const OpenOutcome &outcome);

/// Why an open failed, in the panel's words ("设备不存在"); empty for Ok.
std::string openFailureForPeople(const OpenOutcome &outcome);

/// One line for the port settings dialog: the device of port n with the system's description
/// (description, manufacturer, serial number) or that no device has the number, and, when
/// its last open failed, the reason.
std::string describePortForPeople(int port);

} // namespace zev
