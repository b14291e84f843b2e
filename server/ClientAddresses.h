// Who a client of the venue server is, for the bounds that count clients.
//
//   connections  an IPv4 address; an IPv6 address of a prefix this machine has an address in
//                (its own LAN, where SLAAC gives every host an address of one /64) as itself;
//                any other IPv6 address by its /64, which one machine may fill with addresses
//                of its own; a trusted proxy by nothing (the total bound alone: its clients
//                are many)
//   logins       this machine's own addresses (127.0.0.0/8, ::1) as one, an IPv4 address, an
//                IPv6 /64: the address a guesser could change at will counts as one
//   the client   the peer, or for a trusted proxy the last address of its X-Forwarded-For (the
//                one it added itself); the header of any other peer is not read
//
// Thread safety: none; the thread of the event loop.
#pragma once

#include <QHostAddress>
#include <QString>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace zev {

class ClientAddresses {
public:
    /// Proxies in front of the server (a reverse proxy on this machine or the LAN).
    void trustProxies(std::vector<QHostAddress> proxies) { m_proxies = std::move(proxies); }
    bool isTrustedProxy(const QHostAddress &peer) const;
    /// What a connection from `peer` counts against; empty: the total bound alone.
    QString connectionGroup(const QHostAddress &peer);
    /// What a login from `client` counts against.
    static QString loginGroup(const QHostAddress &client);
    /// The client a request comes from.
    QHostAddress client(const QHostAddress &peer, const std::string *forwardedFor) const;

private:
    bool inOwnPrefix(const QHostAddress &address);
    std::vector<QHostAddress> m_proxies;
    std::vector<std::pair<QHostAddress, int>> m_prefixes; ///< this machine's IPv6 prefixes
    std::chrono::steady_clock::time_point m_prefixesRead{};
};

} // namespace zev
