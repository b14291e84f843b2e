// The system's resolver, asked once and waited for: called on a lookup thread of its own.
#pragma once

#include "link/Resolver.h"

#include <algorithm>

namespace zev {

/// The addresses of `host` in the system's order, or why there are none.
LookupResult systemLookup(const std::string &host);

/// Adds the addresses of the system's list, each once.
template <typename Entry> void addAddresses(const Entry *list, LookupResult &result)
{
    for (const Entry *entry = list; entry; entry = entry->ai_next) {
        const QHostAddress address(entry->ai_addr);
        if (!address.isNull() && std::find(result.addresses.begin(), result.addresses.end(),
                                           address) == result.addresses.end())
            result.addresses.push_back(address);
    }
    if (result.addresses.empty()) {
        result.unknownHost = true;
        result.error = "no address";
    }
}

} // namespace zev
