// What a venue file's reader cannot see line by line, checked before anything runs: rooms
// whose names people cannot tell apart (another case, "é" as one character or two), which
// would be one backup file on many disks and one room to the eye; and two rooms on one line
// (one device, or one device server's port however it is written), which would take the line
// from each other.
#pragma once

#include "files/VenueFile.h"

#include <string>
#include <vector>

namespace zev {

/// False with `error` ("venue.csv:4: room 'Café' is room 'CAFÉ' of line 2 to the eye";
/// "venue.csv:5: line tcp://rack:4001 is used by A01 and A02").
bool checkVenueRooms(const std::vector<VenueRoom> &rooms, const std::string &fileName,
                     std::string &error);

/// What a line stands for, so that two ways of writing one line compare equal: a network
/// line's scheme-less, lower-case host and port; a device's real path; a port number's device.
std::string lineIdentity(const std::string &line);

/// A name as people read it: composed (NFC) and case-folded, so that two names equal here are
/// one to the eye ("Café", "CAFÉ", "Cafe" with a combining accent). Rooms and presets alike.
std::string lookAlikeKey(const std::string &name);

} // namespace zev
