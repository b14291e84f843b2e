#include "server/Api.h"

#include "files/Json.h"
#include "files/ParameterFile.h"
#include "files/ParameterJson.h"
#include "model/EditRules.h"
#include "model/Shown.h"
#include "server/Codes.h"
#include "server/LayoutJson.h"

#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace zev {

struct Api::Waiting {
    HeldRoom *room = nullptr;
    std::set<std::uint8_t> addresses;        ///< not confirmed yet
    Confirmed got; ///< confirmed, with the processor's value
    std::unique_ptr<QTimer> timer;
    Done done;
};

namespace {

std::string lower(std::string text)
{
    for (char &c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// "name", "name:port", "[v6]", "[v6]:port" into name and port (0 when none).
bool splitHost(const std::string &text, std::string &name, int &port)
{
    std::string rest;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) return false;
        name = text.substr(0, close + 1);
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = text.find(':');
        name = text.substr(0, colon);
        rest = colon == std::string::npos ? "" : text.substr(colon);
    }
    port = 0;
    if (rest.empty()) return !name.empty();
    if (rest.front() != ':' || rest.size() < 2 || rest.size() > 6) return false;
    for (std::size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] < '0' || rest[i] > '9') return false;
        port = port * 10 + (rest[i] - '0');
    }
    return !name.empty() && port > 0 && port < 65536;
}

HttpResponse json(int status, std::string body)
{
    HttpResponse response;
    response.status = status;
    response.body = std::move(body) + "\n";
    return response;
}

std::string nowText()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
}

bool changesSomething(const std::string &method)
{
    return method != "GET" && method != "HEAD";
}

} // namespace

Api::Api(Venue &venue, Access &access, Events &events, Journal &journal, Presets &presets,
         ClientAddresses &addresses, ApiOptions options, QObject *parent)
    : QObject(parent), m_venue(venue), m_access(access), m_events(events), m_journal(journal),
      m_presets(presets), m_addresses(addresses), m_options(std::move(options))
{
    for (std::string &host : m_options.hosts) host = lower(host);
    QObject::connect(&m_venue, &Venue::changed, this,
                     [this](HeldRoom &room, const RegisterChange &change) { confirmed(room, change); });
    QObject::connect(&m_venue, &Venue::stateChanged, this,
                     [this](HeldRoom &room) { roomState(room); });
    // A stream lasts no longer than what let it in.
    QObject::connect(&m_access, &Access::usersChanged, this, [this] {
        m_events.keepOnly([this](const Principal &who) { return m_access.stillValid(who); });
    });
    QObject::connect(&m_venue, &Venue::mirrorRead, this, [this](HeldRoom &room) {
        // The lock as the processor holds it, read with the room.
        room.locked = room.holder->mirror()[kLockAddress] == kCommandValue;
        m_events.broadcast("{\"type\":\"room\",\"room\":" + roomSummary(room, true) + "}");
    });
}

bool Api::isOwnName(const std::string &text) const
{
    std::string name;
    int port = 0;
    if (!splitHost(lower(text), name, port)) return false;
    const int given = port ? port : (m_options.secure ? 443 : 80);
    // A name given with a port (a proxy's, "desk-pc:80") is that name at that port alone;
    // one without, at the port the server listens on.
    return std::any_of(m_options.hosts.begin(), m_options.hosts.end(), [&](const std::string &own) {
        std::string ownName;
        int ownPort = 0;
        return splitHost(own, ownName, ownPort) && ownName == name &&
               given == (ownPort ? ownPort : m_options.port);
    });
}

bool Api::hostAllowed(const HttpRequest &request) const
{
    const std::string *host = request.header("host");
    return host && isOwnName(*host);
}

bool Api::originAllowed(const HttpRequest &request) const
{
    const std::string *origin = request.header("origin");
    // A script sends no Origin; a browser always does on these requests. Without one, the
    // request must not ride on a browser's cookie.
    if (!origin) return !request.header("cookie");
    const std::string scheme = m_options.secure ? "https://" : "http://";
    const std::string text = lower(*origin);
    return text.rfind(scheme, 0) == 0 && isOwnName(text.substr(scheme.size()));
}

bool Api::upgrade(const HttpRequest &request, QTcpSocket *socket)
{
    std::vector<std::string> path;
    if (!splitPath(request.path, path) || path != std::vector<std::string>{"api", "v1", "events"} ||
        !hostAllowed(request) || !originAllowed(request))
        return false; // the handler answers it with the reason
    const auto who = m_access.identify(request.header("authorization"), request.header("cookie"));
    if (!who) return false;
    std::string hello = "{\"type\":\"hello\",\"now\":" + std::to_string(serverClock()) +
                        ",\"user\":" + jsonQuoted(who->user) +
                        ",\"role\":" + jsonQuoted(roleName(who->role)) + ",\"rooms\":[";
    bool first = true;
    for (HeldRoom &room : m_venue.rooms()) {
        hello += (first ? "" : ",") + roomSummary(room, false);
        first = false;
    }
    hello += "],\"desk\":[";
    for (std::size_t i = 0; i < m_options.deskRegisters.size(); ++i)
        hello += std::string(i ? "," : "") + "{\"name\":" +
                 jsonQuoted(machineName(*findRegister(m_options.deskRegisters[i]))) + ",\"title\":" +
                 jsonQuoted(nameForPeople(m_options.deskRegisters[i])) + "}";
    m_eventRefusal.clear();
    return m_events.take(socket, *who, hello + "]}", m_eventRefusal);
}

void Api::handle(const std::shared_ptr<HttpExchange> &exchange)
{
    const HttpRequest &request = exchange->request();
    const auto respond = [&](HttpResponse response) {
        ++m_responses[response.status];
        exchange->respond(std::move(response));
    };
    if (!hostAllowed(request))
        return respond(problem(421, "this server is not reached by that name (Host)", "Host"));
    Call call{exchange, {}, {}};
    if (!splitPath(request.path, call.path))
        return respond(problem(404, "no such path", "path"));
    // The pages: anyone who reaches the server by its name may load them; what they show
    // comes from the API behind the gate.
    if (m_web && (call.path.empty() || (call.path.front() != "api" && call.path.front() != "metrics"))) {
        if (request.method != "GET" && request.method != "HEAD")
            return respond(problem(405, "pages are read with GET"));
        return respond(m_web->get(call.path));
    }
    if (changesSomething(request.method) && !originAllowed(request))
        return respond(problem(403, "the request comes from a page of another site (Origin)",
                               "Origin", "foreign-origin"));
    if (call.path == std::vector<std::string>{"api", "v1", "login"}) {
        if (request.method != "POST") return respond(problem(405, "POST a user and a password"));
        return login(call);
    }
    const auto who = m_access.identify(request.header("authorization"), request.header("cookie"));
    if (!who) {
        const std::string ended = m_access.sessionProblem(request.header("cookie"));
        HttpResponse response =
            ended == "restarted"
                ? problem(401, "the server has restarted since this session began: log in again",
                          {}, "restarted")
            : ended == "session-ended"
                ? problem(401, "the session has ended: log in again", {}, "session-ended")
                : problem(401, "log in first, or give an API token");
        response.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"zev720d\"");
        return respond(std::move(response));
    }
    call.who = *who;
    exchange->vouch();
    // A change made on a page says when, in this server's clock: one that arrives late (a
    // network that held it) is not made at some time nobody chose.
    if (const std::string *made = request.header("zev720-made-at"); made && changesSomething(request.method)) {
        char *end = nullptr;
        const long long at = std::strtoll(made->c_str(), &end, 10);
        if (made->empty() || *end)
            return respond(problem(400, "Zev720-Made-At: milliseconds of the server's clock",
                                   "Zev720-Made-At"));
        const long long late = serverClock() - at;
        if (late > kMaxChangeDelayMs || late < -kMaxChangeDelayMs)
            return respond(problem(409,
                                   "the change arrived " + std::to_string(late / 1000) + "." +
                                       std::to_string(std::llabs(late % 1000) / 100) +
                                       " s after it was made (more than " +
                                       std::to_string(kMaxChangeDelayMs / 1000) +
                                       " s): nothing was changed",
                                   "Zev720-Made-At", "too-late"));
    }
    route(call);
}

