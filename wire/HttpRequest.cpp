#include "wire/HttpRequest.h"

#include <algorithm>
#include <cctype>

namespace zev {
namespace {

// RFC 9110 token characters: method and header names.
bool isTokenChar(unsigned char c)
{
    if (std::isalnum(c)) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(char(c)) != std::string_view::npos;
}

bool isToken(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return isTokenChar(static_cast<unsigned char>(c)); });
}

// Field values: visible characters, spaces and tabs, and bytes of UTF-8 text; no controls.
bool isFieldValue(std::string_view text)
{
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7f;
    });
}

// Request targets in origin form: visible ASCII only.
bool isTarget(std::string_view text)
{
    return !text.empty() && text.front() == '/' &&
           std::all_of(text.begin(), text.end(), [](char c) {
               const auto u = static_cast<unsigned char>(c);
               return u > 0x20 && u < 0x7f;
           });
}

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Whether the comma-separated list of tokens holds `token`, any case.
bool listHas(std::string_view list, std::string_view token)
{
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        if (lower(trim(list.substr(0, comma))) == token) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

HttpParse refuse(HttpRefusal &refusal, int status, std::string message)
{
    refusal = {status, std::move(message)};
    return HttpParse::Refused;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

const std::string *HttpRequest::header(std::string_view name) const
{
    for (const auto &[key, value] : headers)
        if (key == name) return &value;
    return nullptr;
}

bool HttpRequest::wantsWebSocket() const
{
    const std::string *upgrade = header("upgrade");
    const std::string *connection = header("connection");
    return method == "GET" && upgrade && connection && listHas(*upgrade, "websocket") &&
           listHas(*connection, "upgrade");
}

HttpParse parseHttpRequest(std::string_view bytes, const HttpLimits &limits, HttpRequest &request,
                           std::size_t &consumed, HttpRefusal &refusal)
{
    // Lines are checked as they arrive, so a client is refused at its first wrong byte
    // rather than when its head is complete.
    request = {};
    std::size_t at = 0;
    int lineNumber = 0;
    std::size_t contentLength = 0;
    bool haveLength = false;
    int hosts = 0;
    for (;;) {
        const std::size_t end = bytes.find('\n', at);
        const std::size_t seen = end == std::string_view::npos ? bytes.size() : end + 1;
        if (seen > limits.maxHead)
            return refuse(refusal, 431,
                          "the request's head is longer than " + std::to_string(limits.maxHead) +
                              " bytes");
        const std::string_view partial = bytes.substr(at, seen - at);
        const std::size_t cr = partial.find('\r');
        if (cr != std::string_view::npos && cr + 1 < partial.size() && partial[cr + 1] != '\n')
            return refuse(refusal, 400, "a CR inside a line");
        if (lineNumber == 0 && partial.size() > limits.maxTarget + 32)
            return refuse(refusal, 414,
                          "the target is longer than " + std::to_string(limits.maxTarget) +
                              " bytes");
        if (end == std::string_view::npos) return HttpParse::NeedMore;
        if (end == at || bytes[end - 1] != '\r')
            return refuse(refusal, 400, "a line that does not end with CR LF");
        const std::string_view line = bytes.substr(at, end - 1 - at);
        at = end + 1;
        if (lineNumber++ == 0) {
            const std::size_t first = line.find(' ');
            const std::size_t second =
                first == std::string_view::npos ? first : line.find(' ', first + 1);
            if (second == std::string_view::npos ||
                line.find(' ', second + 1) != std::string_view::npos)
                return refuse(refusal, 400, "the request line is not METHOD TARGET VERSION");
            const std::string_view method = line.substr(0, first);
            const std::string_view target = line.substr(first + 1, second - first - 1);
            const std::string_view version = line.substr(second + 1);
            if (!isToken(method)) return refuse(refusal, 400, "the method is not a token");
            if (target.size() > limits.maxTarget)
                return refuse(refusal, 414,
                              "the target is longer than " + std::to_string(limits.maxTarget) +
                                  " bytes");
            if (!isTarget(target))
                return refuse(refusal, 400, "the target is not a path starting with /");
            if (version == "HTTP/1.1")
                request.minorVersion = 1;
            else if (version == "HTTP/1.0")
                request.minorVersion = 0;
            else if (version.substr(0, 5) == "HTTP/")
                return refuse(refusal, 505, "only HTTP/1.1 and HTTP/1.0");
            else
                return refuse(refusal, 400, "the request line is not METHOD TARGET VERSION");
            request.method = method;
            request.target = target;
            const std::size_t mark = target.find('?');
            request.path = target.substr(0, mark);
            if (mark != std::string_view::npos) request.query = target.substr(mark + 1);
            continue;
        }
        if (line.empty()) break; // the end of the head
        const std::string where = "header line " + std::to_string(lineNumber - 1) + ": ";
        if (line.front() == ' ' || line.front() == '\t')
            return refuse(refusal, 400, where + "a folded line");
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return refuse(refusal, 400, where + "no colon");
        const std::string_view name = line.substr(0, colon);
        if (!isToken(name)) return refuse(refusal, 400, where + "the name is not a token");
        const std::string_view value = trim(line.substr(colon + 1));
        if (!isFieldValue(value))
            return refuse(refusal, 400, where + "a control character in the value");
        if (request.headers.size() >= limits.maxHeaders)
            return refuse(refusal, 431,
                          "more than " + std::to_string(limits.maxHeaders) + " header lines");
        std::string key = lower(name);
        if (key == "transfer-encoding")
            return refuse(refusal, 501, "Transfer-Encoding: send a Content-Length instead");
        if (key == "content-length") {
            if (value.empty() || value.size() > 12 ||
                !std::all_of(value.begin(), value.end(),
                             [](char c) { return c >= '0' && c <= '9'; }))
                return refuse(refusal, 400, where + "Content-Length is not a number");
            const std::size_t length = std::stoull(std::string(value));
            if (haveLength && length != contentLength)
                return refuse(refusal, 400, where + "two different Content-Lengths");
            if (length > limits.maxBody)
                return refuse(refusal, 413,
                              "the body is longer than " + std::to_string(limits.maxBody) +
                                  " bytes");
            contentLength = length;
            haveLength = true;
        }
        if (key == "host") ++hosts;
        request.headers.emplace_back(std::move(key), std::string(value));
    }
    if (request.minorVersion == 1 && hosts != 1)
        return refuse(refusal, 400, hosts ? "more than one Host" : "no Host");
    if (hosts > 1) return refuse(refusal, 400, "more than one Host");
    if (bytes.size() - at < contentLength) return HttpParse::NeedMore;
    request.body = bytes.substr(at, contentLength);
    consumed = at + contentLength;
    const std::string *connection = request.header("connection");
    request.keepAlive = request.minorVersion == 1 ? !(connection && listHas(*connection, "close"))
                                                  : connection && listHas(*connection, "keep-alive");
    return HttpParse::Done;
}

bool decodePercent(std::string_view text, bool plusIsSpace, std::string &out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
            if (high < 0 || low < 0) return false;
            c = char(high * 16 + low);
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            c = ' ';
        }
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return false;
        out += c;
    }
    return true;
}

