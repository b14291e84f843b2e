// zev720d's command line: the server's options and the users commands.
#pragma once

#include "service/Journal.h"

#include <QHostAddress>
#include <string>
#include <utility>
#include <vector>

namespace zev {

struct ServerOptions {
    std::string venue;
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 8720;
    std::string state;              ///< the state folder
    std::vector<std::string> names; ///< more names of this server for Host and Origin
    std::vector<std::string> desk;  ///< the front desk's registers, by machine name
    int firstFramePort = -1;        ///< none
    /// Rooms with a frame port of their own ("K01" on 4101), whatever --frame-ports gives.
    std::vector<std::pair<std::string, quint16>> framePorts;
    std::vector<QHostAddress> frameAllowed; ///< besides loopback; none: listen on loopback
    std::size_t journalBytes = kDefaultJournalBytes;
    int verifySeconds = 600; ///< each room read whole again this often; 0: never
    bool restoreAuto = false; ///< a room that lost its settings gets them back at once
    int snapshotMinute = 4 * 60; ///< of the day, each night's snapshot; -1: on demand only
    int snapshotDays = 30;
    std::string notifyUrl;   ///< a webhook told of rooms away, back, or that lost settings
    int notifyAfterSeconds = 120; ///< away this long before it is told
    std::string certificate; ///< PEM; with `key`, the API speaks HTTPS
    std::string key;
    std::string web; ///< the pages' folder; empty: WebFiles::defaultFolder()
    int maxConnections = 0; ///< 0: from the limit on open files
    /// Reverse proxies whose X-Forwarded-For names the client.
    std::vector<QHostAddress> trustedProxies;
};

/// The state folder when none is given: systemd's STATE_DIRECTORY, or the user's
/// $XDG_STATE_HOME/zev720d (~/.local/state/zev720d).
std::string defaultStateFolder();

/// "127.0.0.1:8720", "[::1]:8720", "0.0.0.0:8720"; false when it is none. "[::]" is every
/// address of both families, "0.0.0.0" every IPv4 address.
bool parseListen(const std::string &text, QHostAddress &address, quint16 &port);

/// zev720d user add|remove|list ..., zev720d token add|remove ...; the exit status.
int usersCommand(const std::vector<std::string> &arguments);

} // namespace zev
