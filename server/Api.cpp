#include "server/Api.h"

#include "files/Json.h"
#include "files/ParameterFile.h"
#include "files/ParameterJson.h"
#include "model/RegisterMap.h"
#include "model/Shown.h"
#include "room/Difference.h"
#include "server/Codes.h"
#include "server/FramePort.h"
#include "server/LayoutJson.h"
#include "server/QrCode.h"
#include "service/Scheduler.h"
#include "service/Snapshots.h"
#include "server/Backup.h"

#include <QDateTime>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace zev {

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

bool changesSomething(const std::string &method)
{
    return method != "GET" && method != "HEAD";
}

/// What a 405 says: the methods the path takes ("GET only", "GET or PATCH", "GET, PUT or
/// DELETE").
std::string methodsText(const std::vector<std::string> &methods)
{
    if (methods.size() == 1) return methods.front() + " only";
    std::string text;
    for (std::size_t i = 0; i < methods.size(); ++i)
        text += (i == 0 ? "" : i + 1 == methods.size() ? " or " : ", ") + methods[i];
    return text;
}

} // namespace

const std::string &Api::description()
{
    static const std::string text = [] {
        QFile file(":/api/openapi.json");
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }();
    return text;
}

const std::vector<Api::Route> &Api::routes()
{
    constexpr Role viewer = Role::Viewer, desk = Role::Desk, technician = Role::Technician;
    static const char *const changesNothing = "a viewer changes nothing";
    static const std::vector<Route> table{
        {"GET", {"metrics"}, viewer, nullptr, &Api::getMetrics},
        {"GET", {"api", "v1", "server"}, viewer, nullptr, &Api::getServer},
        {"GET", {"api", "v1", "me"}, viewer, nullptr, &Api::getMe},
        {"POST", {"api", "v1", "logout"}, viewer, nullptr, &Api::logout},
        {"GET", {"api", "v1", "events"}, viewer, nullptr, &Api::events},
        {"GET", {"api", "v1", "layout"}, viewer, nullptr, &Api::getLayout},
        {"GET", {"api", "v1", "presets"}, viewer, nullptr, &Api::getPresets},
        {"GET", {"api", "v1", "limits"}, viewer, nullptr, &Api::getLimits},
        {"GET", {"api", "v1", "schedule"}, viewer, nullptr, &Api::getSchedule},
        {"PUT", {"api", "v1", "schedule"}, technician, "the schedule is a technician's", &Api::putSchedule},
        {"PUT", {"api", "v1", "limits"}, technician, "limits are a technician's", &Api::putLimits},
        {"POST", {"api", "v1", "presets", "{preset}", "recall"}, desk, changesNothing, &Api::recall},
        {"GET", {"api", "v1", "presets", "{preset}", "compare"}, viewer, nullptr, &Api::compare},
        {"GET", {"api", "v1", "presets", "{preset}"}, viewer, nullptr, &Api::getPreset},
        {"PUT", {"api", "v1", "presets", "{preset}"}, technician, "presets are a technician's", &Api::putPreset},
        {"DELETE", {"api", "v1", "presets", "{preset}"}, technician, "presets are a technician's", &Api::deletePreset},
        {"GET", {"api", "v1", "rooms"}, viewer, nullptr, &Api::getRooms},
        {"GET", {"api", "v1", "rooms", "{room}"}, viewer, nullptr, &Api::getRoom},
        {"GET", {"api", "v1", "rooms", "{room}", "registers"}, viewer, nullptr, &Api::getRoom},
        {"PATCH", {"api", "v1", "rooms", "{room}", "registers"}, desk, changesNothing, &Api::patchRegisters},
        {"GET", {"api", "v1", "rooms", "{room}", "history"}, viewer, nullptr, &Api::history},
        {"POST", {"api", "v1", "rooms", "{room}", "undo"}, desk, "a viewer changes nothing", &Api::undo},
        {"POST", {"api", "v1", "rooms", "{room}", "lock"}, desk, changesNothing, &Api::lock},
        {"GET", {"api", "v1", "rooms", "{room}", "links"}, desk, "a room's links are the staff's", &Api::getLinks},
        {"POST", {"api", "v1", "rooms", "{room}", "links"}, technician, "a room link is a technician's", &Api::makeLink},
        {"DELETE", {"api", "v1", "rooms", "{room}", "links"}, desk, changesNothing, &Api::endLinks},
        {"GET", {"api", "v1", "backup"}, technician, "backups are a technician's", &Api::getBackup},
        {"GET", {"api", "v1", "snapshots"}, technician, "snapshots are a technician's", &Api::getSnapshots},
        {"POST", {"api", "v1", "snapshots"}, technician, "snapshots are a technician's", &Api::takeSnapshot},
        {"GET", {"api", "v1", "rooms", "{room}", "snapshots"}, technician, "snapshots are a technician's", &Api::getRoomSnapshots},
        {"GET", {"api", "v1", "rooms", "{room}", "snapshots", "{date}"}, technician, "snapshots are a technician's", &Api::compareSnapshot},
        {"POST", {"api", "v1", "rooms", "{room}", "restore"}, technician, "restoring settings is a technician's", &Api::restoreLost},
        {"DELETE", {"api", "v1", "rooms", "{room}", "settings-lost"}, technician, "restoring settings is a technician's", &Api::acceptFactory},
    };
    return table;
}

bool Api::guestMay(const Route &route)
{
    // Its own room (the route's room is checked as for any user bound to rooms), that room's
    // events, its registers, and the end of its session.
    return route.handler == &Api::getRoom || route.handler == &Api::patchRegisters ||
           route.handler == &Api::events || route.handler == &Api::logout;
}

