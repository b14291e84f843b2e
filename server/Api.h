// The venue server's HTTP API, version 1, and the gate every request passes first.
//
//   GET   /api/v1/openapi.json              anyone      this list as OpenAPI 3.1, with every
//                                                       request, answer and problem
//   GET   /api/v1/server                    viewer      version, rooms per state, clients
//   POST  /api/v1/login                     anyone      {"user", "password"}: a session cookie
//   POST  /api/v1/pair                      anyone      {"code"}: a room link's pairing code
//                                                       gives a guest session of that room
//   POST  /api/v1/logout                    a session
//   GET   /api/v1/me                        viewer      who the request is from
//   GET   /api/v1/rooms                     viewer      every room: state, lock, desk registers
//   GET   /api/v1/rooms/{room}              viewer      one room with all 56 registers
//   GET   /api/v1/layout                    viewer      the panel's pages and controls
//   PATCH /api/v1/rooms/{room}/registers    desk        {"registers": [{"name", "value",
//                                                       "shown" or "step"}], "rules"}: made by
//                                                       the panel's rules, answered once
//                                                       confirmed
//   POST  /api/v1/rooms/{room}/lock         desk        the processor's lock command
//   GET   /api/v1/rooms/{room}/links        desk        the room's links for its tablet
//   POST  /api/v1/rooms/{room}/links        technician  {"until", "registers"}: a new link, its
//                                                       pairing code as an address and a QR code
//   DELETE /api/v1/rooms/{room}/links       desk        ends the room's links and its guests
//   POST  /api/v1/rooms/{room}/restore      technician  writes back what a unit that lost its
//                                                       settings held before
//   DELETE /api/v1/rooms/{room}/settings-lost technician  the factory's settings are wanted
//   GET   /api/v1/backup                    technician  a .tar.gz of the presets, mode memories,
//                                                       limits, schedule, snapshots and config
//                                                       (server/Backup), never the users
//   GET   /api/v1/snapshots                 technician  the dates of the nightly snapshots
//   POST  /api/v1/snapshots                 technician  every room's settings kept now
//   GET   /api/v1/rooms/{room}/snapshots    technician  the room's snapshots
//   GET   /api/v1/rooms/{room}/snapshots/{date} technician  one compared with the room now
//   GET   /api/v1/rooms/{room}/history      viewer      its latest changes (?limit=N)
//   POST  /api/v1/rooms/{room}/undo         desk        {"count"}, {"since"} or {"ids"}: the
//                                                       values before those changes, back
//                                                       through the room's queue; a desk
//                                                       user's own changes by ids, within 60 s
//   GET   /api/v1/limits                    viewer      the limits of roles, rooms and hours
//   PUT   /api/v1/limits                    technician  new limits (service/Limits), in force
//                                                       at once
//   GET   /api/v1/schedule                  viewer      the entries, and what runs in the next
//                                                       24 hours with the rooms it touches
//   PUT   /api/v1/schedule                  technician  a new schedule (service/Schedule)
//   GET   /api/v1/presets                   viewer      the presets
//   GET   /api/v1/presets/{name}            viewer      as zev720ctl show --json, or the
//                                                       parameter file (?format=dat)
//   PUT   /api/v1/presets/{name}            technician  {"fromRoom": ROOM}, a show --json
//                                                       document, or a .dat file's bytes
//   DELETE /api/v1/presets/{name}           technician
//   GET   /api/v1/presets/{name}/compare    viewer      each room's registers that differ
//   POST  /api/v1/presets/{name}/recall     desk        {"rooms": [ROOM...]} or "all": each
//                                                       room's result, ok, differs or failed
//   GET   /api/v1/events                    viewer      a WebSocket of events
//   GET   /metrics                          viewer      Prometheus text
//   GET   /, /venue.html, ...               anyone      the pages (WebFiles)
//
// The gate, in order: the Host header must name this server (so a page on another site that
// has its name resolve to a loopback address reaches nothing); the request must come from a
// user (a session cookie, or a Bearer token); the user's role must allow it; a request that
// changes something, and every WebSocket upgrade, must come from one of this server's own
// pages (Origin) or carry no Origin and no cookie (a script); a body must be JSON. Desk users
// change only the registers of `deskRegisters`; a user bound to rooms reaches no other room
// (403), sees no other in lists and events. A guest (a room's tablet) reaches its room's GET,
// its registers' PATCH and its events alone (403 for every other route and room). Errors are RFC 9457 problems naming the field.
//
// Behind the gate, a route table (method and path pattern to a handler and the least role it
// needs) sends each request to a handler that reads its input, asks the venue service, and
// answers with the views (server/Views). Nothing here changes a room by itself.
#pragma once

#include "files/Json.h"
#include "server/Access.h"
#include "server/Events.h"
#include "server/HttpServer.h"
#include "server/Views.h"
#include "server/WebFiles.h"
#include "service/VenueService.h"

#include <QObject>
#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zev {

class FramePort;
class Scheduler;
class Snapshots;

/// Registers one client may have written a second, and at once.
constexpr double kWritesPerSecond = 50;
constexpr double kWriteBurst = 200;
/// A change whose Zev720-Made-At is older than this when it arrives is refused (too-late).
constexpr long long kMaxChangeDelayMs = 5000;
/// What a room's guests change unless a technician allows more: the music and the microphones.
constexpr std::array<std::uint8_t, 2> kGuestRegisters{16, 32};