void Api::route(Call &call)
{
    const HttpRequest &request = call.exchange->request();
    const std::vector<std::string> &path = call.path;
    const std::string &method = request.method;
    const auto respond = [&](HttpResponse response) {
        ++m_responses[response.status];
        call.exchange->respond(std::move(response));
    };
    const bool get = method == "GET" || method == "HEAD";
    if (path == std::vector<std::string>{"metrics"}) {
        if (!get) return respond(problem(405, "GET only"));
        HttpResponse response = json(200, metrics());
        response.contentType = "text/plain; version=0.0.4; charset=utf-8";
        return respond(std::move(response));
    }
    if (path.size() < 3 || path[0] != "api" || path[1] != "v1")
        return respond(problem(404, "no such path", "path"));
    const std::string &what = path[2];
    if (what == "server" && path.size() == 3) {
        if (!get) return respond(problem(405, "GET only"));
        return respond(json(200, serverJson()));
    }
    if (what == "me" && path.size() == 3) {
        if (!get) return respond(problem(405, "GET only"));
        return respond(json(200, "{\"user\":" + jsonQuoted(call.who.user) + ",\"role\":" +
                                     jsonQuoted(roleName(call.who.role)) + "}"));
    }
    if (what == "logout" && path.size() == 3) {
        if (method != "POST") return respond(problem(405, "POST only"));
        m_access.logout(call.who.session);
        const std::string ended = call.who.session;
        m_events.keepOnly([&ended](const Principal &who) { return ended.empty() || who.session != ended; });
        HttpResponse response = json(200, "{}");
        response.headers.emplace_back("Set-Cookie", m_access.cookie({}));
        return respond(std::move(response));
    }
    if (what == "events" && path.size() == 3) {
        // An upgrade that reached this far was refused by the gate's Origin or for room.
        if (!request.wantsWebSocket())
            return respond(problem(400, "a WebSocket: GET with Upgrade: websocket", "Upgrade"));
        if (!originAllowed(request))
            return respond(problem(403, "the upgrade comes from a page of another site (Origin)",
                                   "Origin", "foreign-origin"));
        return respond(problem(503,
                               m_eventRefusal.empty() ? "as many event streams as the server takes"
                                                      : m_eventRefusal,
                               {}, "events-full"));
    }
    if (what == "layout" && path.size() == 3) {
        if (!get) return respond(problem(405, "GET only"));
        return respond(json(200, layoutJson()));
    }
    if (what == "presets") return presets(call);
    if (what != "rooms") return respond(problem(404, "no such path", "path"));
    if (path.size() == 3) {
        if (!get) return respond(problem(405, "GET only"));
        std::string body = "{\"rooms\":[";
        bool first = true;
        for (HeldRoom &room : m_venue.rooms()) {
            body += (first ? "" : ",") + roomSummary(room, false);
            first = false;
        }
        return respond(json(200, body + "]}"));
    }
    HeldRoom *room = m_venue.find(path[3]);
    if (!room)
        return respond(problem(404, "no room '" + path[3] + "' in this venue", "room", "no-such-room"));
    if (path.size() == 4) {
        if (!get) return respond(problem(405, "GET only"));
        return respond(json(200, roomSummary(*room, true)));
    }
    if (path.size() == 5 && path[4] == "registers") {
        if (get) return respond(json(200, roomSummary(*room, true)));
        if (method != "PATCH") return respond(problem(405, "GET or PATCH"));
        if (call.who.role == Role::Viewer)
            return respond(problem(403, "a viewer changes nothing", "role"));
        return patchRegisters(call, *room);
    }
    if (path.size() == 5 && path[4] == "history") {
        if (!get) return respond(problem(405, "GET only"));
        return history(call, *room);
    }
    if (path.size() == 5 && path[4] == "undo") {
        if (method != "POST") return respond(problem(405, "POST only"));
        if (call.who.role != Role::Technician)
            return respond(problem(403, "undo is a technician's", "role"));
        return undo(call, *room);
    }
    if (path.size() == 5 && path[4] == "lock") {
        if (method != "POST") return respond(problem(405, "POST only"));
        if (call.who.role == Role::Viewer)
            return respond(problem(403, "a viewer changes nothing", "role"));
        return lock(call, *room);
    }
    return respond(problem(404, "no such path", "path"));
}

bool Api::jsonBody(Call &call, JsonValue &root)
{
    const HttpRequest &request = call.exchange->request();
    const std::string *type = request.header("content-type");
    std::string error;
    if (!type || lower(*type).rfind("application/json", 0) != 0) {
        respond(call.exchange, problem(415, "the body is JSON (Content-Type: application/json)",
                                       "Content-Type"));
        return false;
    }
    if (!parseJson(request.body, root, error)) {
        respond(call.exchange, problem(400, error, "body"));
        return false;
    }
    return true;
}

