#include "server/FramePort.h"

#include "model/RegisterMap.h"
#include "model/Shown.h"
#include "service/Venue.h"
#include "wire/FrameCodec.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <utility>
#include <vector>

namespace zev {
namespace {
// Unread input a client may leave at most: a few hundred frames. A frame port's clients send
// one frame and wait for its reply.
constexpr int kClientInputLimit = 4096;
// Replies a client may leave unread: one that asks and never reads is cut off.
constexpr qint64 kClientOutputLimit = 64 * 1024;
} // namespace

FramePort::FramePort(RoomHolder &room, QObject *parent) : QObject(parent), m_room(room)
{
    QObject::connect(&m_room, &RoomHolder::changed, this,
                     [this](const RegisterChange &change) { confirmed(change); });
}

FramePort::~FramePort() = default;

bool FramePort::listen(const QHostAddress &address, quint16 port, std::string &error)
{
    m_server = new QTcpServer(this);
    QObject::connect(m_server, &QTcpServer::newConnection, this, [this] { accept(); });
    if (m_server->listen(address, port)) return true;
    error = address.toString().toStdString() + ":" + std::to_string(port) + ": " +
            m_server->errorString().toStdString();
    return false;
}

quint16 FramePort::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

void FramePort::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        const QHostAddress from = socket->peerAddress();
        const bool allowed =
            from.isLoopback() ||
            std::any_of(m_allowed.begin(), m_allowed.end(), [&](const QHostAddress &address) {
                return address.isEqual(from, QHostAddress::ConvertV4MappedToIPv4);
            });
        if (!allowed || int(m_clients.size()) >= kMaxFrameClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        Client &client = m_clients[socket];
        const std::string peer = socket->peerAddress().toString().toStdString() + ":" +
                                 std::to_string(socket->peerPort());
        client.who = "frame port " + peer;
        client.writer = whoOf("frame port", peer);
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { take(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            const auto gone = m_clients.find(socket);
            if (gone == m_clients.end()) return;
            const std::string who = gone->second.who;
            m_clients.erase(gone);
            socket->deleteLater();
            emit left(who);
        });
        emit joined(client.who);
    }
}

void FramePort::take(QTcpSocket *socket)
{
    const auto it = m_clients.find(socket);
    if (it == m_clients.end()) return;
    Client &client = it->second;
    client.input += socket->readAll();
    if (client.input.size() > kClientInputLimit) { // more than any client of ours sends
        socket->abort();
        return;
    }
    // Every frame must start where the one before it ended, from the first byte on: the whole
    // input is checked before any frame of it is acted on.
    std::vector<std::pair<std::uint8_t, std::uint8_t>> frames;
    const std::size_t done =
        takeFrames(reinterpret_cast<const std::uint8_t *>(client.input.constData()),
                   std::size_t(client.input.size()),
                   [&](std::uint8_t address, std::uint8_t value) { frames.emplace_back(address, value); });
    if (done == kNotFrames) {
        ++m_closedClients;
        socket->abort();
        return;
    }
    client.input.remove(0, qsizetype(done));
    for (const auto &[address, value] : frames) {
        const auto still = m_clients.find(socket); // a reply may have cut it off
        if (still == m_clients.end()) return;
        frame(socket, still->second, address, value);
    }
}

bool FramePort::writable(std::uint8_t address, std::uint8_t value)
{
    if (address == kLockAddress) return value == kCommandValue;
    const RegisterRow *row = findRegister(address);
    return row && controlShows(*row, value);
}

void FramePort::frame(QTcpSocket *socket, Client &client, std::uint8_t address, std::uint8_t value)
{
    const bool online = m_room.state() == RoomHolder::State::Online;
    if (!online) return; // a room that is not there answers nothing
    if (value == kCommandValue && (address == kConnectAddress || address == kDisconnectAddress))
        return reply(socket, address, kCommandReply);
    if (value == kReadRequest)
        return reply(socket, address, std::uint8_t(m_room.mirror()[address] + 1));
    if (!writable(address, value)) {
        ++m_refusedFrames;
        return;
    }
    client.waiting.insert(address);
    if (m_writer)
        m_writer(address, value, client.writer);
    else
        m_room.write(address, value, client.writer);
}

void FramePort::confirmed(const RegisterChange &change)
{
    for (auto &[socket, client] : m_clients)
        if (client.waiting.erase(change.address))
            reply(socket, change.address, std::uint8_t(change.after + 1));
}

void FramePort::reply(QTcpSocket *socket, std::uint8_t address, std::uint8_t value)
{
    if (socket->bytesToWrite() > kClientOutputLimit) {
        socket->abort();
        return;
    }
    const FrameBytes frame = encodeFrame(address, value);
    socket->write(reinterpret_cast<const char *>(frame.data()), kFrameSize);
}

} // namespace zev
