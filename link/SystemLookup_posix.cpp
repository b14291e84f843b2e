#include "link/SystemLookup.h"

#include <netdb.h>
#include <sys/socket.h>

namespace zev {

LookupResult systemLookup(const std::string &host)
{
    LookupResult result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (status != 0) {
        result.unknownHost = status == EAI_NONAME
#ifdef EAI_NODATA
                             || status == EAI_NODATA
#endif
            ;
        result.noAnswer = status == EAI_AGAIN;
        result.error = ::gai_strerror(status);
        return result;
    }
    addAddresses(list, result);
    ::freeaddrinfo(list);
    return result;
}

} // namespace zev