void Api::login(Call &call)
{
    const auto exchange = call.exchange;
    const auto respond = [this, exchange](HttpResponse response) {
        ++m_responses[response.status];
        exchange->respond(std::move(response));
    };
    JsonValue root;
    if (!jsonBody(call, root)) return;
    const JsonValue *user = root.find("user");
    const JsonValue *password = root.find("password");
    if (root.type != JsonValue::Type::Object || !user || user->type != JsonValue::Type::String)
        return respond(problem(400, "a user name is needed", "user"));
    if (!password || password->type != JsonValue::Type::String)
        return respond(problem(400, "a password is needed", "password"));
    for (const auto &member : root.members)
        if (member.name != "user" && member.name != "password")
            return respond(problem(400, "unknown field \"" + member.name + "\"", member.name));
    if (user->text.size() > kMaxUserNameBytes)
        return respond(problem(400, "user: at most " + std::to_string(kMaxUserNameBytes) + " bytes",
                               "user"));
    const std::string name = user->text;
    const QHostAddress client =
        m_addresses.client(call.exchange->peer(), call.exchange->request().header("x-forwarded-for"));
    m_access.login(name, password->text, client,
                   [this, respond, name](Access::LoginResult result, const std::string &session,
                                         int wait) {
                       using Result = Access::LoginResult;
                       if (result == Result::Ok) {
                           const auto who = m_access.sessionPrincipal(session);
                           if (!who)
                               return respond(problem(401, "wrong user name or password", "password",
                                                      "wrong-password"));
                           HttpResponse response =
                               json(200, "{\"user\":" + jsonQuoted(name) + ",\"role\":" +
                                             jsonQuoted(roleName(who->role)) + "}");
                           response.headers.emplace_back("Set-Cookie", m_access.cookie(session));
                           return respond(std::move(response));
                       }
                       const std::string later = "try again in " + std::to_string(wait) + " s";
                       HttpResponse response =
                           result == Result::Wrong
                               ? problem(401, "wrong user name or password", "password", "wrong-password")
                           : result == Result::Slowed
                               ? problem(429, "too many failed logins from this address; " + later, {},
                                         "login-slowed")
                           : result == Result::UserSlowed
                               ? problem(429, "too many failed logins for this user; " + later +
                                                  ", or from a PC the user has logged in from",
                                         "user", "login-slowed-user")
                           : result == Result::Busy
                               ? problem(429, "a login from this address or for this user is under "
                                              "way; " + later, {}, "login-busy")
                               : problem(503, "the server is busy with other logins; " + later, {},
                                         "logins-full");
                       if (result != Result::Wrong)
                           response.headers.emplace_back("Retry-After", std::to_string(wait));
                       respond(std::move(response));
                   });
}

bool Api::takeWrites(const Principal &who, double count, int &retryAfter)
{
    const std::string key = who.session.empty() ? "token " + who.user : who.session;
    const auto now = std::chrono::steady_clock::now();
    if (m_buckets.size() > 4 * kMaxSessions) m_buckets.clear(); // full buckets, every one
    auto [it, fresh] = m_buckets.try_emplace(key, Bucket{kWriteBurst, now});
    Bucket &bucket = it->second;
    bucket.tokens = std::min(kWriteBurst, bucket.tokens +
                                              std::chrono::duration<double>(now - bucket.at).count() *
                                                  kWritesPerSecond);
    bucket.at = now;
    if (count > bucket.tokens) {
        retryAfter = int(std::ceil((count - bucket.tokens) / kWritesPerSecond));
        return false;
    }
    bucket.tokens -= count;
    return true;
}

void Api::patchRegisters(Call &call, HeldRoom &room)
{
    const auto respond = [&](HttpResponse response) {
        ++m_responses[response.status];
        call.exchange->respond(std::move(response));
    };
    JsonValue root;
    std::string error;
    if (!jsonBody(call, root)) return;
    const JsonValue *list = root.find("registers");
    if (root.type != JsonValue::Type::Object || !list || list->type != JsonValue::Type::Array ||
        list->items.empty() || list->items.size() > kTransferSetSize)
        return respond(problem(400,
                               "registers: a list of {\"name\", \"value\", \"shown\" or "
                               "\"step\"}, at most one per register",
                               "registers"));
    bool rules = true;
    for (const auto &member : root.members) {
        if (member.name == "rules" && member.value.type == JsonValue::Type::Bool) {
            rules = member.value.boolean;
            if (!rules && call.who.role != Role::Technician)
                return respond(problem(403, "rules: only a technician writes past the rules", "rules"));
        } else if (member.name != "registers") {
            return respond(problem(400,
                                   member.name == "rules" ? "rules: true or false"
                                                          : "unknown field \"" + member.name + "\"",
                                   member.name));
        }
    }
    // Every entry is checked before anything is written: a request is taken whole or not at all.
    struct Wanted {
        const RegisterRow *row;
        std::uint8_t value;
        int step; ///< +1 or -1: one position up or down the bar from where it stands
    };
    std::vector<Wanted> wanted;
    for (std::size_t i = 0; i < list->items.size(); ++i) {
        const JsonValue &item = list->items[i];
        const std::string field = "registers[" + std::to_string(i) + "]";
        Wanted entry{nullptr, 0, 0};
        if (const JsonValue *step = item.find("step"); step && item.type == JsonValue::Type::Object) {
            const JsonValue *name = item.find("name");
            entry.row = name && name->type == JsonValue::Type::String
                            ? findRegisterByName(name->text)
                            : nullptr;
            if (!entry.row || item.members.size() != 2)
                return respond(problem(422, "a step is {\"name\": REGISTER, \"step\": 1 or -1}", field));
            if (!step->isIntegerIn(-1, 1) || step->number == 0 ||
                controlKind(*entry.row) != ControlKind::TrackBar)
                return respond(problem(422, machineName(*entry.row) +
                                                ": step is 1 or -1, on a bar", field));
            entry.step = int(step->number);
        } else {
            RegisterEntry read;
            int line = 0;
            if (!registerFromJson(item, read, line, error)) return respond(problem(422, error, field));
            if (!controlShows(*read.row, read.value))
                return respond(problem(422, machineName(*read.row) + ": value " +
                                                std::to_string(read.value) +
                                                " is no value that this control shows",
                                       field));
            entry.row = read.row;
            entry.value = read.value;
        }
        for (const Wanted &other : wanted)
            if (other.row == entry.row)
                return respond(problem(422, machineName(*entry.row) + ": given twice", field));
        if (call.who.role == Role::Desk &&
            std::find(m_options.deskRegisters.begin(), m_options.deskRegisters.end(),
                      entry.row->address) == m_options.deskRegisters.end())
            return respond(problem(403, machineName(*entry.row) + ": not a front desk control",
                                   field, "not-desk-register"));
        wanted.push_back(entry);
    }
    int retryAfter = 0;
    if (!takeWrites(call.who, double(wanted.size()), retryAfter)) {
        HttpResponse response = problem(429, "too many changes; slow down", "registers");
        response.headers.emplace_back("Retry-After", std::to_string(retryAfter));
        return respond(std::move(response));
    }
    // The changes are made, in the order given, on a copy of what the processor holds, by the
    // rules the panel's controls follow: a coupled bar moves its partner, a mode brings back
    // its block. What ends different from the processor is written.
    ParameterModel work = room.modes;
    work.image = room.holder->mirror();
    // Limited: a register that the rules kept from the value asked (a volume held under its
    // maximum bar, a step at the end of its bar): the answer names them.
    std::vector<std::string> limited;
    std::map<std::uint8_t, std::uint8_t> asked;
    for (const Wanted &entry : wanted) {
        std::uint8_t value = entry.value;
        if (entry.step) {
            const auto stepped = steppedValue(*entry.row, work.image[entry.row->address], entry.step);
            if (!stepped) { // at the end of the bar already
                limited.push_back(machineName(*entry.row));
                continue;
            }
            value = *stepped;
        }
        asked[entry.row->address] = value;
        if (rules)
            applyEdit(work, entry.row->address, value);
        else
            work.image[entry.row->address] = value;
    }
    for (const auto &[address, value] : asked)
        if (work.image[address] != value) limited.push_back(machineName(*findRegister(address)));
    std::map<std::uint8_t, std::uint8_t> writes;
    for (const RegisterRow &row : registerMap())
        if (work.image[row.address] != room.holder->mirror()[row.address])
            writes[row.address] = work.image[row.address];
    // The mode memories follow the choice as soon as it is taken, as the panel's do.
    if (room.holder->state() == RoomHolder::State::Online && room.modes.modeSlots != work.modeSlots) {
        room.modes.modeSlots = work.modeSlots;
        modesChanged(room);
    }
    const std::string name = room.name;
    writeAndWait(call, room, writes, [name, limited](const Confirmed &got) {
        std::string body = "{\"room\":" + jsonQuoted(name) + ",\"registers\":[";
        bool first = true;
        for (const auto &[address, value] : got.values) {
            body += (first ? "" : ",") + registerToJson(*findRegister(address), value);
            first = false;
        }
        body += "],\"ids\":[";
        for (std::size_t i = 0; i < got.ids.size(); ++i) body += (i ? "," : "") + std::to_string(got.ids[i]);
        body += "],\"limited\":";
        body += limited.empty() ? "false" : "true";
        if (!limited.empty()) {
            body += ",\"limitedRegisters\":[";
            for (std::size_t i = 0; i < limited.size(); ++i) body += (i ? "," : "") + jsonQuoted(limited[i]);
            body += "]";
        }
        return body + "}";
    });
}

