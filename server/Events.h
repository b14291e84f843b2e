// The venue server's event stream: WebSocket clients, each told every change, room state and
// recall as one JSON text message. A client that does not read is dropped once
// kMaxEventBacklog bytes wait for it, and the largest backlog whenever all clients together
// leave more than kMaxEventBacklogAll, never buffered without bound; what clients send is
// bounded and ignored but for pongs. Every client is sent a ping every kHeartbeatMs with the
// server's clock, and one that is silent for kClientSilenceMs (no message, no WebSocket pong)
// is dropped. Streams are bounded in all, per user and per address (the connection
// bounds of the HTTP listener count them too), so that one viewer's pages or one machine
// cannot take every stream from the others.
#pragma once

#include "server/Access.h"
#include "server/ClientAddresses.h"

#include <QObject>
#include <functional>
#include <map>
#include <string>

class QTcpSocket;
class QTimer;
class QWebSocket;
class QWebSocketServer;

namespace zev {

/// The server's clock for its pages: milliseconds since the server started, steady whatever
/// the wall clock does. Pages count from the last value they were told, and say by it when a
/// change was made (so that no clock of a phone is trusted).
qint64 serverClock();

/// A ping to every client this often ({"type":"ping","now":...}), which a page answers with
/// {"type":"pong"}: a page that hears nothing for twice this knows its server is away.
constexpr int kHeartbeatMs = 4000;
/// A client neither a message nor a WebSocket pong has come from for this long is gone.
constexpr int kClientSilenceMs = 30000;

constexpr qint64 kMaxEventBacklog = 1024 * 1024;
constexpr qint64 kMaxEventBacklogAll = 32 * 1024 * 1024;
constexpr qint64 kMaxClientMessage = 4096;

struct EventBounds {
    int total = 512;
    int perUser = 64;   ///< a user's pages on every PC of the desk and a few scripts
    int perAddress = 56; ///< below the connections an address may have, for its calls
};

class Events : public QObject {
    Q_OBJECT
public:
    explicit Events(ClientAddresses &addresses, EventBounds bounds = {}, QObject *parent = nullptr);
    ~Events() override;
    /// Makes the socket, which still holds the upgrade request, a client of `who`; `hello` is
    /// its first message. False when a bound is reached (in all, for the user or for the
    /// address), with the one in `refusal`.
    bool take(QTcpSocket *socket, const Principal &who, std::string hello, std::string &refusal);
    /// To every client, or to those who may see `room` (a user bound to rooms).
    void broadcast(const std::string &message, const std::string *room = nullptr);
    /// Closes the clients for whom `keep` says no.
    void keepOnly(const std::function<bool(const Principal &)> &keep);
    int clients() const { return int(m_clients.size()); }
    std::uint64_t dropped() const { return m_dropped; }

private:
    struct Client {
        Principal who;
        QString from; ///< what it counts against (ClientAddresses)
        qint64 backlog = 0;
        qint64 heard = 0; ///< serverClock() of its last message or pong
    };
    struct Waiting {
        Principal who;
        QString from;
        std::string hello;
    };
    void accept();
    void send(QWebSocket *socket, Client &client, const std::string &message);
    void dropClient(QWebSocket *socket);
    void heartbeat();
    ClientAddresses &m_addresses;
    EventBounds m_bounds;
    qint64 m_backlogAll = 0;
    QTimer *m_heartbeat = nullptr;

    QWebSocketServer *m_server = nullptr;
    std::map<std::string, Waiting> m_waiting; ///< by peer address and port, until upgraded
    std::map<QWebSocket *, Client> m_clients;
    std::uint64_t m_dropped = 0;
};

} // namespace zev