Api::Api(VenueService &service, Access &access, Events &events, Journal &journal,
         ClientAddresses &addresses, ApiOptions options, QObject *parent)
    : QObject(parent), m_service(service), m_venue(service.venue()), m_access(access),
      m_events(events), m_journal(journal), m_addresses(addresses),
      m_views{service, [this](const HeldRoom &room) { return framePortOf(room); },
              [this](const HeldRoom &room) { return m_access.links(room.name).size(); }},
      m_options(std::move(options))
{
    for (std::string &host : m_options.hosts) host = lower(host);
    QObject::connect(&m_service, &VenueService::changed, this,
                     [this](HeldRoom &room, const RegisterChange &change, const JournalEntry *entry) {
                         m_events.broadcast(changeEvent(m_views, room, change, entry), &room.name);
                     });
    QObject::connect(&m_service, &VenueService::stateChanged, this,
                     [this](HeldRoom &room) { m_events.broadcast(stateEvent(room), &room.name); });
    QObject::connect(&m_service, &VenueService::roomRead, this, [this](HeldRoom &room) { tellRoom(room); });
    // The limits in force are part of each room.
    QObject::connect(&m_service, &VenueService::limitsChanged, this, [this] {
        m_events.broadcast(JsonWriter().object().field("type", "limits").end().take());
        for (HeldRoom &room : m_venue.rooms()) tellRoom(room);
    });
    QObject::connect(&m_service, &VenueService::settingsLostChanged, this, [this](HeldRoom &room) { tellRoom(room); });
    // A guest's stream ends with its link's time.
    QObject::connect(&m_service, &VenueService::clockLooked, this, [this] {
        if (m_access.linkCount() != m_links) {
            m_links = m_access.linkCount();
            m_events.keepOnly([this](const Principal &who) { return m_access.stillValid(who); });
            for (HeldRoom &room : m_venue.rooms()) tellRoom(room);
        }
    });
    QObject::connect(&m_service, &VenueService::recalled, this,
                     [this](const std::string &preset, const RoomRecall &result) {
                         JsonWriter out;
                         out.object().field("type", "recall").field("preset", preset).key("result");
                         writeRecall(out, result);
                         m_events.broadcast(out.end().take(), &result.room);
                     });
    // A stream lasts no longer than what let it in.
    QObject::connect(&m_access, &Access::usersChanged, this, [this] {
        m_events.keepOnly([this](const Principal &who) { return m_access.stillValid(who); });
    });
}