void Api::respond(const std::shared_ptr<HttpExchange> &exchange, HttpResponse response)
{
    ++m_responses[response.status];
    exchange->respond(std::move(response));
}

void Api::startWrites(HeldRoom &room, const std::map<std::uint8_t, std::uint8_t> &writes,
                      const std::string &who, Done done)
{
    // Refused while the room is not there: a change made now would go out at some later time
    // nobody chose.
    if (room.holder->state() != RoomHolder::State::Online)
        return done(503,
                    "room '" + room.name + "' is " + stateName(room.holder->state()) +
                        (room.holder->reason().empty() ? "" : ": " + room.holder->reason()) +
                        "; nothing was changed",
                    "room-offline", {});
    if (m_waiting.size() >= kMaxWaitingRequests)
        return done(503, "too many changes wait for their rooms; nothing was changed", "queue-full",
                    {});
    if (writes.empty()) return done(200, {}, nullptr, {});
    auto waiting = std::make_shared<Waiting>();
    waiting->room = &room;
    waiting->done = std::move(done);
    for (const auto &[address, value] : writes) waiting->addresses.insert(address);
    waiting->timer = std::make_unique<QTimer>();
    waiting->timer->setSingleShot(true);
    QObject::connect(waiting->timer.get(), &QTimer::timeout, this, [this, raw = waiting.get()] {
        const auto it = std::find_if(m_waiting.begin(), m_waiting.end(),
                                     [raw](const auto &w) { return w.get() == raw; });
        if (it == m_waiting.end()) return;
        const auto held = *it;
        m_waiting.erase(it);
        held->done(504,
                   "the processor has not confirmed in " +
                       std::to_string(kConfirmTimeoutMs / 1000) +
                       " s; what it has not confirmed stays queued and goes out when the room "
                       "can take it",
                   "not-confirmed", held->got);
    });
    waiting->timer->start(kConfirmTimeoutMs);
    m_waiting.push_back(waiting);
    for (const auto &[address, value] : writes) room.holder->write(address, value, who);
}

void Api::writeAndWait(Call &call, HeldRoom &room,
                       const std::map<std::uint8_t, std::uint8_t> &writes, Body body)
{
    startWrites(room, writes, whoOf(call.who.session.empty() ? "api" : "web", call.who.user),
                [this, exchange = call.exchange, body = std::move(body)](
                    int status, const std::string &why, const char *code, const auto &got) {
                    respond(exchange, status == 200
                                          ? json(200, body(got))
                                          : problem(status, why, status == 503 ? "room" : "", code));
                });
}

void Api::lock(Call &call, HeldRoom &room)
{
    const std::string name = room.name;
    writeAndWait(call, room, {{kLockAddress, kCommandValue}},
                 [name](const auto &) { return "{\"room\":" + jsonQuoted(name) + ",\"locked\":true}"; });
}

void Api::presets(Call &call)
{
    const HttpRequest &request = call.exchange->request();
    const std::vector<std::string> &path = call.path;
    const std::string &method = request.method;
    const bool get = method == "GET" || method == "HEAD";
    if (path.size() == 3) {
        if (!get) return respond(call.exchange, problem(405, "GET only"));
        std::string body = "{\"presets\":[";
        bool first = true;
        for (const PresetInfo &preset : m_presets.list()) {
            body += std::string(first ? "" : ",") + "{\"name\":" + jsonQuoted(preset.name) +
                    ",\"modified\":" + jsonQuoted(preset.modified) + "}";
            first = false;
        }
        return respond(call.exchange, json(200, body + "]}"));
    }
    if (const std::string problemText = Presets::nameProblem(path[3]); !problemText.empty())
        return respond(call.exchange, problem(400, "preset name: " + problemText, "preset"));
    const std::string name = Presets::canonical(path[3]);
    if (path.size() == 5 && path[4] == "recall") {
        if (method != "POST") return respond(call.exchange, problem(405, "POST only"));
        if (call.who.role == Role::Viewer)
            return respond(call.exchange, problem(403, "a viewer changes nothing", "role"));
        return recall(call, name);
    }
    if (path.size() == 5 && path[4] == "compare") {
        if (!get) return respond(call.exchange, problem(405, "GET only"));
        return compare(call, name);
    }
    if (path.size() != 4) return respond(call.exchange, problem(404, "no such path", "path"));
    if (get) {
        ParameterModel model;
        std::string error;
        bool missing = false;
        if (!m_presets.load(name, model, error, &missing))
            return respond(call.exchange, problem(missing ? 404 : 500, error, "preset", missing ? "no-such-preset" : nullptr));
        if (request.query == "format=dat") {
            HttpResponse response;
            response.contentType = "application/octet-stream";
            response.body = bytesOfModel(model);
            std::string encoded;
            for (unsigned char c : name + ".dat")
                if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
                    encoded += char(c);
                } else {
                    char hex[4];
                    std::snprintf(hex, sizeof hex, "%%%02X", c);
                    encoded += hex;
                }
            response.headers.emplace_back("Content-Disposition",
                                          "attachment; filename*=UTF-8''" + encoded);
            return respond(call.exchange, std::move(response));
        }
        if (!request.query.empty())
            return respond(call.exchange, problem(400, "only format=dat", "query"));
        HttpResponse response = json(200, parametersToJson(model));
        return respond(call.exchange, std::move(response));
    }
    if (call.who.role != Role::Technician)
        return respond(call.exchange, problem(403, "presets are a technician's", "role"));
    if (method == "DELETE") {
        std::string error;
        if (!m_presets.remove(name, error))
            return respond(call.exchange, problem(404, error, "preset"));
        return respond(call.exchange, json(200, "{\"removed\":" + jsonQuoted(name) + "}"));
    }
    if (method != "PUT") return respond(call.exchange, problem(405, "GET, PUT or DELETE"));
    storePreset(call, name);
}

