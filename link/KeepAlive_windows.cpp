#include "link/KeepAlive.h"

#include <winsock2.h>
#include <mstcpip.h>

namespace zev {

void setKeepAlive(qintptr socket, int idleSeconds, int intervalSeconds, int probes)
{
    // Windows takes the time before the first probe and the time between them; since Windows 10
    // it sends 10 probes, and older versions 5: the count is its own.
    (void)probes;
    tcp_keepalive settings{};
    settings.onoff = 1;
    settings.keepalivetime = ULONG(idleSeconds) * 1000u;
    settings.keepaliveinterval = ULONG(intervalSeconds) * 1000u;
    DWORD returned = 0;
    ::WSAIoctl(SOCKET(socket), SIO_KEEPALIVE_VALS, &settings, sizeof settings, nullptr, 0,
               &returned, nullptr, nullptr);
}

} // namespace zev
