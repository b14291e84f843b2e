// The venue server's event stream: WebSocket clients, each told every change, room state and
// recall as one JSON text message. A client that does not read is dropped once
// kMaxEventBacklog bytes wait for it, never buffered without bound; what clients send is
// bounded and ignored.
#pragma once

#include "server/Access.h"

#include <QObject>
#include <functional>
#include <map>
#include <string>

class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace zev {

constexpr qint64 kMaxEventBacklog = 1024 * 1024;
constexpr int kMaxEventClients = 256;
constexpr qint64 kMaxClientMessage = 4096;

class Events : public QObject {
    Q_OBJECT
public:
    explicit Events(QObject *parent = nullptr);
    ~Events() override;
    /// Makes the socket, which still holds the upgrade request, a client of `who`; `hello` is
    /// its first message. False when there are kMaxEventClients already.
    bool take(QTcpSocket *socket, const Principal &who, std::string hello);
    void broadcast(const std::string &message);
    /// Closes the clients for whom `keep` says no.
    void keepOnly(const std::function<bool(const Principal &)> &keep);
    int clients() const { return int(m_clients.size()); }
    std::uint64_t dropped() const { return m_dropped; }

private:
    struct Client {
        Principal who;
        qint64 backlog = 0;
    };
    struct Waiting {
        Principal who;
        std::string hello;
    };
    void accept();
    void send(QWebSocket *socket, Client &client, const std::string &message);

    QWebSocketServer *m_server = nullptr;
    std::map<std::string, Waiting> m_waiting; ///< by peer address and port, until upgraded
    std::map<QWebSocket *, Client> m_clients;
    std::uint64_t m_dropped = 0;
};

} // namespace zev