void Api::storePreset(Call &call, const std::string &name)
{
    const HttpRequest &request = call.exchange->request();
    const std::string *type = request.header("content-type");
    const std::string kind = type ? lower(*type) : "";
    ParameterModel model;
    std::string error;
    if (kind.rfind("application/octet-stream", 0) == 0) {
        if (!modelFromBytes(request.body, model))
            return respond(call.exchange,
                           problem(422,
                                   "not a parameter file (" + std::to_string(request.body.size()) +
                                       " bytes, not " + std::to_string(kParameterFileSize) + ")",
                                   "body"));
    } else if (kind.rfind("application/json", 0) == 0) {
        JsonValue root;
        if (!parseJson(request.body, root, error))
            return respond(call.exchange, problem(400, error, "body"));
        const JsonValue *from = root.find("fromRoom");
        if (root.type == JsonValue::Type::Object && from) {
            if (root.members.size() != 1 || from->type != JsonValue::Type::String)
                return respond(call.exchange, problem(400, "{\"fromRoom\": ROOM} alone", "fromRoom"));
            HeldRoom *room = m_venue.find(from->text);
            if (!room)
                return respond(call.exchange, problem(404, "no room '" + from->text + "' in this venue",
                                                      "fromRoom", "no-such-room"));
            if (!room->holder->mirrored())
                return respond(call.exchange,
                               problem(503, "room '" + room->name + "' has not been read yet",
                                       "fromRoom", "room-not-read"));
            model.startAfresh();
            model.image = room->holder->mirror();
            model.modeSlots = room->modes.modeSlots;
        } else if (!parametersFromJson(request.body, "body", model, error)) {
            return respond(call.exchange, problem(422, error, "body"));
        }
    } else {
        return respond(call.exchange,
                       problem(415, "JSON, or a parameter file as application/octet-stream",
                               "Content-Type"));
    }
    // Nothing is kept that a recall would send and no control of the panel could make.
    if (const auto unshown = firstUnshownValue(model))
        return respond(call.exchange, problem(422, unshown->detail, unshown->field));
    switch (m_presets.store(name, model, error)) {
    case Presets::Stored::Yes: break;
    case Presets::Stored::LookAlike:
        return respond(call.exchange, problem(409, error, "preset", "preset-name-taken"));
    case Presets::Stored::BadName: return respond(call.exchange, problem(400, error, "preset"));
    case Presets::Stored::TooMany: return respond(call.exchange, problem(409, error, "preset"));
    case Presets::Stored::Failed: return respond(call.exchange, problem(500, error, "preset"));
    }
    respond(call.exchange, json(200, "{\"stored\":" + jsonQuoted(name) + "}"));
}

void Api::recall(Call &call, const std::string &name)
{
    ParameterModel model;
    std::string error;
    bool missing = false;
    if (!m_presets.load(name, model, error, &missing))
        return respond(call.exchange, problem(missing ? 404 : 500, error, "preset", missing ? "no-such-preset" : nullptr));
    // One stored before presets were checked, or put in the folder by hand.
    if (const auto unshown = firstUnshownValue(model))
        return respond(call.exchange,
                       problem(422, "preset '" + name + "': " + unshown->detail +
                                        "; nothing was recalled (store it again)",
                               unshown->field));
    JsonValue root;
    if (!jsonBody(call, root)) return;
    const JsonValue *list = root.find("rooms");
    if (root.type != JsonValue::Type::Object || root.members.size() != 1 || !list)
        return respond(call.exchange, problem(400, "{\"rooms\": [ROOM...]} or \"all\"", "rooms"));
    std::vector<HeldRoom *> rooms;
    if (list->type == JsonValue::Type::String && list->text == "all") {
        for (HeldRoom &room : m_venue.rooms()) rooms.push_back(&room);
    } else if (list->type == JsonValue::Type::Array && !list->items.empty()) {
        for (std::size_t i = 0; i < list->items.size(); ++i) {
            const JsonValue &item = list->items[i];
            HeldRoom *room = item.type == JsonValue::Type::String ? m_venue.find(item.text) : nullptr;
            const std::string field = "rooms[" + std::to_string(i) + "]";
            if (!room)
                return respond(call.exchange, problem(404, "no such room in this venue", field, "no-such-room"));
            if (std::find(rooms.begin(), rooms.end(), room) != rooms.end())
                return respond(call.exchange, problem(400, room->name + ": given twice", field));
            rooms.push_back(room);
        }
    } else {
        return respond(call.exchange, problem(400, "{\"rooms\": [ROOM...]} or \"all\"", "rooms"));
    }
    // A desk user recalls what a technician stored; every register of it goes out.
    int retryAfter = 0;
    if (!takeWrites(call.who, double(rooms.size()), retryAfter)) {
        HttpResponse response = problem(429, "too many changes; slow down", "rooms");
        response.headers.emplace_back("Retry-After", std::to_string(retryAfter));
        return respond(call.exchange, std::move(response));
    }
    struct Results {
        std::vector<std::string> lines;
        std::size_t left = 0;
    };
    auto results = std::make_shared<Results>();
    results->lines.resize(rooms.size());
    results->left = rooms.size();
    const std::string who = whoOf(call.who.session.empty() ? "api" : "web", call.who.user);
    for (std::size_t i = 0; i < rooms.size(); ++i) {
        HeldRoom &room = *rooms[i];
        std::map<std::uint8_t, std::uint8_t> writes;
        if (room.holder->mirrored())
            for (const RegisterRow &row : registerMap())
                if (room.holder->mirror()[row.address] != model.image[row.address])
                    writes[row.address] = model.image[row.address];
        const RegisterImage wanted = model.image;
        // The preset's mode memories come with it, as opening the file in the panel brings them.
        if (room.holder->state() == RoomHolder::State::Online && room.modes.modeSlots != model.modeSlots) {
            room.modes.modeSlots = model.modeSlots;
            modesChanged(room);
        }
        startWrites(room, writes, who,
                    [this, results, i, exchange = call.exchange, name, roomName = room.name, wanted,
                     held = &room](int status, const std::string &why, const char *code, const auto &) {
                        std::string line = "{\"room\":" + jsonQuoted(roomName);
                        std::string differs;
                        if (status == 200)
                            for (const RegisterRow &row : registerMap())
                                if (held->holder->mirror()[row.address] != wanted[row.address])
                                    differs += (differs.empty() ? "" : ",") +
                                               jsonQuoted(machineName(row));
                        if (status != 200)
                            line += ",\"result\":\"failed\",\"code\":" +
                                    jsonQuoted(code ? code : codeOfStatus(status)) +
                                    reasonCode(*held) + ",\"detail\":" + jsonQuoted(why);
                        else if (!differs.empty())
                            line += ",\"result\":\"differs\",\"differs\":[" + differs + "]";
                        else
                            line += ",\"result\":\"ok\"";
                        line += "}";
                        m_events.broadcast("{\"type\":\"recall\",\"preset\":" + jsonQuoted(name) +
                                           ",\"result\":" + line + "}");
                        results->lines[i] = line;
                        if (--results->left) return;
                        std::string body = "{\"preset\":" + jsonQuoted(name) + ",\"results\":[";
                        for (std::size_t k = 0; k < results->lines.size(); ++k)
                            body += (k ? "," : "") + results->lines[k];
                        respond(exchange, json(200, body + "]}"));
                    });
    }
}