struct ApiOptions {
    /// Names of this server as Host and Origin give them: "desk-pc" at the port it listens on,
    /// "desk-pc:80" at that port alone (a proxy's).
    std::vector<std::string> hosts;
    quint16 port = 0;               ///< the port it listens on
    bool secure = false;            ///< TLS: origins are https://
    std::string state;              ///< the state folder, for backups
    std::vector<std::string> configFiles; ///< the config and venue files, for backups
};

class Api : public QObject {
    Q_OBJECT
public:
    Api(VenueService &service, Access &access, Events &events, Journal &journal,
        ClientAddresses &addresses, ApiOptions options, QObject *parent = nullptr);
    void handle(const std::shared_ptr<HttpExchange> &exchange);
    /// A WebSocket upgrade to /api/v1/events that passes the gate is taken by the event stream.
    bool upgrade(const HttpRequest &request, QTcpSocket *socket);
    /// The listener the API is served on: its port, and its figures for the metrics.
    void setListener(const HttpServer *http)
    {
        m_http = http;
        m_options.port = http->port();
    }
    /// The snapshots that /api/v1/snapshots takes and a room's page compares.
    void showSnapshots(Snapshots *snapshots) { m_snapshots = snapshots; }
    /// The schedule that /api/v1/schedule shows and changes.
    void showSchedule(Scheduler *scheduler) { m_scheduler = scheduler; }
    /// Serves the pages of this folder outside /api/ and /metrics.
    void servePages(const WebFiles *web) { m_web = web; }
    /// The room's frame port, shown with the room and counted in the metrics.
    void showFramePort(const HeldRoom &room, const FramePort *port) { m_framePorts[&room] = port; }

    struct Call {
        std::shared_ptr<HttpExchange> exchange;
        std::vector<std::string> path;
        Principal who;
        HeldRoom *room = nullptr;   ///< the route's {room}
        std::string preset;         ///< the route's {preset}, as presets are kept
    };
    /// One route: the method, the path's segments ("{room}" and "{preset}" stand for one
    /// segment each), the least role that may use it and what the others are told.
    struct Route {
        const char *method;
        std::vector<std::string> pattern;
        Role least;
        const char *refused;
        void (Api::*handler)(Call &);
    };
    /// Every route of the API, in the order they are matched (behind the gate; the login and
    /// the description come before it).
    static const std::vector<Route> &routes();
    /// Whether a room's guest may take the route (in its own room).
    static bool guestMay(const Route &route);
    /// The API's description, OpenAPI 3.1 (server/openapi.json, built into the program).
    static const std::string &description();

private:
    struct Bucket {
        double tokens = kWriteBurst;
        std::chrono::steady_clock::time_point at;
    };

    /// "name[:port]" is a name of this server (ApiOptions::hosts).
    bool isOwnName(const std::string &text) const;
    bool hostAllowed(const HttpRequest &request) const;
    bool originAllowed(const HttpRequest &request) const;
    void route(Call &call);
    void login(Call &call);
    void pair(Call &call);
    /// The room, whole, to every client that may see it.
    void tellRoom(const HeldRoom &room);
    void writeLink(JsonWriter &out, const RoomLink &link) const;
    /// The request's JSON body; false once it has answered why there is none.
    bool jsonBody(Call &call, JsonValue &root);
    void respond(const std::shared_ptr<HttpExchange> &exchange, HttpResponse response);
    void answer(Call &call, int status, std::string body);
    /// Answers a refusal of the service as a problem.
    void refuse(Call &call, const Refusal &refusal);
    bool takeWrites(Call &call, double count, const char *field);
    Actor actorOf(const Call &call) const;

    // The handlers of the route table.
    void getMetrics(Call &call);
    void getServer(Call &call);
    void getMe(Call &call);
    void logout(Call &call);
    void events(Call &call);
    void getLayout(Call &call);
    void getRooms(Call &call);
    void getRoom(Call &call);
    void patchRegisters(Call &call);
    void lock(Call &call);
    void history(Call &call);
    void undo(Call &call);
    void getBackup(Call &call);
    void takeSnapshot(Call &call);
    void getSnapshots(Call &call);
    void getRoomSnapshots(Call &call);
    void compareSnapshot(Call &call);
    void restoreLost(Call &call);
    void acceptFactory(Call &call);
    void getLinks(Call &call);
    void makeLink(Call &call);
    void endLinks(Call &call);
    void getSchedule(Call &call);
    void putSchedule(Call &call);
    void getLimits(Call &call);
    void putLimits(Call &call);
    void getPresets(Call &call);
    void getPreset(Call &call);
    void putPreset(Call &call);
    void deletePreset(Call &call);
    void recall(Call &call);
    void compare(Call &call);

    const FramePort *framePortOf(const HeldRoom &room) const;
    std::string roomJson(const HeldRoom &room, bool allRegisters) const;
    std::string serverJson() const;
    std::string metrics() const;

    VenueService &m_service;
    Venue &m_venue;
    Access &m_access;
    Events &m_events;
    Journal &m_journal;
    ClientAddresses &m_addresses;
    ViewContext m_views;
    const HttpServer *m_http = nullptr;
    std::string m_eventRefusal; ///< why the last upgrade was not taken
    const WebFiles *m_web = nullptr;
    Scheduler *m_scheduler = nullptr;
    Snapshots *m_snapshots = nullptr;
    bool m_backingUp = false; ///< a backup is being made
    std::size_t m_links = 0; ///< room links when last looked
    ApiOptions m_options;
    std::map<const HeldRoom *, const FramePort *> m_framePorts;
    std::map<std::string, Bucket> m_buckets;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    std::map<int, std::uint64_t> m_responses; ///< by status
};

} // namespace zev
