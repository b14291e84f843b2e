// A venue's backup: one .tar.gz of what the server keeps and what it was started with, to put
// back on a new venue PC.
//
//   presets/NAME.dat            the presets
//   modes/ROOM.dat              each room's mode memories
//   limits.json, schedule.json  the limits and the schedule
//   snapshots/DATE/ROOM.dat     the nightly snapshots; snapshots/lost/ROOM.dat, settings a unit
//                               lost
//   config/NAME                 the config file(s) and the venue file
//
// Never the users file (its password hashes and tokens are secrets: the technicians add their
// users again), nor the journal (history, not settings) or schedule-state.json (a new machine
// must not take the old one's runs for its own).
//
// A restore reads the archive as hostile: only the names above, each file checked as the
// server reads it (a parameter file's 5,632 bytes, the limits, the schedule, a config or venue
// file), all of it before anything is written. A file already there that differs is kept,
// and the restore refused, unless `replace`. Written with the safe saves; as root into a
// state folder of another user (the service's), the files become that user's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zev {

/// A backup archive, as a restore reads it at most.
constexpr std::size_t kMaxBackupBytes = 128u * 1024 * 1024;

/// The archive of `state` and `configFiles` (their names alone are kept), dated `now`.
bool makeBackup(const std::string &state, const std::vector<std::string> &configFiles,
                long long now, std::string &archive, std::string &error);

struct RestoreOptions {
    std::string state;     ///< the state folder
    std::string configDir; ///< where config/ goes; empty: left in the archive
    bool replace = false;  ///< files there that differ are replaced
};

/// Puts the archive back; `report` says what it did, one line each. False with `error` (the
/// entry and its problem, or the files that differ) and nothing written.
bool restoreBackup(std::string_view archive, const RestoreOptions &options,
                   std::vector<std::string> &report, std::string &error);

} // namespace zev
