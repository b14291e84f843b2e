// What a port number stands for on this machine, for people choosing one: the device it maps
// to, the system's description of that device, and why the last open of the port failed.
#pragma once

#include <string>

namespace zev {

/// Why an open of a port through the system's serial layer failed.
enum class OpenFailure {
    None,             ///< the last open succeeded, or there was none
    NoSuchDevice,     ///< no device has that number, or its device does not exist
    PermissionDenied, ///< the device's permissions keep this user out (see `group`)
    HeldElsewhere,    ///< another program holds it (a lock file, or opened exclusively)
    HeldHere,         ///< this program has it open already (the main window's link)
    Other,            ///< any other reason, in `text`
};

struct OpenFailureReport {
    OpenFailure kind = OpenFailure::None;
    std::string group; ///< PermissionDenied: the group that may use the device ("dialout")
    std::string text;  ///< Other: the system's words
};

/// The outcome of the last open of port n by this program (kind None before the first).
OpenFailureReport lastOpenFailure(int port);

/// Recorded by the serial layer at each open.
void recordOpenFailure(int port, const OpenFailureReport &report);

/// One line for the port settings dialog: the device of port n with the system's description
/// (description, manufacturer, serial number) or that no device has the number, and, when
/// its last open failed, the reason.
std::string describePortForPeople(int port);

} // namespace zev
