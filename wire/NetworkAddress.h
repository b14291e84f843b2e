// Network lines as people write them: tcp://HOST:PORT (raw TCP) and rfc2217://HOST:PORT
// (Telnet with the COM port control option). Pure text rules, no I/O.
//
// HOST is a name (letters, digits, '-' and '.', 253 characters at most), an IPv4 address, or
// an IPv6 address in brackets ("[::1]"). PORT is 1 to 65535. The scheme may be written in any
// case; a single "/" may end the line. A user name or password, a path, a query or a fragment
// make the line malformed: a line names a server's port and nothing else.
#pragma once

#include <cstdint>
#include <string>

namespace zev {

struct NetworkAddress {
    bool valid = false;
    bool rfc2217 = false; ///< Telnet with the COM port option, else raw TCP
    std::string host;     ///< without brackets for IPv6
    std::uint16_t port = 0;
    std::string problem; ///< not valid: what is wrong, for people ("port 99999: not 1 to 65535")
};

/// Lines longer than this are malformed whatever they hold.
constexpr std::size_t kMaxNetworkLineLength = 300;

NetworkAddress parseNetworkLine(const std::string &text);

/// True when the text is meant as a network line (valid or not): it starts with a scheme of
/// ours in any case, "tcp://" or "rfc2217://".
bool isNetworkLine(const std::string &text);

/// The line written back: "tcp://host:4001", "rfc2217://[::1]:4001".
std::string formatNetworkLine(const NetworkAddress &address);

} // namespace zev
