// The venue server's HTTP API, version 1, and the gate every request passes first.
//
//   GET   /api/v1/server                    viewer      version, rooms per state, clients
//   POST  /api/v1/login                     anyone      {"user", "password"}: a session cookie
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
//   GET   /api/v1/rooms/{room}/history      viewer      its latest changes (?limit=N)
//   POST  /api/v1/rooms/{room}/undo         technician  {"count"}, {"since"} or {"ids"}: the
//                                                       values before those changes, back
//                                                       through the room's queue
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
// change only the registers of `deskRegisters`. Errors are RFC 9457 problems naming the field.
#pragma once

#include "files/Json.h"
#include "server/Access.h"
#include "server/Events.h"
#include "server/HttpServer.h"
#include "server/Journal.h"
#include "server/Presets.h"
#include "server/Venue.h"
#include "server/WebFiles.h"

#include <QObject>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zev {

/// Registers one client may have written a second, and at once.
constexpr double kWritesPerSecond = 50;
constexpr double kWriteBurst = 200;
/// A change is answered 504 when the processor has not confirmed it in this time; it stays
/// queued (the latest value wins) and goes out when the room can take it.
constexpr int kConfirmTimeoutMs = 10000;
/// Requests waiting for the processor's confirmation, all clients together.
constexpr std::size_t kMaxWaitingRequests = 1024;
/// A change whose Zev720-Made-At is older than this when it arrives is refused (too-late).
constexpr long long kMaxChangeDelayMs = 5000;

struct ApiOptions {
    /// Names of this server as Host and Origin give them: "desk-pc" at the port it listens on,
    /// "desk-pc:80" at that port alone (a proxy's).
    std::vector<std::string> hosts;
    quint16 port = 0;               ///< the port it listens on
    bool secure = false;            ///< TLS: origins are https://
    std::vector<std::uint8_t> deskRegisters;
};

class Api : public QObject {
    Q_OBJECT
public:
    Api(Venue &venue, Access &access, Events &events, Journal &journal, Presets &presets,
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
    /// Keeps each room's mode memories as a parameter file named after it in `folder`, so that
    /// a restart brings them back; reads those there now.
    void keepModeMemories(const std::string &folder);
    /// Serves the pages of this folder outside /api/ and /metrics.
    void servePages(const WebFiles *web) { m_web = web; }

private:
    struct Call {
        std::shared_ptr<HttpExchange> exchange;
        std::vector<std::string> path;
        Principal who;
    };
    struct Bucket {
        double tokens = kWriteBurst;
        std::chrono::steady_clock::time_point at;
    };
    struct Waiting;

    /// "name[:port]" is a name of this server (ApiOptions::hosts).
    bool isOwnName(const std::string &text) const;
    bool hostAllowed(const HttpRequest &request) const;
    bool originAllowed(const HttpRequest &request) const;
    void route(Call &call);
    void login(Call &call);
    /// The request's JSON body; false once it has answered why there is none.
    bool jsonBody(Call &call, JsonValue &root);
    void patchRegisters(Call &call, HeldRoom &room);
    void lock(Call &call, HeldRoom &room);
    void history(Call &call, HeldRoom &room);
    void presets(Call &call);
    void storePreset(Call &call, const std::string &name);
    void recall(Call &call, const std::string &name);
    /// Each room's registers that differ from the preset, as people read them.
    void compare(Call &call, const std::string &name);
    void undo(Call &call, HeldRoom &room);
    /// What the processor confirmed of a request: the values, and the journal entries made.
    struct Confirmed {
        std::map<std::uint8_t, std::uint8_t> values;
        std::vector<std::uint64_t> ids;
    };
    using Body = std::function<std::string(const Confirmed &)>;
    /// Queues the writes and answers the call once the processor has confirmed them all
    /// (`body` of the confirmed values), or with the reason it could not.
    void writeAndWait(Call &call, HeldRoom &room, const std::map<std::uint8_t, std::uint8_t> &writes,
                      Body body);
    void respond(const std::shared_ptr<HttpExchange> &exchange, HttpResponse response);
    /// Called once: 200 and the confirmed values, or 503 (the room is or went offline) or 504
    /// (not confirmed in time) with the reason and what was confirmed.
    using Done = std::function<void(int status, const std::string &why, const char *code,
                                    const Confirmed &got)>;
    void startWrites(HeldRoom &room, const std::map<std::uint8_t, std::uint8_t> &writes,
                     const std::string &who, Done done);
    void confirmed(HeldRoom &room, const RegisterChange &change);
    void roomState(HeldRoom &room);
    void modesChanged(HeldRoom &room);
    bool takeWrites(const Principal &who, double count, int &retryAfter);
    std::string roomSummary(HeldRoom &room, bool allRegisters) const;
    /// ,"reasonCode":"no-such-device" for an offline room; nothing for another.
    static std::string reasonCode(const HeldRoom &room);
    /// ,"ends":{"MusicVolumeTrackBar":["top"]}: the desk's bars that a step one way would not
    /// move; nothing before the room is read.
    std::string deskEnds(const HeldRoom &room) const;
    std::string serverJson() const;
    std::string metrics() const;
    std::string changeEvent(HeldRoom &room, const RegisterChange &change,
                            const JournalEntry *entry) const;
    struct Undoing {
        std::uint8_t value = 0;
        std::vector<std::uint64_t> ids;
    };

    Venue &m_venue;
    Access &m_access;
    Events &m_events;
    Journal &m_journal;
    Presets &m_presets;
    ClientAddresses &m_addresses;
    const HttpServer *m_http = nullptr;
    std::string m_eventRefusal; ///< why the last upgrade was not taken
    const WebFiles *m_web = nullptr;
    std::unique_ptr<Presets> m_modes;
    ApiOptions m_options;
    std::map<std::pair<HeldRoom *, std::uint8_t>, Undoing> m_undoing;
    std::map<std::string, Bucket> m_buckets;
    std::vector<std::shared_ptr<Waiting>> m_waiting;
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    std::map<int, std::uint64_t> m_responses; ///< by status
};

} // namespace zev