const FramePort *Api::framePortOf(const HeldRoom &room) const
{
    const auto it = m_framePorts.find(&room);
    return it == m_framePorts.end() ? nullptr : it->second;
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
    JsonWriter hello;
    hello.object().field("type", "hello").field("now", serverClock()).field("user", who->user)
        .field("role", roleName(who->role)).key("rooms").array();
    for (const HeldRoom &room : m_venue.rooms())
        if (who->rooms.contains(room.name))
            writeRoom(hello, m_views, room, false, who->role == Role::Guest ? &who->registers : nullptr);
    if (who->role == Role::Guest) {
        hello.end().key("guest").array();
        for (const std::uint8_t address : who->registers)
            hello.object().field("name", machineName(*findRegister(address)))
                .field("title", nameForPeople(address))
                .field("english", nameForPeople(address, Language::English)).end();
    }
    hello.end().key("desk").array();
    for (const std::uint8_t address : m_service.deskRegisters())
        hello.object().field("name", machineName(*findRegister(address)))
            .field("title", nameForPeople(address)).end();
    hello.end().end();
    m_eventRefusal.clear();
    return m_events.take(socket, *who, hello.take(), m_eventRefusal);
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
    Call call{exchange, {}, {}, nullptr, {}};
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
    // The API's description, for integrators' tools: it tells nothing that the package does not.
    if (call.path == std::vector<std::string>{"api", "v1", "openapi.json"}) {
        if (request.method != "GET" && request.method != "HEAD") return respond(problem(405, "GET only"));
        HttpResponse response;
        response.body = description();
        return respond(std::move(response));
    }
    if (call.path == std::vector<std::string>{"api", "v1", "login"}) {
        if (request.method != "POST") return respond(problem(405, "POST a user and a password"));
        return login(call);
    }
    if (call.path == std::vector<std::string>{"api", "v1", "pair"}) {
        if (request.method != "POST") return respond(problem(405, "POST a room link's pairing code"));
        return pair(call);
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
    const std::string &method = call.exchange->request().method;
    const std::string asked = method == "HEAD" ? "GET" : method;
    // The routes whose pattern the path has, and the methods they take.
    std::vector<const Route *> matching;
    std::vector<std::string> methods;
    for (const Route &route : routes()) {
        if (route.pattern.size() != call.path.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < route.pattern.size() && same; ++i)
            same = route.pattern[i].front() == '{' || route.pattern[i] == call.path[i];
        if (!same) continue;
        matching.push_back(&route);
        if (std::find(methods.begin(), methods.end(), route.method) == methods.end())
            methods.push_back(route.method);
    }
    if (matching.empty()) return respond(call.exchange, problem(404, "no such path", "path"));
    // What the path names must exist before its methods are told.
    const Route &first = *matching.front();
    for (std::size_t i = 0; i < first.pattern.size(); ++i) {
        const std::string &segment = call.path[i];
        if (first.pattern[i] == "{room}") {
            call.room = m_venue.find(segment);
            if (!call.room)
                return respond(call.exchange, problem(404, "no room '" + segment + "' in this venue",
                                                      "room", "no-such-room"));
        } else if (first.pattern[i] == "{preset}") {
            if (const std::string text = Presets::nameProblem(segment); !text.empty())
                return respond(call.exchange, problem(400, "preset name: " + text, "preset"));
            call.preset = Presets::canonical(segment);
        }
    }
    const auto route = std::find_if(matching.begin(), matching.end(),
                                    [&](const Route *r) { return asked == r->method; });
    if (route == matching.end()) return respond(call.exchange, problem(405, methodsText(methods)));
    if (call.who.role == Role::Guest ? !guestMay(**route) : call.who.role < (*route)->least)
        return respond(call.exchange,
                       problem(403, call.who.role == Role::Guest ? "a room's guests reach their room alone"
                                                                 : (*route)->refused,
                               "role"));
    // A user bound to rooms reaches no other room by any route.
    if (call.room && !VenueService::reaches(actorOf(call), *call.room))
        return respond(call.exchange, problem(403, "room '" + call.room->name +
                                                       "' is not one of this user's rooms",
                                              "room", "not-your-room"));
    ((*this).*((*route)->handler))(call);
}

void Api::respond(const std::shared_ptr<HttpExchange> &exchange, HttpResponse response)
{
    ++m_responses[response.status];
    exchange->respond(std::move(response));
}

void Api::answer(Call &call, int status, std::string body)
{
    respond(call.exchange, json(status, std::move(body)));
}

void Api::refuse(Call &call, const Refusal &refusal)
{
    respond(call.exchange, problem(statusOf(refusal), refusal.detail, refusal.field, refusal.code));
}

Actor Api::actorOf(const Call &call) const
{
    return {call.who.user, call.who.role,
            call.who.role == Role::Guest ? "guest" : call.who.session.empty() ? "api" : "web",
            call.who.rooms, call.who.registers};
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

void Api::pair(Call &call)
{
    JsonValue root;
    if (!jsonBody(call, root)) return;
    const JsonValue *code = root.find("code");
    if (root.type != JsonValue::Type::Object || root.members.size() != 1 || !code ||
        code->type != JsonValue::Type::String)
        return respond(call.exchange, problem(400, "{\"code\": PAIRING-CODE}", "code"));
    const QHostAddress client =
        m_addresses.client(call.exchange->peer(), call.exchange->request().header("x-forwarded-for"));
    std::string session;
    const RoomLink *link = nullptr;
    int wait = 0;
    switch (m_access.pair(code->text, client, session, link, wait)) {
    case Access::PairResult::Slowed:
        return respond(call.exchange, problem(429, "too many wrong codes from this address; try again in " +
                                                       std::to_string(wait) + " s",
                                              "code", "login-slowed"));
    case Access::PairResult::Unknown:
        return respond(call.exchange,
                       problem(401, "this pairing code is not good (used, older than " +
                                        std::to_string(kPairingCodeSeconds / 60) +
                                        " minutes, or ended): ask the front desk for a new one",
                               "code", "pairing-code-not-good"));
    case Access::PairResult::Ok: break;
    }
    JsonWriter out;
    out.object().field("room", link->room)
        .field("until", link->until.toTimeZone(m_service.clock().zone()).toString(Qt::ISODate).toStdString())
        .key("registers").array();
    for (const std::uint8_t address : link->registers) out.string(machineName(*findRegister(address)));
    HttpResponse response = json(200, out.end().end().take());
    response.headers.emplace_back("Set-Cookie", m_access.cookie(session));
    respond(call.exchange, std::move(response));
    if (HeldRoom *room = m_venue.find(link->room)) tellRoom(*room);
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
                               json(200, JsonWriter().object().field("user", name)
                                             .field("role", roleName(who->role)).end().take());
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

bool Api::takeWrites(Call &call, double count, const char *field)
{
    const Principal &who = call.who;
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
        HttpResponse response = problem(429, "too many changes; slow down", field);
        response.headers.emplace_back(
            "Retry-After", std::to_string(int(std::ceil((count - bucket.tokens) / kWritesPerSecond))));
        respond(call.exchange, std::move(response));
        return false;
    }
    bucket.tokens -= count;
    return true;
}

void Api::getMetrics(Call &call)
{
    HttpResponse response = json(200, metrics());
    response.contentType = "text/plain; version=0.0.4; charset=utf-8";
    respond(call.exchange, std::move(response));
}

void Api::getServer(Call &call)
{
    answer(call, 200, serverJson());
}

void Api::getMe(Call &call)
{
    JsonWriter out;
    out.object().field("user", call.who.user).field("role", roleName(call.who.role));
    if (!call.who.rooms.every()) out.field("rooms", call.who.rooms.text());
    answer(call, 200, out.end().take());
}

void Api::logout(Call &call)
{
    m_access.logout(call.who.session);
    const std::string ended = call.who.session;
    m_events.keepOnly([&ended](const Principal &who) { return ended.empty() || who.session != ended; });
    HttpResponse response = json(200, "{}");
    response.headers.emplace_back("Set-Cookie", m_access.cookie({}));
    respond(call.exchange, std::move(response));
}

void Api::events(Call &call)
{
    // An upgrade that reached this far was refused by the gate's Origin or for room.
    const HttpRequest &request = call.exchange->request();
    if (!request.wantsWebSocket())
        return respond(call.exchange, problem(400, "a WebSocket: GET with Upgrade: websocket", "Upgrade"));
    if (!originAllowed(request))
        return respond(call.exchange,
                       problem(403, "the upgrade comes from a page of another site (Origin)", "Origin",
                               "foreign-origin"));
    respond(call.exchange, problem(503,
                                   m_eventRefusal.empty() ? "as many event streams as the server takes"
                                                          : m_eventRefusal,
                                   {}, "events-full"));
}

void Api::getLayout(Call &call)
{
    answer(call, 200, layoutJson());
}

void Api::tellRoom(const HeldRoom &room)
{
    JsonWriter out;
    out.object().field("type", "room").key("room");
    writeRoom(out, m_views, room, true);
    m_events.broadcast(out.end().take(), &room.name);
}

std::string Api::roomJson(const HeldRoom &room, bool allRegisters) const
{
    JsonWriter out;
    writeRoom(out, m_views, room, allRegisters);
    return out.take();
}

void Api::getRooms(Call &call)
{
    JsonWriter out;
    out.object().key("rooms").array();
    for (const HeldRoom &room : m_venue.rooms())
        if (call.who.rooms.contains(room.name)) writeRoom(out, m_views, room, false);
    answer(call, 200, out.end().end().take());
}

void Api::getRoom(Call &call)
{
    if (call.who.role != Role::Guest) return answer(call, 200, roomJson(*call.room, true));
    // A guest sees the registers it may change, no more.
    JsonWriter out;
    writeRoom(out, m_views, *call.room, false, &call.who.registers);
    answer(call, 200, out.take());
}

void Api::takeSnapshot(Call &call)
{
    if (!m_snapshots) return respond(call.exchange, problem(404, "no snapshots in this server", "path"));
    const SnapshotResult result = m_snapshots->take();
    if (result.refusal) return refuse(call, result.refusal);
    JsonWriter out;
    out.object().field("date", result.date).key("rooms").array();
    for (const std::string &room : result.rooms) out.string(room);
    out.end().key("skipped").array();
    for (const std::string &room : result.skipped) out.string(room);
    answer(call, 200, out.end().end().take());
}

void Api::getBackup(Call &call)
{
    if (m_options.state.empty()) return respond(call.exchange, problem(404, "no state folder in this server", "path"));
    if (m_backingUp)
        return respond(call.exchange, problem(409, "a backup is being made; try again when it is done", "path"));
    // Read and packed beside the event loop, so that no room waits on the disk; the files are
    // only ever replaced whole (the safe saves), so each is read as one save left it.
    m_backingUp = true;
    const QDateTime now = m_service.clock().now();
    const std::string name =
        "zev720d-backup-" + now.toTimeZone(m_service.clock().zone()).toString("yyyy-MM-dd-HHmm").toStdString() + ".tar.gz";
    QThread *worker = QThread::create([this, exchange = call.exchange, now, name,
                                       state = m_options.state, files = m_options.configFiles] {
        auto response = std::make_shared<HttpResponse>();
        std::string error;
        if (makeBackup(state, files, now.toSecsSinceEpoch(), response->body, error)) {
            response->contentType = "application/gzip";
            response->headers.emplace_back("Content-Disposition", "attachment; filename=\"" + name + "\"");
        } else {
            *response = problem(500, "the backup: " + error, "path");
        }
        QMetaObject::invokeMethod(this, [this, exchange, response] {
            m_backingUp = false;
            respond(exchange, std::move(*response));
        }, Qt::QueuedConnection);
    });
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void Api::getSnapshots(Call &call)
{
    if (!m_snapshots) return respond(call.exchange, problem(404, "no snapshots in this server", "path"));
    JsonWriter out;
    out.object().key("dates").array();
    for (const std::string &date : m_snapshots->dates()) out.string(date);
    answer(call, 200, out.end().end().take());
}

void Api::getRoomSnapshots(Call &call)
{
    if (!m_snapshots) return respond(call.exchange, problem(404, "no snapshots in this server", "path"));
    JsonWriter out;
    out.object().field("room", call.room->name).key("dates").array();
    ParameterModel model;
    for (const std::string &date : m_snapshots->dates())
        if (!m_snapshots->load(date, call.room->name, model)) out.string(date);
    answer(call, 200, out.end().end().take());
}

void Api::compareSnapshot(Call &call)
{
    if (!m_snapshots) return respond(call.exchange, problem(404, "no snapshots in this server", "path"));
    const std::string &date = call.path.back();
    ParameterModel model;
    if (const Refusal refusal = m_snapshots->load(date, call.room->name, model)) return refuse(call, refusal);
    if (!call.room->holder->mirrored())
        return respond(call.exchange, problem(503, "room '" + call.room->name + "' has not been read yet",
                                              "room", "room-not-read"));
    const RegisterImage &now = call.room->holder->mirror();
    JsonWriter out;
    out.object().field("room", call.room->name).field("date", date).key("differences").array(); // a: the snapshot's, b: the room's
    for (const std::uint8_t address : differingRegisters(model.image, now))
        writeDifference(out, address, model.image[address], now[address]);
    answer(call, 200, out.end().end().take());
}

void Api::restoreLost(Call &call)
{
    m_service.restoreLost(*call.room, actorOf(call), [this, call, name = call.room->name](const ChangeResult &result) mutable {
        if (result.refusal) return refuse(call, result.refusal);
        JsonWriter out;
        out.object().field("room", name).key("registers");
        writeRegisters(out, result.confirmed.values);
        answer(call, 200, out.end().take());
    });
}

void Api::acceptFactory(Call &call)
{
    if (const Refusal refusal = m_service.acceptFactory(*call.room, actorOf(call))) return refuse(call, refusal);
    answer(call, 200, JsonWriter().object().field("room", call.room->name).flag("settingsLost", false).end().take());
}

void Api::getLinks(Call &call)
{
    JsonWriter out;
    out.object().field("room", call.room->name).key("links").array();
    for (const RoomLink *link : m_access.links(call.room->name)) writeLink(out, *link);
    answer(call, 200, out.end().end().take());
}

void Api::writeLink(JsonWriter &out, const RoomLink &link) const
{
    out.object().field("id", link.id).flag("paired", link.paired)
        .field("until", link.until.toTimeZone(m_service.clock().zone()).toString(Qt::ISODate).toStdString())
        .field("madeBy", link.madeBy).key("registers").array();
    for (const std::uint8_t address : link.registers) out.string(machineName(*findRegister(address)));
    out.end().end();
}

void Api::makeLink(Call &call)
{
    JsonValue root;
    if (!jsonBody(call, root)) return;
    if (root.type != JsonValue::Type::Object)
        return respond(call.exchange, problem(400, "{\"until\": \"06:00\" or a date and time, \"registers\": [...]}", "body"));
    const Clock &clock = m_service.clock();
    const QDateTime now = clock.now();
    QDateTime until;
    std::vector<std::uint8_t> registers{kGuestRegisters.begin(), kGuestRegisters.end()};
    for (const JsonMember &member : root.members) {
        const JsonValue &value = member.value;
        if (member.name == "until" && value.type == JsonValue::Type::String) {
            // "06:00": the next 06:00 of the venue's clock; or a date and time with its offset.
            if (const auto minute = parseTimeOfDay(value.text)) {
                const QDateTime local = now.toTimeZone(clock.zone());
                until = QDateTime(local.date(), QTime(*minute / 60, *minute % 60), clock.zone());
                if (until <= now) until = until.addDays(1);
            } else {
                until = QDateTime::fromString(QString::fromStdString(value.text), Qt::ISODate);
                if (until.isValid() && until.timeSpec() == Qt::LocalTime) until = QDateTime();
            }
            if (!until.isValid() || until <= now || until > now.addDays(kMaxLinkDays))
                return respond(call.exchange,
                               problem(422, "until: HH:MM, or a date and time with its offset, within " +
                                                std::to_string(kMaxLinkDays) + " days",
                                       "until"));
        } else if (member.name == "registers" && value.type == JsonValue::Type::Array &&
                   value.items.size() <= 8) {
            for (std::size_t i = 0; i < value.items.size(); ++i) {
                const JsonValue &item = value.items[i];
                const RegisterRow *row = item.type == JsonValue::Type::String ? findRegisterByName(item.text) : nullptr;
                if (!row || controlKind(*row) != ControlKind::TrackBar)
                    return respond(call.exchange, problem(422, "a bar of the processor, by its name",
                                                          "registers[" + std::to_string(i) + "]"));
                if (std::find(registers.begin(), registers.end(), row->address) == registers.end())
                    registers.push_back(row->address);
            }
        } else {
            return respond(call.exchange, problem(400, "unknown field \"" + member.name + "\" (until, registers)",
                                                  member.name));
        }
    }
    if (!until.isValid())
        return respond(call.exchange, problem(422, "until: when the guests' control ends", "until"));
    std::string code;
    const RoomLink *link = m_access.makeLink(call.room->name, registers, until, call.who.user, code);
    if (!link)
        return respond(call.exchange, problem(503, "as many room links as the server keeps; end some", "room"));
    const std::string *host = call.exchange->request().header("host");
    // The code travels in the address's fragment, which a browser never sends anywhere.
    const std::string url = std::string(m_options.secure ? "https://" : "http://") + (host ? *host : "") +
                            "/guest.html#pair=" + code;
    JsonWriter out;
    out.object().field("room", call.room->name).field("url", url).field("code", code)
        .field("codeExpires", now.addSecs(kPairingCodeSeconds).toTimeZone(clock.zone()).toString(Qt::ISODate).toStdString())
        .key("link");
    writeLink(out, *link);
    out.key("qr").array();
    for (const std::string &row : qrRows(url)) out.string(row);
    out.end();
    answer(call, 201, out.end().take());
    tellRoom(*call.room);
}

void Api::endLinks(Call &call)
{
    const std::size_t ended = m_access.endLinks(call.room->name);
    m_links = m_access.linkCount();
    m_events.keepOnly([this](const Principal &who) { return m_access.stillValid(who); });
    answer(call, 200, JsonWriter().object().field("room", call.room->name).field("ended", ended).end().take());
    tellRoom(*call.room);
}

void Api::patchRegisters(Call &call)
{
    JsonValue root;
    std::string error;
    if (!jsonBody(call, root)) return;
    const JsonValue *list = root.find("registers");
    if (root.type != JsonValue::Type::Object || !list || list->type != JsonValue::Type::Array ||
        list->items.empty() || list->items.size() > kTransferSetSize)
        return respond(call.exchange,
                       problem(400,
                               "registers: a list of {\"name\", \"value\", \"shown\" or "
                               "\"step\"}, at most one per register",
                               "registers"));
    bool rules = true;
    for (const auto &member : root.members) {
        if (member.name == "rules" && member.value.type == JsonValue::Type::Bool) {
            rules = member.value.boolean;
        } else if (member.name != "registers") {
            return respond(call.exchange,
                           problem(400,
                                   member.name == "rules" ? "rules: true or false"
                                                          : "unknown field \"" + member.name + "\"",
                                   member.name));
        }
    }
    // Every entry is read and checked before anything is written: a request is taken whole or
    // not at all.
    std::vector<RegisterWish> wishes;
    for (std::size_t i = 0; i < list->items.size(); ++i) {
        const JsonValue &item = list->items[i];
        const std::string field = "registers[" + std::to_string(i) + "]";
        if (const JsonValue *step = item.find("step"); step && item.type == JsonValue::Type::Object) {
            const JsonValue *name = item.find("name");
            const RegisterRow *row = name && name->type == JsonValue::Type::String
                                         ? findRegisterByName(name->text)
                                         : nullptr;
            if (!row || item.members.size() != 2)
                return respond(call.exchange,
                               problem(422, "a step is {\"name\": REGISTER, \"step\": 1 or -1}", field));
            if (!step->isIntegerIn(-1, 1) || step->number == 0)
                return respond(call.exchange,
                               problem(422, machineName(*row) + ": step is 1 or -1, on a bar", field));
            wishes.push_back({row->address, 0, int(step->number)});
        } else {
            RegisterEntry read;
            int line = 0;
            if (!registerFromJson(item, read, line, error))
                return respond(call.exchange, problem(422, error, field));
            wishes.push_back({read.row->address, read.value, 0});
        }
    }
    const Actor actor = actorOf(call);
    if (const Refusal refusal = m_service.checkChange(actor, wishes, rules)) return refuse(call, refusal);
    if (!takeWrites(call, double(wishes.size()), "registers")) return;
    m_service.change(*call.room, actor, wishes, rules,
                     [this, call, name = call.room->name](const ChangeResult &result) mutable {
                         if (result.refusal) return refuse(call, result.refusal);
                         JsonWriter out;
                         out.object().field("room", name).key("registers");
                         writeRegisters(out, result.confirmed.values);
                         out.key("ids").array();
                         for (const std::uint64_t id : result.confirmed.ids)
                             out.number(static_cast<long long>(id));
                         out.end().flag("limited", !result.limited.empty());
                         if (!result.limited.empty()) {
                             out.key("limitedRegisters").array();
                             for (const std::uint8_t address : result.limited)
                                 out.string(machineName(*findRegister(address)));
                             out.end();
                         }
                         if (!result.limits.empty()) {
                             out.key("limits");
                             writeLimitHits(out, result.limits);
                         }
                         answer(call, 200, out.end().take());
                     });
}

void Api::lock(Call &call)
{
    m_service.lock(*call.room, actorOf(call),
                   [this, call, name = call.room->name](const ChangeResult &result) mutable {
                       if (result.refusal) return refuse(call, result.refusal);
                       answer(call, 200, JsonWriter().object().field("room", name)
                                             .flag("locked", true).end().take());
                   });
}

namespace {

std::string localText(const QDateTime &time, const QTimeZone &zone)
{
    return time.toTimeZone(zone).toString(Qt::ISODate).toStdString();
}

} // namespace

void Api::getSchedule(Call &call)
{
    if (!m_scheduler) return respond(call.exchange, problem(404, "no schedule in this server", "path"));
    const Clock &clock = m_service.clock();
    const QTimeZone zone = clock.zone();
    JsonWriter out;
    out.object().field("zone", zone.id().toStdString()).field("now", localText(clock.now(), zone));
    out.key("entries").array();
    for (const ScheduleEntry &entry : m_scheduler->entries()) writeScheduleEntry(out, entry);
    out.end().key("tonight").array();
    for (const Scheduler::Coming &coming : m_scheduler->tonight()) {
        if (!call.who.rooms.every() &&
            std::none_of(coming.rooms.begin(), coming.rooms.end(),
                         [&](const std::string &room) { return call.who.rooms.contains(room); }) &&
            !coming.rooms.empty())
            continue;
        out.object().field("name", coming.entry->name).field("at", localText(coming.at, zone));
        if (!coming.entry->recall.empty()) out.field("recall", coming.entry->recall);
        if (coming.entry->lock) out.flag("lock", true);
        out.key("rooms").array();
        for (const std::string &room : coming.rooms)
            if (call.who.rooms.contains(room)) out.string(room);
        out.end().end();
    }
    answer(call, 200, out.end().end().take());
}

void Api::putSchedule(Call &call)
{
    if (!m_scheduler) return respond(call.exchange, problem(404, "no schedule in this server", "path"));
    const std::string *type = call.exchange->request().header("content-type");
    if (!type || lower(*type).rfind("application/json", 0) != 0)
        return respond(call.exchange, problem(415, "the schedule as JSON", "Content-Type"));
    if (const Refusal refusal = m_scheduler->put(call.exchange->request().body))
        return refuse(call, refusal);
    getSchedule(call);
}

void Api::getLimits(Call &call)
{
    answer(call, 200, limitsJson(m_service.limits(), m_service.minuteNow()));
}

void Api::putLimits(Call &call)
{
    const std::string *type = call.exchange->request().header("content-type");
    if (!type || lower(*type).rfind("application/json", 0) != 0)
        return respond(call.exchange, problem(415, "the limits as JSON", "Content-Type"));
    if (const Refusal refusal = m_service.putLimits(call.exchange->request().body))
        return refuse(call, refusal);
    answer(call, 200, limitsJson(m_service.limits(), m_service.minuteNow()));
}

void Api::getPresets(Call &call)
{
    JsonWriter out;
    out.object().key("presets").array();
    for (const PresetInfo &preset : m_service.presets())
        out.object().field("name", preset.name).field("modified", preset.modified).end();
    answer(call, 200, out.end().end().take());
}

void Api::getPreset(Call &call)
{
    const HttpRequest &request = call.exchange->request();
    ParameterModel model;
    if (const Refusal refusal = m_service.loadPreset(call.preset, model)) return refuse(call, refusal);
    if (request.query == "format=dat") {
        HttpResponse response;
        response.contentType = "application/octet-stream";
        response.body = bytesOfModel(model);
        std::string encoded;
        for (unsigned char c : call.preset + ".dat")
            if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
                encoded += char(c);
            } else {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", c);
                encoded += hex;
            }
        response.headers.emplace_back("Content-Disposition", "attachment; filename*=UTF-8''" + encoded);
        return respond(call.exchange, std::move(response));
    }
    if (!request.query.empty()) return respond(call.exchange, problem(400, "only format=dat", "query"));
    answer(call, 200, parametersToJson(model));
}

void Api::deletePreset(Call &call)
{
    if (const Refusal refusal = m_service.removePreset(call.preset)) return refuse(call, refusal);
    answer(call, 200, JsonWriter().object().field("removed", call.preset).end().take());
}

void Api::putPreset(Call &call)
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
            if (const Refusal refusal = m_service.roomAsPreset(from->text, model))
                return refuse(call, refusal);
        } else if (!parametersFromJson(request.body, "body", model, error)) {
            return respond(call.exchange, problem(422, error, "body"));
        }
    } else {
        return respond(call.exchange,
                       problem(415, "JSON, or a parameter file as application/octet-stream",
                               "Content-Type"));
    }
    if (const Refusal refusal = m_service.storePreset(call.preset, model)) return refuse(call, refusal);
    answer(call, 200, JsonWriter().object().field("stored", call.preset).end().take());
}

