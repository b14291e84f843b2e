#include "server/Events.h"

#include "files/Json.h"

#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <chrono>

namespace zev {
namespace {

const std::chrono::steady_clock::time_point kStarted = std::chrono::steady_clock::now();

std::string peerKey(const QHostAddress &address, quint16 port)
{
    return address.toString().toStdString() + " " + std::to_string(port);
}

} // namespace

qint64 serverClock()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 kStarted)
        .count();
}

Events::Events(ClientAddresses &addresses, EventBounds bounds, QObject *parent)
    : QObject(parent), m_addresses(addresses), m_bounds(bounds)
{
    m_heartbeat = new QTimer(this);
    QObject::connect(m_heartbeat, &QTimer::timeout, this, [this] { heartbeat(); });
    m_heartbeat->start(kHeartbeatMs);
    m_server = new QWebSocketServer(QStringLiteral("zev720d"), QWebSocketServer::NonSecureMode, this);
    m_server->setHandshakeTimeout(10000);
    QObject::connect(m_server, &QWebSocketServer::newConnection, this, [this] { accept(); });
}

Events::~Events()
{
    for (auto &[socket, client] : m_clients) {
        QObject::disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        delete socket;
    }
}

bool Events::take(QTcpSocket *socket, const Principal &who, std::string hello, std::string &refusal)
{
    const QString from = m_addresses.connectionGroup(socket->peerAddress());
    int ofUser = 0, ofAddress = 0;
    const auto counted = [&](const Principal &p, const QString &f) {
        ofUser += p.user == who.user;
        ofAddress += !from.isEmpty() && f == from;
    };
    for (const auto &[key, waiting] : m_waiting) counted(waiting.who, waiting.from);
    for (const auto &[client, data] : m_clients) counted(data.who, data.from);
    if (int(m_clients.size() + m_waiting.size()) >= m_bounds.total)
        refusal = "as many event streams as the server takes (" + std::to_string(m_bounds.total) + ")";
    else if (ofUser >= m_bounds.perUser)
        refusal = "as many event streams as one user may open (" + std::to_string(m_bounds.perUser) + ")";
    else if (ofAddress >= m_bounds.perAddress)
        refusal = "as many event streams as one address may open (" +
                  std::to_string(m_bounds.perAddress) + ")";
    if (!refusal.empty()) return false;
    const std::string key = peerKey(socket->peerAddress(), socket->peerPort());
    m_waiting[key] = {who, from, std::move(hello)};
    QObject::connect(socket, &QTcpSocket::disconnected, this, [this, key] { m_waiting.erase(key); });
    m_server->handleConnection(socket);
    return true;
}

void Events::accept()
{
    while (QWebSocket *socket = m_server->nextPendingConnection()) {
        const auto waiting = m_waiting.find(peerKey(socket->peerAddress(), socket->peerPort()));
        if (waiting == m_waiting.end()) { // not one the API let through
            socket->abort();
            socket->deleteLater();
            continue;
        }
        Client &client = m_clients[socket];
        client.who = waiting->second.who;
        client.from = waiting->second.from;
        client.heard = serverClock();
        const std::string hello = std::move(waiting->second.hello);
        m_waiting.erase(waiting);
        socket->setMaxAllowedIncomingFrameSize(quint64(kMaxClientMessage));
        socket->setMaxAllowedIncomingMessageSize(quint64(kMaxClientMessage));
        QObject::connect(socket, &QWebSocket::bytesWritten, this, [this, socket](qint64 bytes) {
            const auto it = m_clients.find(socket);
            if (it == m_clients.end()) return;
            const qint64 left = std::max<qint64>(0, it->second.backlog - bytes);
            m_backlogAll -= it->second.backlog - left;
            it->second.backlog = left;
        });
        const auto heard = [this, socket] {
            const auto it = m_clients.find(socket);
            if (it != m_clients.end()) it->second.heard = serverClock();
        };
        QObject::connect(socket, &QWebSocket::textMessageReceived, this, heard);
        QObject::connect(socket, &QWebSocket::pong, this, heard);
        QObject::connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            const auto it = m_clients.find(socket);
            if (it == m_clients.end()) return;
            m_backlogAll -= it->second.backlog;
            m_clients.erase(it);
            socket->deleteLater();
        });
        send(socket, client, hello);
    }
}

void Events::send(QWebSocket *socket, Client &client, const std::string &message)
{
    if (client.backlog > kMaxEventBacklog) {
        // It has not read the last megabyte: it goes, rather than the server holding more.
        ++m_dropped;
        dropClient(socket);
        return;
    }
    const qint64 bytes = socket->sendTextMessage(QString::fromStdString(message)) + 14;
    client.backlog += bytes;
    m_backlogAll += bytes;
    while (m_backlogAll > kMaxEventBacklogAll) {
        const auto largest = std::max_element(
            m_clients.begin(), m_clients.end(),
            [](const auto &a, const auto &b) { return a.second.backlog < b.second.backlog; });
        if (largest == m_clients.end()) break;
        ++m_dropped;
        dropClient(largest->first);
    }
}

void Events::heartbeat()
{
    const qint64 now = serverClock();
    std::vector<QWebSocket *> silent;
    for (const auto &[socket, client] : m_clients)
        if (now - client.heard > kClientSilenceMs) silent.push_back(socket);
    for (QWebSocket *socket : silent) {
        ++m_dropped;
        dropClient(socket);
    }
    // The pages' ping, and the protocol's, which any WebSocket client answers by itself.
    broadcast(JsonWriter().object().field("type", "ping").field("now", now).end().take());
    for (const auto &[socket, client] : m_clients) socket->ping();
}

void Events::dropClient(QWebSocket *socket)
{
    const auto it = m_clients.find(socket);
    if (it == m_clients.end()) return;
    m_backlogAll -= it->second.backlog;
    QObject::disconnect(socket, nullptr, this, nullptr);
    m_clients.erase(it);
    socket->abort();
    socket->deleteLater();
}

void Events::keepOnly(const std::function<bool(const Principal &)> &keep)
{
    std::vector<QWebSocket *> gone;
    for (const auto &[socket, client] : m_clients)
        if (!keep(client.who)) gone.push_back(socket);
    for (QWebSocket *socket : gone) {
        QObject::disconnect(socket, nullptr, this, nullptr);
        m_backlogAll -= m_clients[socket].backlog;
        m_clients.erase(socket);
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("logged out"));
        socket->deleteLater();
    }
}

void Events::broadcast(const std::string &message, const std::string *room)
{
    std::vector<QWebSocket *> sockets;
    for (const auto &[socket, client] : m_clients)
        if (!room || client.who.rooms.contains(*room)) sockets.push_back(socket);
    for (QWebSocket *socket : sockets) {
        const auto it = m_clients.find(socket);
        if (it != m_clients.end()) send(socket, it->second, message);
    }
}

} // namespace zev
