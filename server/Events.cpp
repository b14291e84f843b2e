#include "server/Events.h"

#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

namespace zev {
namespace {

std::string peerKey(const QHostAddress &address, quint16 port)
{
    return address.toString().toStdString() + " " + std::to_string(port);
}

} // namespace

Events::Events(QObject *parent) : QObject(parent)
{
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

bool Events::take(QTcpSocket *socket, const Principal &who, std::string hello)
{
    if (int(m_clients.size() + m_waiting.size()) >= kMaxEventClients) return false;
    const std::string key = peerKey(socket->peerAddress(), socket->peerPort());
    m_waiting[key] = {who, std::move(hello)};
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
        const std::string hello = std::move(waiting->second.hello);
        m_waiting.erase(waiting);
        socket->setMaxAllowedIncomingFrameSize(quint64(kMaxClientMessage));
        socket->setMaxAllowedIncomingMessageSize(quint64(kMaxClientMessage));
        QObject::connect(socket, &QWebSocket::bytesWritten, this, [this, socket](qint64 bytes) {
            const auto it = m_clients.find(socket);
            if (it != m_clients.end()) it->second.backlog = std::max<qint64>(0, it->second.backlog - bytes);
        });
        QObject::connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            if (m_clients.erase(socket)) socket->deleteLater();
        });
        send(socket, client, hello);
    }
}

void Events::send(QWebSocket *socket, Client &client, const std::string &message)
{
    if (client.backlog > kMaxEventBacklog) {
        // It has not read the last megabyte: it goes, rather than the server holding more.
        ++m_dropped;
        QObject::disconnect(socket, nullptr, this, nullptr);
        m_clients.erase(socket);
        socket->abort();
        socket->deleteLater();
        return;
    }
    client.backlog += socket->sendTextMessage(QString::fromStdString(message)) + 14;
}

void Events::keepOnly(const std::function<bool(const Principal &)> &keep)
{
    std::vector<QWebSocket *> gone;
    for (const auto &[socket, client] : m_clients)
        if (!keep(client.who)) gone.push_back(socket);
    for (QWebSocket *socket : gone) {
        QObject::disconnect(socket, nullptr, this, nullptr);
        m_clients.erase(socket);
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("logged out"));
        socket->deleteLater();
    }
}

void Events::broadcast(const std::string &message)
{
    std::vector<QWebSocket *> sockets;
    for (const auto &[socket, client] : m_clients) sockets.push_back(socket);
    for (QWebSocket *socket : sockets) {
        const auto it = m_clients.find(socket);
        if (it != m_clients.end()) send(socket, it->second, message);
    }
}

} // namespace zev
