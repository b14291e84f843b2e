// A room's processor as a TCP port that speaks the processor's own frames, so that the
// desktop panel and zev720ctl reach a room through the server unchanged, several at once.
//
//   connect, disconnect  answered by the server while the room is online; the processor's
//                        link is the server's and stays as it is
//   read request         answered from the room's mirror
//   lock and writes      queued on the room (the latest value of a register wins) and answered
//                        when the processor confirms, with the value it holds
//
// Its clients send nothing but frames, so a connection whose bytes are no frame where a
// frame must start (an HTTP request a web page sends, a TLS hello, a WebSocket handshake) is
// closed at once, before any frame it sent is acted on: a page in a browser on a machine the
// port accepts cannot reach the room. A write is taken only for a register of the map with a
// value its control shows, or for the lock command; any other frame is refused as a
// processor ignores a bad frame, without a reply, and counted. An offline room answers
// nothing, as a processor switched off would. At most kMaxFrameClients are connected at
// once; more are closed at once, so that no client can use up the server's open files.
#pragma once

#include "room/RoomHolder.h"

#include <QHostAddress>
#include <QObject>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace zev {

/// Clients of one frame port at once: the panel and a few runs of zev720ctl.
constexpr int kMaxFrameClients = 8;

class FramePort : public QObject {
    Q_OBJECT
public:
    FramePort(RoomHolder &room, QObject *parent = nullptr);
    ~FramePort() override;
    /// False with `error` when the address and port cannot be listened on.
    bool listen(const QHostAddress &address, quint16 port, std::string &error);
    /// What takes a client's write (the venue service's writeAsGiven); without one, the room.
    using Writer = std::function<void(std::uint8_t address, std::uint8_t value, const std::string &who)>;
    void setWriter(Writer writer) { m_writer = std::move(writer); }
    /// Besides this machine, only these addresses may connect; others are closed at once.
    void allow(std::vector<QHostAddress> addresses) { m_allowed = std::move(addresses); }
    quint16 port() const;
    int clients() const { return int(m_clients.size()); }
    /// Frames refused: writes to no register, or of a value no control shows.
    std::uint64_t refusedFrames() const { return m_refusedFrames; }
    /// Connections closed for bytes that are no frame.
    std::uint64_t closedClients() const { return m_closedClients; }

signals:
    /// A client came or went ("frame port 127.0.0.1:50312").
    void joined(const std::string &who);
    void left(const std::string &who);

private:
    struct Client {
        QByteArray input;
        std::set<std::uint8_t> waiting; ///< registers whose confirmation it waits for
        std::string who;                ///< "frame port 127.0.0.1:50312", for people
        std::string writer;             ///< the same as its writes carry it
    };
    void accept();
    void take(QTcpSocket *socket);
    /// Whether a frame's write may go to the processor.
    static bool writable(std::uint8_t address, std::uint8_t value);
    void frame(QTcpSocket *socket, Client &client, std::uint8_t address, std::uint8_t value);
    void confirmed(const RegisterChange &change);
    static void reply(QTcpSocket *socket, std::uint8_t address, std::uint8_t value);

    RoomHolder &m_room;
    Writer m_writer;
    QTcpServer *m_server = nullptr;
    std::map<QTcpSocket *, Client> m_clients;
    std::vector<QHostAddress> m_allowed;
    std::uint64_t m_refusedFrames = 0;
    std::uint64_t m_closedClients = 0;
};

} // namespace zev
