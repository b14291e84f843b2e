#include "link/SystemLookup.h"
#include "files/TextFile.h" // systemErrorText

#include <mutex>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace zev {

LookupResult systemLookup(const std::string &host)
{
    // Windows' resolver needs its sockets library started, which Qt may not have done yet on
    // this thread's first lookup; the start is counted, once is enough for the program.
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data{};
        ::WSAStartup(MAKEWORD(2, 2), &data);
    });
    LookupResult result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (status != 0) {
        result.unknownHost = status == WSAHOST_NOT_FOUND || status == WSANO_DATA;
        result.noAnswer = status == WSATRY_AGAIN;
        result.error = systemErrorText(status);
        return result;
    }
    addAddresses(list, result);
    ::freeaddrinfo(list);
    return result;
}

} // namespace zev
