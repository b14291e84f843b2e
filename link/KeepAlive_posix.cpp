#include "link/KeepAlive.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace zev {

void setKeepAlive(qintptr socket, int idleSeconds, int intervalSeconds, int probes)
{
    const int fd = int(socket);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    for (auto [option, value] :
         {std::pair{TCP_KEEPIDLE, idleSeconds}, std::pair{TCP_KEEPINTVL, intervalSeconds},
          std::pair{TCP_KEEPCNT, probes}})
        ::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value);
#ifdef TCP_USER_TIMEOUT
    // Keepalive probes only an idle connection: data sent and never acknowledged (a frame to
    // a peer that vanished) gives up after the same time instead of TCP's quarter of an hour.
    const unsigned int limitMs = unsigned(idleSeconds + intervalSeconds * probes) * 1000u;
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &limitMs, sizeof limitMs);
#endif
}

} // namespace zev
