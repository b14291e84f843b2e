// TCP keepalive with our own timing, on a connected socket of the system.
#pragma once

#include <QtGlobal>

namespace zev {

/// Probes after `idleSeconds` of silence, `probes` of them `intervalSeconds` apart; a peer
/// that answers none is dead and the connection fails; data that stays unacknowledged as long
/// fails it too. Best effort: a system that refuses a setting keeps its own.
void setKeepAlive(qintptr socket, int idleSeconds, int intervalSeconds, int probes);

} // namespace zev