bool splitPath(std::string_view path, std::vector<std::string> &segments)
{
    segments.clear();
    if (path.empty() || path.front() != '/') return false;
    path.remove_prefix(1);
    if (path.empty()) return true;
    for (;;) {
        const std::size_t slash = path.find('/');
        const std::string_view raw = path.substr(0, slash);
        std::string segment;
        if (raw.empty() || !decodePercent(raw, false, segment) || segment == "." ||
            segment == ".." || segment.find_first_of("/\\") != std::string::npos)
            return false;
        segments.push_back(std::move(segment));
        if (slash == std::string_view::npos) return true;
        path.remove_prefix(slash + 1);
    }
}

bool splitQuery(std::string_view query, std::vector<std::pair<std::string, std::string>> &pairs)
{
    pairs.clear();
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        const std::size_t equals = item.find('=');
        std::string name, value;
        if (!decodePercent(item.substr(0, equals), true, name) || name.empty() ||
            (equals != std::string_view::npos &&
             !decodePercent(item.substr(equals + 1), true, value)))
            return false;
        pairs.emplace_back(std::move(name), std::move(value));
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return true;
}

const char *httpReason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 421: return "Misdirected Request";
    case 422: return "Unprocessable Content";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    case 505: return "HTTP Version Not Supported";
    }
    return "Unknown";
}

std::string_view lastForwardedAddress(std::string_view header)
{
    const std::size_t comma = header.rfind(',');
    std::string_view last = comma == std::string_view::npos ? header : header.substr(comma + 1);
    while (!last.empty() && (last.front() == ' ' || last.front() == '\t')) last.remove_prefix(1);
    while (!last.empty() && (last.back() == ' ' || last.back() == '\t')) last.remove_suffix(1);
    if (last.size() >= 2 && last.front() == '[' && last.back() == ']') last = last.substr(1, last.size() - 2);
    return last;
}

} // namespace zev
