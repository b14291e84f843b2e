// HTTP/1.1 requests (RFC 9112) as the venue server reads them from its clients: bytes in, a
// request or a refusal out, no I/O.
//
// Everything a client sends is hostile until checked, so the reader is strict where lenient
// readers let two parties see two different requests (request smuggling):
//   - lines end with CR LF; a bare LF or CR, a folded header line, a space before a header's
//     colon, or a control character in a value is refused (400);
//   - a body is delimited by Content-Length alone; Transfer-Encoding is refused (501), and so
//     are two Content-Lengths that differ;
//   - HTTP/1.1 needs exactly one Host;
//   - the head is at most `maxHead` bytes (431), the body at most `maxBody` (413), the target
//     at most `maxTarget` (414), checked as soon as the bytes arrive, so a client never makes
//     the server hold more than it allows.
// No Qt.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zev {

struct HttpLimits {
    std::size_t maxHead = 8192;      ///< request line and headers, CR LF CR LF included
    std::size_t maxBody = 64 * 1024; ///< the largest body any request of the API needs
    std::size_t maxTarget = 2048;
    std::size_t maxHeaders = 64;
};

struct HttpRequest {
    std::string method;                                       ///< "GET", as sent
    std::string target;                                       ///< "/api/v1/rooms?x=1", as sent
    std::string path;                                         ///< the target before "?", as sent
    std::string query;                                        ///< after "?", or empty
    int minorVersion = 1;                                     ///< HTTP/1.0 or HTTP/1.1
    std::vector<std::pair<std::string, std::string>> headers; ///< names lower case
    std::string body;
    bool keepAlive = true; ///< the connection may carry another request after this one

    /// The value of the header of that name (lower case), or nullptr; of several, the first.
    const std::string *header(std::string_view name) const;
    /// The request asks to become a WebSocket (RFC 6455: GET, Upgrade: websocket).
    bool wantsWebSocket() const;
};

enum class HttpParse {
    NeedMore, ///< no whole request yet, and nothing wrong so far
    Done,     ///< a request, `consumed` bytes long
    Refused,  ///< a request that is not acceptable: answer `status` and close
};

struct HttpRefusal {
    int status = 400;    ///< 400, 413, 414, 431, 501 or 505
    std::string message; ///< what was wrong, for the client ("header line 3: no colon")
};

/// Reads the request at the start of `bytes` (all that the client sent and the server has not
/// yet taken).
HttpParse parseHttpRequest(std::string_view bytes, const HttpLimits &limits, HttpRequest &request,
                           std::size_t &consumed, HttpRefusal &refusal);

/// Percent-decoding of one path segment or query component (`plusIsSpace` for queries).
/// False for a malformed escape or one that gives a NUL or a control character.
bool decodePercent(std::string_view text, bool plusIsSpace, std::string &out);

/// The path's segments decoded ("/api/v1/rooms/A%201" → "api", "v1", "rooms", "A 1"). False for
/// a path that does not start with "/", has an empty segment inside, a malformed escape, or
/// a segment that is "." or ".." (before or after decoding), or one holding "/" or "\".
bool splitPath(std::string_view path, std::vector<std::string> &segments);

/// The query's "name=value" pairs decoded, in order; false when one is malformed.
bool splitQuery(std::string_view query, std::vector<std::pair<std::string, std::string>> &pairs);

/// The last address of an X-Forwarded-For ("client, proxy1, proxy2"): what the proxy that
/// sent the request saw, trimmed of blanks and of the brackets around an IPv6 address; empty
/// when the last entry is empty.
std::string_view lastForwardedAddress(std::string_view header);

/// The text of a status code ("Not Found").
const char *httpReason(int status);

} // namespace zev