void Api::compare(Call &call, const std::string &name)
{
    ParameterModel model;
    std::string error;
    bool missing = false;
    if (!m_presets.load(name, model, error, &missing))
        return respond(call.exchange, problem(missing ? 404 : 500, error, "preset", missing ? "no-such-preset" : nullptr));
    std::string body = "{\"preset\":" + jsonQuoted(name) + ",\"rooms\":[";
    bool firstRoom = true;
    for (HeldRoom &room : m_venue.rooms()) {
        body += std::string(firstRoom ? "" : ",") + "{\"room\":" + jsonQuoted(room.name) + ",\"differs\":";
        firstRoom = false;
        if (!room.holder->mirrored()) {
            body += "null}"; // not read yet: nothing to compare
            continue;
        }
        body += "[";
        bool first = true;
        for (const RegisterRow &row : registerMap()) {
            const std::uint8_t here = room.holder->mirror()[row.address];
            if (here == model.image[row.address]) continue;
            body += std::string(first ? "" : ",") + "{\"name\":" + jsonQuoted(machineName(row)) +
                    ",\"title\":" + jsonQuoted(nameForPeople(row.address)) +
                    ",\"shown\":" + jsonQuoted(shownValue(row, here)) +
                    ",\"preset\":" + jsonQuoted(shownValue(row, model.image[row.address])) + "}";
            first = false;
        }
        body += "]}";
    }
    respond(call.exchange, json(200, body + "]}"));
}

void Api::history(Call &call, HeldRoom &room)
{
    std::vector<std::pair<std::string, std::string>> query;
    std::size_t limit = 100;
    if (!splitQuery(call.exchange->request().query, query))
        return respond(call.exchange, problem(400, "the query is malformed", "query"));
    for (const auto &[name, value] : query) {
        if (name != "limit" || value.empty() || value.size() > 4 ||
            value.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(value) == 0 || std::stoul(value) > kHistoryPerRoom)
            return respond(call.exchange,
                           problem(400,
                                   "only limit, from 1 to " + std::to_string(kHistoryPerRoom),
                                   name));
        limit = std::stoul(value);
    }
    const std::deque<JournalEntry> &entries = m_journal.history(room.name);
    std::string body = "{\"room\":" + jsonQuoted(room.name) + ",\"changes\":[";
    std::size_t count = 0;
    for (auto it = entries.rbegin(); it != entries.rend() && count < limit; ++it, ++count) {
        const RegisterRow &row = *findRegister(it->address);
        std::string line = journalLine(*it);
        line.pop_back(); // the closing brace: what people read is added
        body += (count ? "," : "") + line + ",\"title\":" + jsonQuoted(nameForPeople(row.address)) +
                ",\"beforeShown\":" + jsonQuoted(shownValue(row, it->before)) +
                ",\"afterShown\":" + jsonQuoted(shownValue(row, it->after)) +
                ",\"undone\":" + (it->undone ? "true" : "false") + "}";
    }
    respond(call.exchange, json(200, body + "]}"));
}

void Api::undo(Call &call, HeldRoom &room)
{
    const HttpRequest &request = call.exchange->request();
    std::size_t count = 1;
    std::string since;
    std::set<std::uint64_t> ids; ///< these changes, a page's one step, and no others
    if (!request.body.empty()) {
        JsonValue root;
        if (!jsonBody(call, root)) return;
        if (root.type != JsonValue::Type::Object || root.members.size() > 1)
            return respond(call.exchange,
                           problem(400, "{\"count\": N}, {\"since\": TIME} or {\"ids\": [ID...]}", "body"));
        for (const auto &member : root.members) {
            if (member.name == "count" && member.value.isIntegerIn(1, double(kHistoryPerRoom))) {
                count = std::size_t(member.value.number);
            } else if (member.name == "ids" && member.value.type == JsonValue::Type::Array &&
                       !member.value.items.empty() && member.value.items.size() <= kHistoryPerRoom &&
                       std::all_of(member.value.items.begin(), member.value.items.end(),
                                   [](const JsonValue &id) { return id.isIntegerIn(1, 9007199254740991.0); })) {
                for (const JsonValue &id : member.value.items) ids.insert(std::uint64_t(id.number));
            } else if (member.name == "since" && member.value.type == JsonValue::Type::String) {
                const QDateTime time =
                    QDateTime::fromString(QString::fromStdString(member.value.text), Qt::ISODateWithMs);
                if (!time.isValid())
                    return respond(call.exchange,
                                   problem(400, "since: not a time (2026-12-09T21:30:00Z)", "since"));
                since = time.toUTC().toString(Qt::ISODateWithMs).toStdString();
            } else {
                return respond(call.exchange,
                               problem(400,
                                       member.name == "count"
                                           ? "count: from 1 to " + std::to_string(kHistoryPerRoom)
                                       : member.name == "ids"
                                           ? "ids: a list of up to " + std::to_string(kHistoryPerRoom) +
                                                 " change ids, as history gives them"
                                           : "unknown field \"" + member.name + "\"",
                                       member.name));
            }
        }
    }
    // The latest changes that are not undone and are no undo themselves, newest first; each
    // register goes back to its value before the oldest of them.
    const std::deque<JournalEntry> &entries = m_journal.history(room.name);
    std::map<std::uint8_t, std::uint8_t> writes;
    std::map<std::uint8_t, std::vector<std::uint64_t>> byRegister;
    std::vector<std::uint64_t> undone;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->undone || !it->undoes.empty()) continue;
        if (!ids.empty()) {
            if (!ids.count(it->id)) continue;
        } else if (since.empty() ? undone.size() == count : it->time <= since) {
            break;
        }
        writes[it->address] = it->before;
        byRegister[it->address].push_back(it->id);
        undone.push_back(it->id);
    }
    if (writes.empty())
        return respond(call.exchange,
                       problem(409, "nothing to undo in room '" + room.name + "'", {}, "nothing-to-undo"));
    for (const auto &[address, value] : writes) m_undoing[{&room, address}] = {value, byRegister[address]};
    const std::string name = room.name;
    writeAndWait(call, room, writes, [name, undone](const Confirmed &got) {
        std::string body = "{\"room\":" + jsonQuoted(name) + ",\"undone\":[";
        for (std::size_t i = 0; i < undone.size(); ++i)
            body += (i ? "," : "") + std::to_string(undone[i]);
        body += "],\"registers\":[";
        bool first = true;
        for (const auto &[address, value] : got.values) {
            body += (first ? "" : ",") + registerToJson(*findRegister(address), value);
            first = false;
        }
        return body + "]}";
    });
}

