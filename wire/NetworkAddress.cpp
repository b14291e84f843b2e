#include "wire/NetworkAddress.h"

#include <algorithm>
#include <cctype>

namespace zev {
namespace {

constexpr std::size_t kMaxHostLength = 253;
constexpr std::size_t kMaxLabelLength = 63;

bool startsWithNoCase(const std::string &text, const std::string &prefix)
{
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char wanted, char given) {
               return std::tolower(static_cast<unsigned char>(given)) == wanted;
           });
}

bool isDigits(const std::string &text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Letters, digits and '-' in dot-separated labels of 1 to 63 characters; a name or an IPv4
// address both pass.
bool isHostName(const std::string &host)
{
    if (host.empty() || host.size() > kMaxHostLength) return false;
    std::size_t label = 0;
    for (std::size_t i = 0; i <= host.size(); ++i) {
        if (i == host.size() || host[i] == '.') {
            if (label == 0 || label > kMaxLabelLength) return false;
            if (host[i - 1] == '-' || host[i - label] == '-') return false;
            label = 0;
            continue;
        }
        const auto c = static_cast<unsigned char>(host[i]);
        if (!std::isalnum(c) && c != '-') return false;
        ++label;
    }
    return true;
}

// Hex digits, ':' and '.' (an IPv4 tail), with a zone after '%' left out: the system's parser
// has the last word when the line is opened.
bool isIpv6Literal(const std::string &host)
{
    if (host.size() < 2 || host.size() > 45 || host.find(':') == std::string::npos) return false;
    return std::all_of(host.begin(), host.end(),
                       [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; });
}

NetworkAddress malformed(std::string problem)
{
    NetworkAddress address;
    address.problem = std::move(problem);
    return address;
}

} // namespace

bool isNetworkLine(const std::string &text)
{
    return startsWithNoCase(text, "tcp://") || startsWithNoCase(text, "rfc2217://");
}

NetworkAddress parseNetworkLine(const std::string &text)
{
    if (!isNetworkLine(text)) return malformed("not tcp://HOST:PORT or rfc2217://HOST:PORT");
    if (text.size() > kMaxNetworkLineLength)
        return malformed("longer than " + std::to_string(kMaxNetworkLineLength) + " characters");
    const bool rfc2217 = startsWithNoCase(text, "rfc2217://");
    std::string rest = text.substr(rfc2217 ? 10 : 6);
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (rest.find('@') != std::string::npos)
        return malformed("a user name or password is not taken in a line");
    if (rest.find_first_of("/?#") != std::string::npos)
        return malformed("a line is HOST:PORT with no path, query or fragment");

    std::string host, port;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos) return malformed("an IPv6 address without its ']'");
        host = rest.substr(1, close - 1);
        if (close + 1 >= rest.size() || rest[close + 1] != ':')
            return malformed("no port after the host");
        port = rest.substr(close + 2);
        if (!isIpv6Literal(host)) return malformed("'" + host + "': not an IPv6 address");
    } else {
        const auto colon = rest.rfind(':');
        if (colon == std::string::npos) return malformed("no port after the host");
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (host.empty()) return malformed("no host before the port");
        if (host.find(':') != std::string::npos)
            return malformed("an IPv6 address goes in brackets: [" + host + "]");
        if (!isHostName(host)) return malformed("'" + host + "': not a host name or address");
    }
    if (!isDigits(port) || port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535)
        return malformed("port '" + port + "': not 1 to 65535");

    NetworkAddress address;
    address.valid = true;
    address.rfc2217 = rfc2217;
    address.host = host;
    std::transform(address.host.begin(), address.host.end(), address.host.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    address.port = std::uint16_t(std::stoi(port));
    return address;
}

std::string formatNetworkLine(const NetworkAddress &address)
{
    const bool ipv6 = address.host.find(':') != std::string::npos;
    return std::string(address.rfc2217 ? "rfc2217://" : "tcp://") + (ipv6 ? "[" : "") +
           address.host + (ipv6 ? "]" : "") + ":" + std::to_string(address.port);
}

} // namespace zev
