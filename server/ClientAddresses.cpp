#include "server/ClientAddresses.h"

#include "wire/HttpRequest.h"

#include <QNetworkInterface>
#include <algorithm>

namespace zev {
namespace {

// Interfaces change (a cable, DHCP, SLAAC): their prefixes are read again after this long.
constexpr std::chrono::seconds kPrefixesKept{30};

QString slash64(const QHostAddress &address)
{
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes).toString() + "/64";
}

bool isV4(const QHostAddress &address, quint32 &v4)
{
    bool ok = false;
    v4 = address.toIPv4Address(&ok);
    return ok;
}

} // namespace

bool ClientAddresses::isTrustedProxy(const QHostAddress &peer) const
{
    return std::any_of(m_proxies.begin(), m_proxies.end(), [&](const QHostAddress &proxy) {
        return proxy.isEqual(peer, QHostAddress::ConvertV4MappedToIPv4);
    });
}

bool ClientAddresses::inOwnPrefix(const QHostAddress &address)
{
    const auto now = std::chrono::steady_clock::now();
    if (m_prefixesRead == std::chrono::steady_clock::time_point{} ||
        now - m_prefixesRead > kPrefixesKept) {
        m_prefixesRead = now;
        m_prefixes.clear();
        for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
            for (const QNetworkAddressEntry &entry : interface.addressEntries())
                if (entry.ip().protocol() == QAbstractSocket::IPv6Protocol &&
                    !entry.ip().isLoopback() && entry.prefixLength() > 0)
                    m_prefixes.emplace_back(entry.ip(), entry.prefixLength());
    }
    QHostAddress plain(address.toIPv6Address()); // without a scope
    return std::any_of(m_prefixes.begin(), m_prefixes.end(), [&](const auto &prefix) {
        return plain.isInSubnet(QHostAddress(prefix.first.toIPv6Address()), prefix.second);
    });
}

QString ClientAddresses::connectionGroup(const QHostAddress &peer)
{
    if (isTrustedProxy(peer)) return {};
    quint32 v4 = 0;
    if (isV4(peer, v4)) return QHostAddress(v4).toString();
    if (peer.isLoopback() || inOwnPrefix(peer)) return QHostAddress(peer.toIPv6Address()).toString();
    return slash64(peer);
}

QString ClientAddresses::loginGroup(const QHostAddress &client)
{
    if (client.isLoopback()) return QStringLiteral("this machine");
    quint32 v4 = 0;
    if (isV4(client, v4)) return QHostAddress(v4).toString();
    return slash64(client);
}

QHostAddress ClientAddresses::client(const QHostAddress &peer, const std::string *forwardedFor) const
{
    if (!forwardedFor || !isTrustedProxy(peer)) return peer;
    const std::string_view last = lastForwardedAddress(*forwardedFor);
    QHostAddress address;
    return address.setAddress(QString::fromUtf8(last.data(), qsizetype(last.size()))) ? address : peer;
}

} // namespace zev