void Api::confirmed(HeldRoom &room, const RegisterChange &change)
{
    const JournalEntry *entry = nullptr;
    if (change.address != kLockAddress && change.before != change.after &&
        findRegister(change.address)) {
        const auto [through, user] = splitWho(change.who);
        JournalEntry line{0, {}, room.name, change.address, change.before, change.after,
                          user, through, {}};
        const auto undoing = m_undoing.find({&room, change.address});
        if (undoing != m_undoing.end()) {
            if (undoing->second.value == change.after) line.undoes = undoing->second.ids;
            m_undoing.erase(undoing);
        }
        entry = &m_journal.append(std::move(line));
    }
    if (entry || change.address == kLockAddress)
        m_events.broadcast(changeEvent(room, change, entry));
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        Waiting &waiting = **it;
        if (waiting.room != &room || !waiting.addresses.erase(change.address)) {
            ++it;
            continue;
        }
        waiting.got.values[change.address] = change.after;
        if (entry) waiting.got.ids.push_back(entry->id);
        if (!waiting.addresses.empty()) {
            ++it;
            continue;
        }
        const auto held = *it;
        it = m_waiting.erase(it);
        held->done(200, {}, nullptr, held->got);
    }
}

void Api::keepModeMemories(const std::string &folder)
{
    m_modes = std::make_unique<Presets>(folder);
    for (HeldRoom &room : m_venue.rooms()) {
        ParameterModel kept;
        std::string error;
        bool missing = false;
        if (m_modes->load(room.name, kept, error, &missing)) {
            // Only the slots are kept from the file: they alone are checked.
            ParameterModel memories;
            memories.startAfresh();
            memories.loadFactoryValues();
            memories.modeSlots = kept.modeSlots;
            if (const auto unshown = firstUnshownValue(memories))
                std::fprintf(stderr, "%s: mode memories from the factory: %s\n", room.name.c_str(),
                             unshown->detail.c_str());
            else
                room.modes.modeSlots = kept.modeSlots;
        } else if (!missing) {
            std::fprintf(stderr, "%s: mode memories from the factory: %s\n", room.name.c_str(),
                         error.c_str());
        }
    }
}

void Api::modesChanged(HeldRoom &room)
{
    if (!m_modes) return;
    ParameterModel kept = room.modes;
    kept.image = room.holder->mirror();
    std::string error;
    if (m_modes->store(room.name, kept, error) != Presets::Stored::Yes)
        std::fprintf(stderr, "%s: mode memories not kept: %s\n", room.name.c_str(), error.c_str());
}

void Api::roomState(HeldRoom &room)
{
    std::string event = "{\"type\":\"state\",\"room\":" + jsonQuoted(room.name) +
                        ",\"state\":" + jsonQuoted(stateName(room.holder->state()));
    if (room.holder->state() == RoomHolder::State::Offline)
        event += ",\"reason\":" + jsonQuoted(room.holder->reason()) + reasonCode(room);
    m_events.broadcast(event + ",\"time\":" + jsonQuoted(nowText()) + "}");
    if (room.holder->state() != RoomHolder::State::Offline) return;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if ((*it)->room != &room) {
            ++it;
            continue;
        }
        const auto held = *it;
        it = m_waiting.erase(it);
        held->done(503,
                   "room '" + room.name + "' went offline (" + room.holder->reason() +
                       "); what it had not confirmed stays queued for its return",
                   "room-offline", held->got);
    }
}

std::string Api::reasonCode(const HeldRoom &room)
{
    if (room.holder->state() != RoomHolder::State::Offline) return {};
    return ",\"reasonCode\":" + jsonQuoted(outcomeCode(room.holder->reasonOutcome()));
}

std::string Api::deskEnds(const HeldRoom &room) const
{
    // Where a desk register's − or + would change nothing, by the panel's rules (a volume at
    // its maximum bar, a bar at its end): "top", "bottom", or both.
    if (!room.holder->mirrored()) return {};
    std::string out;
    for (const std::uint8_t address : m_options.deskRegisters) {
        const RegisterRow &row = *findRegister(address);
        if (controlKind(row) != ControlKind::TrackBar) continue;
        std::string ends;
        for (const int step : {1, -1}) {
            ParameterModel work = room.modes;
            work.image = room.holder->mirror();
            const auto stepped = steppedValue(row, work.image[address], step);
            if (stepped) applyEdit(work, address, *stepped);
            if (!stepped || work.image[address] == room.holder->mirror()[address])
                ends += std::string(ends.empty() ? "" : ",") + (step > 0 ? "\"top\"" : "\"bottom\"");
        }
        if (!ends.empty())
            out += std::string(out.empty() ? "" : ",") + jsonQuoted(machineName(row)) + ":[" + ends + "]";
    }
    return ",\"ends\":{" + out + "}";
}

std::string Api::roomSummary(HeldRoom &room, bool allRegisters) const
{
    const RoomHolder &holder = *room.holder;
    std::string out = "{\"name\":" + jsonQuoted(room.name) +
                      ",\"state\":" + jsonQuoted(stateName(holder.state()));
    if (holder.state() == RoomHolder::State::Offline)
        out += ",\"reason\":" + jsonQuoted(holder.reason()) + reasonCode(room);
    if (holder.state() == RoomHolder::State::Connecting && holder.readTotal() > 0)
        out += ",\"progress\":{\"done\":" + std::to_string(holder.readDone()) +
               ",\"of\":" + std::to_string(holder.readTotal()) + "}";
    out += ",\"locked\":" + std::string(!room.locked ? "null" : *room.locked ? "true" : "false");
    out += ",\"pending\":" + std::to_string(holder.pendingWrites());
    if (room.port) out += ",\"framePort\":" + std::to_string(room.port->port());
    out += deskEnds(room);
    out += ",\"registers\":[";
    if (holder.mirrored()) {
        bool first = true;
        for (const RegisterRow &row : registerMap()) {
            if (!allRegisters && std::find(m_options.deskRegisters.begin(),
                                           m_options.deskRegisters.end(),
                                           row.address) == m_options.deskRegisters.end())
                continue;
            out += (first ? "" : ",") + registerToJson(row, holder.mirror()[row.address]);
            first = false;
        }
    }
    return out + "]}";
}

std::string Api::changeEvent(HeldRoom &room, const RegisterChange &change,
                             const JournalEntry *entry) const
{
    const auto [through, user] = splitWho(change.who);
    std::string out = "{\"type\":\"change\",\"room\":" + jsonQuoted(room.name);
    if (change.address == kLockAddress) {
        out += ",\"locked\":true";
    } else if (const RegisterRow *row = findRegister(change.address)) {
        out += ",\"register\":" + registerToJson(*row, change.after) +
               ",\"before\":" + std::to_string(change.before) +
               ",\"beforeShown\":" + jsonQuoted(shownValue(*row, change.before)) +
               ",\"locked\":false";
        if (entry) {
            out += ",\"id\":" + std::to_string(entry->id);
            if (!entry->undoes.empty()) {
                out += ",\"undoes\":[";
                for (std::size_t i = 0; i < entry->undoes.size(); ++i)
                    out += (i ? "," : "") + std::to_string(entry->undoes[i]);
                out += "]";
            }
        }
    } else {
        out += ",\"address\":" + std::to_string(change.address) +
               ",\"value\":" + std::to_string(change.after);
    }
    return out + deskEnds(room) + ",\"user\":" + jsonQuoted(user) + ",\"through\":" +
           jsonQuoted(through) + ",\"time\":" + jsonQuoted(nowText()) + "}";
}