void Api::recall(Call &call)
{
    ParameterModel model;
    if (const Refusal refusal = m_service.recallable(call.preset, model)) return refuse(call, refusal);
    JsonValue root;
    if (!jsonBody(call, root)) return;
    const JsonValue *list = root.find("rooms");
    if (root.type != JsonValue::Type::Object || root.members.size() != 1 || !list)
        return respond(call.exchange, problem(400, "{\"rooms\": [ROOM...]} or \"all\"", "rooms"));
    std::vector<HeldRoom *> rooms;
    if (list->type == JsonValue::Type::String && list->text == "all") {
        // Every room of the user's.
        for (HeldRoom &room : m_venue.rooms())
            if (call.who.rooms.contains(room.name)) rooms.push_back(&room);
    } else if (list->type == JsonValue::Type::Array && !list->items.empty()) {
        for (std::size_t i = 0; i < list->items.size(); ++i) {
            const JsonValue &item = list->items[i];
            HeldRoom *room = item.type == JsonValue::Type::String ? m_venue.find(item.text) : nullptr;
            const std::string field = "rooms[" + std::to_string(i) + "]";
            if (!room)
                return respond(call.exchange, problem(404, "no such room in this venue", field, "no-such-room"));
            if (std::find(rooms.begin(), rooms.end(), room) != rooms.end())
                return respond(call.exchange, problem(400, room->name + ": given twice", field));
            if (!VenueService::reaches(actorOf(call), *room))
                return respond(call.exchange,
                               problem(403, "room '" + room->name + "' is not one of this user's rooms",
                                       field, "not-your-room"));
            rooms.push_back(room);
        }
    } else {
        return respond(call.exchange, problem(400, "{\"rooms\": [ROOM...]} or \"all\"", "rooms"));
    }
    // A desk user recalls what a technician stored; every register of it goes out.
    if (!takeWrites(call, double(rooms.size()), "rooms")) return;
    m_service.recall(call.preset, model, rooms, actorOf(call),
                     [this, call](const std::vector<RoomRecall> &results) mutable {
                         JsonWriter out;
                         out.object().field("preset", call.preset).key("results").array();
                         for (const RoomRecall &result : results) writeRecall(out, result);
                         answer(call, 200, out.end().end().take());
                     });
}

