// HTTP requests as any client may send them, and what the API reads from them: refused with a
// status the server answers, waited for while they may still become a request, or taken with a
// body exactly as long as their Content-Length, never more bytes than were sent; paths hold no
// segment that could climb out of a folder, query parts no NUL, a forwarded address no comma, a preset name taken is a plain
// file name, and the body's register entries name registers of the map.
#include "files/Json.h"
#include "files/ParameterJson.h"
#include "files/VenueFile.h"
#include "model/RegisterMap.h"
#include "tests/fuzz/FuzzCheck.h"
#include "wire/HttpRequest.h"

#include <set>

using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    zev::HttpLimits limits;
    limits.maxHead = 1024; // small bounds, so that the fuzzer reaches them
    limits.maxBody = 256;
    limits.maxTarget = 200;
    limits.maxHeaders = 8;
    zev::HttpRequest request;
    std::size_t consumed = 0;
    zev::HttpRefusal refusal;
    switch (zev::parseHttpRequest(bytes, limits, request, consumed, refusal)) {
    case zev::HttpParse::NeedMore:
        // Only a request that has not yet passed a bound waits.
        check(size <= limits.maxHead + limits.maxBody);
        break;
    case zev::HttpParse::Refused: {
        static const std::set<int> statuses{400, 413, 414, 431, 501, 505};
        check(statuses.count(refusal.status) == 1 && !refusal.message.empty());
        break;
    }
    case zev::HttpParse::Done: {
        check(consumed <= size && request.body.size() <= limits.maxBody);
        check(request.headers.size() <= limits.maxHeaders);
        check(!request.path.empty() && request.path.front() == '/');
        check(request.minorVersion == 0 || request.header("host"));
        const std::string *length = request.header("content-length");
        check(length ? std::stoull(*length) == request.body.size() : request.body.empty());
        check(bytes.substr(consumed - request.body.size(), request.body.size()) == request.body);
        std::vector<std::string> segments;
        if (zev::splitPath(request.path, segments))
            for (const std::string &segment : segments)
                check(!segment.empty() && segment != "." && segment != ".." &&
                      segment.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos);
        std::vector<std::pair<std::string, std::string>> pairs;
        if (zev::splitQuery(request.query, pairs))
            for (const auto &[name, value] : pairs)
                check(!name.empty() && name.find('\0') == std::string::npos &&
                      value.find('\0') == std::string::npos);
        // A proxy's X-Forwarded-For: its last address, a part of the header without a comma or
        // blanks around it.
        if (const std::string *forwarded = request.header("x-forwarded-for")) {
            const std::string_view last = zev::lastForwardedAddress(*forwarded);
            check(last.find(',') == std::string_view::npos &&
                  (last.empty() || (last.front() != ' ' && last.back() != ' ')) &&
                  forwarded->find(last) != std::string::npos);
        }
        // What the API does with the rest: a path's last segment as a preset's file name,
        // the body as JSON and its entries as registers.
        if (!segments.empty() && zev::roomNameProblem(segments.back()).empty())
            check(segments.back().front() != '.' &&
                  segments.back().find_first_of("/\\") == std::string::npos);
        zev::JsonValue root;
        std::string error;
        if (zev::parseJson(request.body, root, error)) {
            if (const zev::JsonValue *list = root.find("registers"))
                for (const zev::JsonValue &item : list->items) {
                    zev::RegisterEntry entry;
                    int line = 0;
                    if (zev::registerFromJson(item, entry, line, error))
                        check(entry.row && zev::findRegister(entry.row->address) == entry.row);
                }
        }
        break;
    }
    }
    return 0;
}