std::string Api::serverJson() const
{
    std::map<std::string, int> states;
    for (HeldRoom &room : m_venue.rooms()) ++states[stateName(room.holder->state())];
    std::string out = "{\"version\":" + jsonQuoted(ZEV720_VERSION) +
                      ",\"rooms\":" + std::to_string(m_venue.rooms().size()) + ",\"states\":{";
    bool first = true;
    for (const char *state : {"online", "connecting", "offline", "stopped"}) {
        out += std::string(first ? "" : ",") + "\"" + state + "\":" + std::to_string(states[state]);
        first = false;
    }
    const auto up = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started);
    return out + "},\"eventClients\":" + std::to_string(m_events.clients()) +
           ",\"uptimeSeconds\":" + std::to_string(std::llround(up.count())) + "}";
}

std::string Api::metrics() const
{
    std::string out;
    const auto label = [](const std::string &room) {
        std::string escaped;
        for (char c : room) {
            if (c == '\\' || c == '"') escaped += '\\';
            if (c == '\n') {
                escaped += "\\n";
                continue;
            }
            escaped += c;
        }
        return "room=\"" + escaped + "\"";
    };
    std::map<std::string, int> states;
    for (HeldRoom &room : m_venue.rooms()) ++states[stateName(room.holder->state())];
    out += "# HELP zev720d_rooms Rooms by the state of their processor's line.\n"
           "# TYPE zev720d_rooms gauge\n";
    for (const char *state : {"online", "connecting", "offline", "stopped"})
        out += std::string("zev720d_rooms{state=\"") + state + "\"} " +
               std::to_string(states[state]) + "\n";
    const auto counter = [&](const char *name, const char *help, auto value) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " counter\n";
        for (HeldRoom &room : m_venue.rooms())
            out += std::string(name) + "{" + label(room.name) + "} " +
                   std::to_string(value(room)) + "\n";
    };
    counter("zev720d_frames_sent_total", "Frames sent to the processor, resent ones included.",
            [](HeldRoom &r) { return r.holder->counters().framesSent; });
    counter("zev720d_frames_resent_total", "Frames sent again for want of a reply.",
            [](HeldRoom &r) { return r.holder->counters().framesResent; });
    counter("zev720d_registers_unanswered_total", "Registers whose every frame went unanswered.",
            [](HeldRoom &r) { return r.holder->counters().unanswered; });
    counter("zev720d_reconnects_total", "Times a room came back online after being offline.",
            [](HeldRoom &r) { return r.holder->counters().reconnects; });
    counter("zev720d_frame_port_frames_refused_total",
            "Frames refused by a frame port: writes to no register, or of a value no control shows.",
            [](HeldRoom &r) { return r.port ? r.port->refusedFrames() : 0; });
    counter("zev720d_frame_port_clients_closed_total",
            "Frame port connections closed for bytes that are no frame.",
            [](HeldRoom &r) { return r.port ? r.port->closedClients() : 0; });
    out += "# HELP zev720d_write_latency_seconds From a write's queueing to the processor's "
           "confirmation.\n# TYPE zev720d_write_latency_seconds histogram\n";
    for (HeldRoom &room : m_venue.rooms()) {
        for (std::size_t i = 0; i < kLatencyBuckets.size(); ++i) {
            char bound[32];
            std::snprintf(bound, sizeof bound, "%g", kLatencyBuckets[i]);
            out += "zev720d_write_latency_seconds_bucket{" + label(room.name) + ",le=\"" + bound +
                   "\"} " + std::to_string(room.latency[i]) + "\n";
        }
        char sum[32];
        std::snprintf(sum, sizeof sum, "%.6f", room.latencySum);
        out += "zev720d_write_latency_seconds_bucket{" + label(room.name) + ",le=\"+Inf\"} " +
               std::to_string(room.writes) + "\n";
        out += "zev720d_write_latency_seconds_sum{" + label(room.name) + "} " + sum + "\n";
        out += "zev720d_write_latency_seconds_count{" + label(room.name) + "} " +
               std::to_string(room.writes) + "\n";
    }
    out += "# HELP zev720d_event_clients WebSocket clients of the event stream.\n"
           "# TYPE zev720d_event_clients gauge\nzev720d_event_clients " +
           std::to_string(m_events.clients()) + "\n";
    out += "# HELP zev720d_event_clients_dropped_total Event clients dropped for not reading.\n"
           "# TYPE zev720d_event_clients_dropped_total counter\n"
           "zev720d_event_clients_dropped_total " +
           std::to_string(m_events.dropped()) + "\n";
    out += "# HELP zev720d_journal_write_errors_total Journal lines that could not be written.\n"
           "# TYPE zev720d_journal_write_errors_total counter\n"
           "zev720d_journal_write_errors_total " +
           std::to_string(m_journal.failedWrites()) + "\n";
    out += "# HELP zev720d_logins_total Login attempts by result.\n"
           "# TYPE zev720d_logins_total counter\n";
    const std::pair<Access::LoginResult, const char *> results[] = {
        {Access::LoginResult::Ok, "ok"},          {Access::LoginResult::Wrong, "wrong"},
        {Access::LoginResult::Slowed, "slowed"},  {Access::LoginResult::UserSlowed, "user_slowed"},
        {Access::LoginResult::Busy, "busy"},      {Access::LoginResult::Full, "full"}};
    for (const auto &[result, name] : results) {
        const auto it = m_access.loginCounts().find(result);
        out += std::string("zev720d_logins_total{result=\"") + name + "\"} " +
               std::to_string(it == m_access.loginCounts().end() ? 0 : it->second) + "\n";
    }
    if (m_http) {
        out += "# HELP zev720d_http_connections Connections of the API, event streams included.\n"
               "# TYPE zev720d_http_connections gauge\nzev720d_http_connections " +
               std::to_string(m_http->connections()) + "\n";
        out += "# HELP zev720d_http_connections_closed_total Connections closed by a bound: "
               "refused at once, given way to another, or past a deadline.\n"
               "# TYPE zev720d_http_connections_closed_total counter\n"
               "zev720d_http_connections_closed_total{reason=\"refused\"} " +
               std::to_string(m_http->refused()) +
               "\nzev720d_http_connections_closed_total{reason=\"gave_way\"} " +
               std::to_string(m_http->gaveWay()) +
               "\nzev720d_http_connections_closed_total{reason=\"deadline\"} " +
               std::to_string(m_http->timedOut()) + "\n";
    }
    out += "# HELP zev720d_http_responses_total HTTP responses by status.\n"
           "# TYPE zev720d_http_responses_total counter\n";
    for (const auto &[status, count] : m_responses)
        out += "zev720d_http_responses_total{status=\"" + std::to_string(status) + "\"} " +
               std::to_string(count) + "\n";
    return out;
}

} // namespace zev
