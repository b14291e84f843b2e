// The venue server's HTTP/1.1 listener: connections taken, requests read with the bounds of
// wire/HttpRequest, each handed to the handler, its response written back. A connection
// carries one request at a time (a pipelined request waits in the socket until the one before
// it is answered), so what a client can make the server hold is one head and one body.
//
// Bounds, each checked before any work is done for it:
//   kMaxConnections     beyond it, the connection idle longest (waiting for its next request)
//                       is closed to make room, or the new one when none is idle (the
//                       server's descriptors stay its own)
//   kMaxConnectionsPerAddress  likewise from one address (an IPv6 /64 counting as one), so
//                       that one machine on the LAN cannot take every place from the desk;
//                       loopback, this machine itself, is bound by kMaxConnections alone
//   kRequestTimeoutMs   a request must arrive whole this long after its first byte, so a
//                       client dripping bytes holds nothing for long
//   kIdleTimeoutMs      a kept-alive connection with nothing to say is closed
//   kMaxUnsentBytes     a client that does not read its responses is dropped
//   kDrainMs            a refused client's answer is followed by the close only once it
//                       has stopped sending (at most this long), so it reads the answer
//
// A WebSocket upgrade is offered to `upgrade` with the socket still holding the request, so
// that Qt WebSockets reads the handshake itself.
//
// Thread safety: none; the thread of the event loop.
#pragma once

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

constexpr int kMaxConnections = 128;
/// A browser opens six at most; several behind one address still fit.
constexpr int kMaxConnectionsPerAddress = 32;
constexpr int kRequestTimeoutMs = 10000;
constexpr int kIdleTimeoutMs = 60000;
constexpr qint64 kMaxUnsentBytes = 4 * 1024 * 1024;
/// A refused client may go on sending what it had begun for this long and this much; then
/// the connection is closed.
constexpr int kDrainMs = 2000;
/// A certificate chain or a key file is never near this.
constexpr qint64 kMaxPemBytes = 1024 * 1024;
constexpr qint64 kMaxDrainBytes = 64 * 1024 * 1024; ///< read and dropped, never held

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

    HttpServer(Handler handler, Upgrade upgrade, HttpLimits limits = {}, QObject *parent = nullptr);
    ~HttpServer() override;
    /// Serves HTTPS with the PEM certificate (and the chain after it) and its unencrypted PEM
    /// key; before listen(). False with `error` naming the file that is not right.
    bool useTls(const std::string &certificateFile, const std::string &keyFile, std::string &error);
    /// False with `error` when the address and port cannot be listened on.
    bool listen(const QHostAddress &address, quint16 port, std::string &error);
    quint16 port() const;
    int connections() const { return int(m_connections.size()); }

private:
    friend class HttpExchange;
    struct Connection {
        std::shared_ptr<HttpExchange> busy; ///< the request being answered
        QTimer *timer = nullptr;            ///< the request or idle deadline
        bool closing = false;
        bool draining = false; ///< refused: its input is dropped until it closes
        qint64 drained = 0;
        /// The peer's address, or its /64 for IPv6; empty for this machine's own (loopback)
        QString from;
        bool answered = false;                       ///< kept alive after an answer
        std::chrono::steady_clock::time_point since; ///< its last answer sent
    };
    void accept();
    void take(QTcpSocket *socket);
    void answer(HttpExchange &exchange, const HttpResponse &response);
    /// Whether a connection from `from` may be taken, closing an idle one to make room.
    bool makeRoom(const QString &from);
    void drop(QTcpSocket *socket);
    void refuse(QTcpSocket *socket, int status, const std::string &message);

    struct Tls {
        QSslCertificate certificate;
        QList<QSslCertificate> chain;
        QSslKey key;
    };
    Handler m_handler;
    Upgrade m_upgrade;
    Tls m_tls;
    HttpLimits m_limits;
    QTcpServer *m_server = nullptr;
    std::map<QTcpSocket *, Connection> m_connections;
};

/// An RFC 9457 problem as a response: {"type": "about:blank", "title": ..., "status": ...,
/// "detail": ..., "field": ...} (no "field" when it is empty).
HttpResponse problem(int status, const std::string &detail, const std::string &field = {});

} // namespace zev
