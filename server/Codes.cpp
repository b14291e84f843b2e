#include "server/Codes.h"

#include <algorithm>

namespace zev {
namespace {

constexpr AnswerCode kCodes[] = {
    {"bad-request", 400, "the request is not one the server reads"},
    {"no-login", 401, "log in first, or give an API token"},
    {"restarted", 401, "the server has restarted since this session began: log in again"},
    {"session-ended", 401, "the session has ended (logged out, idle, or its user changed)"},
    {"wrong-password", 401, "wrong user name or password"},
    {"pairing-code-not-good", 401, "a room link's code that is used, older than 10 minutes, or ended"},
    {"forbidden", 403, "the user's role does not allow it"},
    {"foreign-origin", 403, "the request comes from a page of another site"},
    {"not-desk-register", 403, "a desk user changes only the front desk's registers"},
    {"not-your-room", 403, "the room is not one of the user's rooms"},
    {"not-guest-register", 403, "a room's guests change only the registers its link allows"},
    {"not-own-change", 403, "a desk user undoes only changes of their own, by their ids"},
    {"not-found", 404, "no such path"},
    {"no-such-room", 404, "no room of that name in this venue"},
    {"no-such-preset", 404, "no preset of that name"},
    {"no-such-snapshot", 404, "no snapshot of that room on that date"},
    {"method", 405, "not a method of this path"},
    {"conflict", 409, "the request cannot be done as things are"},
    {"too-late", 409, "the change arrived more than 5 s after it was made: nothing was changed"},
    {"nothing-to-undo", 409, "nothing left to undo in the room"},
    {"settings-not-lost", 409, "the room has not lost its settings"},
    {"too-late-to-undo", 409, "a desk user's change older than 60 s, or changed since: a technician's to undo"},
    {"preset-name-taken", 409, "a preset that people would take for this one exists"},
    {"too-large", 413, "more than the server takes"},
    {"content-type", 415, "a body of another type is needed"},
    {"wrong-host", 421, "the server is not reached by that name"},
    {"invalid", 422, "a value the request gives is not one that can be taken"},
    {"slow-down", 429, "too many changes; slow down"},
    {"login-slowed", 429, "too many failed logins from this place; wait"},
    {"login-slowed-user", 429, "too many failed logins for this user; wait"},
    {"login-busy", 429, "a login from this place or for this user is under way; wait"},
    {"server-error", 500, "the server could not do it"},
    {"not-implemented", 501, "the server does not take this"},
    {"unavailable", 503, "the server cannot do it now"},
    {"room-offline", 503, "the room is not online: nothing was changed"},
    {"room-not-read", 503, "the room has not been read yet"},
    {"logins-full", 503, "the server is busy with other logins"},
    {"events-full", 503, "as many event streams as the server takes"},
    {"queue-full", 503, "too many changes wait for their rooms"},
    {"not-confirmed", 504, "the processor has not confirmed in 10 s; the change stays queued"},
    {"http-version", 505, "not HTTP/1.0 or HTTP/1.1"},
};

} // namespace

std::span<const AnswerCode> problemCodes()
{
    return kCodes;
}

const char *codeOfStatus(int status)
{
    if (status == 414 || status == 431) status = 413;
    for (const AnswerCode &code : kCodes)
        if (code.status == status) return code.code;
    return status >= 500 ? "server-error" : "bad-request";
}

bool isProblemCode(const std::string &code)
{
    return std::any_of(std::begin(kCodes), std::end(kCodes),
                       [&](const AnswerCode &c) { return code == c.code; });
}

} // namespace zev