void Api::compare(Call &call)
{
    std::vector<RoomComparison> rooms;
    ParameterModel model;
    if (const Refusal refusal = m_service.compare(call.preset, rooms, &model)) return refuse(call, refusal);
    JsonWriter out;
    out.object().field("preset", call.preset).key("rooms").array();
    for (const RoomComparison &room : rooms) {
        if (!call.who.rooms.contains(room.room->name)) continue;
        out.object().field("room", room.room->name).key("differs");
        if (!room.differs) {
            out.null(); // not read yet: nothing to compare
        } else {
            out.array();
            for (const std::uint8_t address : *room.differs)
                writeComparison(out, address, model.image[address], room.room->holder->mirror()[address]);
            out.end();
        }
        out.end();
    }
    answer(call, 200, out.end().end().take());
}

void Api::history(Call &call)
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
                           problem(400, "only limit, from 1 to " + std::to_string(kHistoryPerRoom), name));
        limit = std::stoul(value);
    }
    JsonWriter out;
    out.object().field("room", call.room->name).key("changes").array();
    for (const JournalEntry *entry : m_service.history(*call.room, limit)) writeHistoryEntry(out, *entry);
    answer(call, 200, out.end().end().take());
}

void Api::undo(Call &call)
{
    const HttpRequest &request = call.exchange->request();
    UndoRequest wanted;
    if (!request.body.empty()) {
        JsonValue root;
        if (!jsonBody(call, root)) return;
        if (root.type != JsonValue::Type::Object || root.members.size() > 1)
            return respond(call.exchange,
                           problem(400, "{\"count\": N}, {\"since\": TIME} or {\"ids\": [ID...]}", "body"));
        for (const auto &member : root.members) {
            if (member.name == "count" && member.value.isIntegerIn(1, double(kHistoryPerRoom))) {
                wanted.count = std::size_t(member.value.number);
            } else if (member.name == "ids" && member.value.type == JsonValue::Type::Array &&
                       !member.value.items.empty() && member.value.items.size() <= kHistoryPerRoom &&
                       std::all_of(member.value.items.begin(), member.value.items.end(),
                                   [](const JsonValue &id) { return id.isIntegerIn(1, 9007199254740991.0); })) {
                for (const JsonValue &id : member.value.items) wanted.ids.insert(std::uint64_t(id.number));
            } else if (member.name == "since" && member.value.type == JsonValue::Type::String) {
                const QDateTime time =
                    QDateTime::fromString(QString::fromStdString(member.value.text), Qt::ISODateWithMs);
                if (!time.isValid())
                    return respond(call.exchange,
                                   problem(400, "since: not a time (2026-12-09T21:30:00Z)", "since"));
                wanted.since = time.toUTC().toString(Qt::ISODateWithMs).toStdString();
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
    m_service.undo(*call.room, actorOf(call), wanted,
                   [this, call, name = call.room->name](const UndoResult &result) mutable {
                       if (result.refusal) return refuse(call, result.refusal);
                       JsonWriter out;
                       out.object().field("room", name).key("undone").array();
                       for (const std::uint64_t id : result.undone) out.number(static_cast<long long>(id));
                       out.end().key("registers");
                       writeRegisters(out, result.confirmed.values);
                       answer(call, 200, out.end().take());
                   });
}

std::string Api::serverJson() const
{
    std::map<std::string, int> states;
    for (HeldRoom &room : m_venue.rooms()) ++states[stateName(room.holder->state())];
    JsonWriter out;
    out.object().field("version", ZEV720_VERSION).field("rooms", m_venue.rooms().size()).key("states").object();
    for (const char *state : {"online", "connecting", "offline", "stopped"}) out.field(state, states[state]);
    const auto up = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started);
    out.end().field("eventClients", m_events.clients()).field("uptimeSeconds", std::llround(up.count()));
    return out.end().take();
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
    // Each room's own: whether it is up, its state (an offline one's reason as a code), and
    // the desk's bars as they show (dB, steps), for alerts and dashboards.
    out += "# HELP zev720d_room_up Whether the room's processor is online.\n"
           "# TYPE zev720d_room_up gauge\n";
    for (HeldRoom &room : m_venue.rooms())
        out += "zev720d_room_up{" + label(room.name) + "} " +
               (room.holder->state() == RoomHolder::State::Online ? "1" : "0") + "\n";
    out += "# HELP zev720d_room_state The room's state (1 for the one it is in); reason: why it "
           "is offline, as a code.\n# TYPE zev720d_room_state gauge\n";
    for (HeldRoom &room : m_venue.rooms()) {
        const std::string now = stateName(room.holder->state());
        const std::string reason = room.holder->state() == RoomHolder::State::Offline ? offlineCode(room) : "";
        for (const char *state : {"online", "connecting", "offline", "stopped"})
            out += "zev720d_room_state{" + label(room.name) + ",state=\"" + state + "\",reason=\"" +
                   (now == state ? reason : "") + "\"} " + (now == state ? "1" : "0") + "\n";
    }
    out += "# HELP zev720d_register The front desk's bars as the room's processor holds them, in "
           "the unit they show (dB, steps).\n# TYPE zev720d_register gauge\n";
    for (HeldRoom &room : m_venue.rooms()) {
        if (!room.holder->mirrored()) continue;
        for (const std::uint8_t address : m_service.deskRegisters()) {
            const RegisterRow &row = *findRegister(address);
            const auto number = numberShown(shownValue(row, room.holder->mirror()[address]));
            if (!number) continue;
            char text[32];
            std::snprintf(text, sizeof text, "%g", *number);
            out += "zev720d_register{" + label(room.name) + ",register=\"" + machineName(row) + "\"} " + text + "\n";
        }
    }
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
    out += "# HELP zev720d_room_at_limit A bar that a limit in force holds at its max (bound=max) "
           "or min, for the role.\n# TYPE zev720d_room_at_limit gauge\n";
    for (HeldRoom &room : m_venue.rooms())
        for (const Role role : {Role::Desk, Role::Guest})
            for (const BarEnds &ends : m_service.limitEnds(room, role))
                out += "zev720d_room_at_limit{" + label(room.name) + ",register=\"" +
                       machineName(*findRegister(ends.address)) + "\",role=\"" + roleName(role) +
                       "\",bound=\"" + (ends.top ? "max" : "min") + "\"} 1\n";
    out += "# HELP zev720d_room_settings_lost Whether the room's unit was found to have lost its "
           "settings (holding the factory's), until they are restored or accepted.\n"
           "# TYPE zev720d_room_settings_lost gauge\n";
    for (HeldRoom &room : m_venue.rooms())
        out += "zev720d_room_settings_lost{" + label(room.name) + "} " + (room.settingsLost.empty() ? "0" : "1") + "\n";
    counter("zev720d_unit_changes_total", "Registers found changed at the unit itself (its panel, its remote, another program).",
            [](HeldRoom &r) { return r.holder->counters().unitChanges; });
    counter("zev720d_limited_total", "Registers a limit held: in a change, a recall, or when a limit began.",
            [](HeldRoom &r) { return r.limited; });
    counter("zev720d_frame_port_frames_refused_total",
            "Frames refused by a frame port: writes to no register, or of a value no control shows.",
            [this](HeldRoom &r) { const FramePort *p = framePortOf(r); return p ? p->refusedFrames() : 0; });
    counter("zev720d_frame_port_clients_closed_total",
            "Frame port connections closed for bytes that are no frame.",
            [this](HeldRoom &r) { const FramePort *p = framePortOf(r); return p ? p->closedClients() : 0; });
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
