// The venue server's HTTP/1.1 listener: connections taken, requests read with the bounds of
// wire/HttpRequest, each handed to the handler, its response written back. A connection
// carries one request at a time (a pipelined request waits in the socket until the one before
// it is answered and its answer has mostly left), so what a client can make the server hold
// is one head and one body, and one answer.
//
// Bounds (ConnectionBounds), each checked before any work is done for it. Every connection
// counts, the event streams taken from it by an upgrade included:
//   total         sized from the open-file limit; at it, a connection that carries no user's
//                 credentials and waits for its next request gives way (the one idle longest),
//                 then one of a user, then the oldest that has not sent its request whole;
//                 only when none can, the new one is closed at once
//   per address   likewise for one address (ClientAddresses), so that one machine of the LAN
//                 cannot take every place from the front desk; this machine's loopback too
//   unread        connections whose request has not arrived whole (a new connection, a TLS
//                 handshake, a request begun): beyond this share the oldest of them gives
//                 way, so that clients dripping bytes (slowloris) never keep out one that
//                 sends its request at once
//   deadlines     a request's head within kHeadTimeoutMs of its start (of the connection, for
//                 the first), the whole request within kRequestTimeoutMs; a kept-alive
//                 connection with nothing to say is closed after kIdleTimeoutMs
//   output        the next request of a connection is read only once its answers have left
//                 but kResumeReadingBelow bytes; a client that leaves kMaxUnsentBytes unread
//                 is dropped, and so is the largest backlog whenever all clients together
//                 leave more than kMaxUnsentBytesAll
//   kDrainMs      a refused client's answer is followed by the close only once it has
//                 stopped sending (at most this long), so it reads the answer
//
// TLS is served on the same bounds: a connection in its handshake is one not read yet.
// A WebSocket upgrade is offered to `upgrade` with the socket still holding the request, so
// that Qt WebSockets reads the handshake itself; the socket then counts as a stream.
//
// Thread safety: none; the thread of the event loop.
#pragma once

#include "server/ClientAddresses.h"
#include "wire/HttpRequest.h"

#include <QHostAddress>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace zev {

/// The fewest and the most connections in all, whatever the open-file limit.
constexpr int kMinConnections = 64;
constexpr int kMaxConnections = 4096;
/// A browser opens six at most, and an event stream a page; several behind one address (a
/// front desk's PCs behind a router) still fit.
constexpr int kMaxConnectionsPerAddress = 64;
constexpr int kHeadTimeoutMs = 5000;
constexpr int kRequestTimeoutMs = 10000;
constexpr int kIdleTimeoutMs = 60000;
/// No answer of the API comes near this; a client that leaves it unread is gone.
constexpr qint64 kMaxUnsentBytes = 4 * 1024 * 1024;
constexpr qint64 kMaxUnsentBytesAll = 32 * 1024 * 1024;
constexpr qint64 kResumeReadingBelow = 64 * 1024;
/// A refused client may go on sending what it had begun for this long and this much; then
/// the connection is closed.
constexpr int kDrainMs = 2000;
/// A certificate chain or a key file is never near this.
constexpr qint64 kMaxPemBytes = 1024 * 1024;
constexpr qint64 kMaxDrainBytes = 64 * 1024 * 1024; ///< read and dropped, never held

struct ConnectionBounds {
    int total = 1024;
    int perAddress = kMaxConnectionsPerAddress;
    int unread = 128;
};
/// The bounds for `total` connections (brought within kMinConnections and kMaxConnections):
/// an eighth of them, at least 16, for requests not yet read.
ConnectionBounds connectionBounds(int total);

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers; ///< beyond the usual ones
};

class HttpServer;

/// One request under way. Answered once; an answer after the client has gone is dropped.
class HttpExchange {
public:
    const HttpRequest &request() const { return m_request; }
    const QHostAddress &peer() const { return m_peer; }
    bool answered() const { return m_answered; }
    void respond(HttpResponse response);
    /// The request carried a user's credentials: its connection is one of a user's.
    void vouch();

private:
    friend class HttpServer;
    HttpServer *m_server = nullptr;
    QTcpSocket *m_socket = nullptr; ///< nullptr once the connection has gone
    HttpRequest m_request;
    QHostAddress m_peer;
    bool m_answered = false;
};

class HttpServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const std::shared_ptr<HttpExchange> &)>;
    /// Takes the socket (true) or leaves the request to the handler (false).
    using Upgrade = std::function<bool(const HttpRequest &, QTcpSocket *)>;

    HttpServer(Handler handler, Upgrade upgrade, ClientAddresses &addresses,
               ConnectionBounds bounds = {}, HttpLimits limits = {}, QObject *parent = nullptr);
    ~HttpServer() override;
    /// Serves HTTPS with the PEM certificate (and the chain after it) and its unencrypted PEM
    /// key; before listen(). False with `error` naming the file that is not right.
    bool useTls(const std::string &certificateFile, const std::string &keyFile, std::string &error);
    /// False with `error` when the address and port cannot be listened on.
    bool listen(const QHostAddress &address, quint16 port, std::string &error);
    quint16 port() const;
    const ConnectionBounds &bounds() const { return m_bounds; }
    /// Connections, streams included.
    int connections() const { return int(m_connections.size() + m_streams.size()); }
    std::uint64_t refused() const { return m_refused; }   ///< closed at once at a bound
    std::uint64_t gaveWay() const { return m_gaveWay; }   ///< closed to make room
    std::uint64_t timedOut() const { return m_timedOut; } ///< past a deadline

private:
    friend class HttpExchange;
    enum class Phase {
        Reading, ///< its request has not arrived whole (or, kept alive, has begun)
        Busy,    ///< a request of it is being answered
        Idle,    ///< answered and kept alive, waiting for a next request
        Closing,
    };
    struct Connection {
        Phase phase = Phase::Reading;
        std::shared_ptr<HttpExchange> busy; ///< the request being answered
        QTimer *timer = nullptr;            ///< the deadline of its phase
        bool draining = false; ///< refused: its input is dropped until it closes
        qint64 drained = 0;
        bool headRead = false; ///< the head of the request being read is whole
        bool user = false;     ///< a request of it carried a user's credentials
        /// What it counts against (ClientAddresses); empty: the total alone
        QString from;
        /// Reading: when its request began; Idle: when it was answered
        std::chrono::steady_clock::time_point since;
    };
    void accept();
    void take(QTcpSocket *socket);
    void answer(HttpExchange &exchange, const HttpResponse &response);
    /// Whether a connection from `from` may be taken, closing others to make room.
    bool makeRoom(const QString &from);
    /// Closes the connection that gives way first among the idle (or reading) ones of `from`
    /// (any when empty); false when there is none.
    bool giveWay(Phase phase, const QString &from, QTcpSocket *except = nullptr);
    int count(Phase phase) const;
    void startReading(QTcpSocket *socket, Connection &connection);
    /// All clients' unread answers within kMaxUnsentBytesAll, the largest dropped first.
    void boundOutput();
    void drop(QTcpSocket *socket);
    void refuse(QTcpSocket *socket, int status, const std::string &message);

    struct Tls {
        QSslCertificate certificate;
        QList<QSslCertificate> chain;
        QSslKey key;
    };
    Handler m_handler;
    Upgrade m_upgrade;
    ClientAddresses &m_addresses;
    ConnectionBounds m_bounds;
    Tls m_tls;
    HttpLimits m_limits;
    QTcpServer *m_server = nullptr;
    std::map<QTcpSocket *, Connection> m_connections;
    std::map<QObject *, QString> m_streams; ///< upgraded sockets and what they count against
    std::uint64_t m_refused = 0;
    std::uint64_t m_gaveWay = 0;
    std::uint64_t m_timedOut = 0;
};

/// An RFC 9457 problem as a response: {"type": "about:blank", "title": ..., "status": ...,
/// "code": ..., "detail": ..., "field": ...} (no "field" when it is empty); the code is the
/// status's own (codeOfStatus) unless one is given (server/Codes.h).
HttpResponse problem(int status, const std::string &detail, const std::string &field = {},
                     const char *code = nullptr);

} // namespace zev
