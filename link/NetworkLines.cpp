// Network lines: a processor behind a serial device server, as tcp://HOST:PORT (raw TCP: the
// bytes as they are; the line settings are the server's business) or rfc2217://HOST:PORT
// (Telnet with the COM port control option: the line settings go to the server, 0xFF is
// doubled both ways, and the server's negotiation is answered without holding up the data).
//
// An open runs on the event loop: the name is looked up on a thread of its own (Resolver.h),
// each address is tried in turn, and the whole open has kOpenDeadlineMs; a refused connection
// fails at once. A connection that the server closes or resets, or that TCP keepalive finds
// dead, is a device gone, like a pulled-out adapter. Qt holds at most kLineBuffer bytes of a
// connection that the program has not read; the server is slowed by TCP beyond that.
#include "link/NetworkLines.h"

#include "link/KeepAlive.h"
#include "link/OpenReplies.h"
#include "link/Readiness.h"
#include "link/Resolver.h"
#include "wire/LineCodes.h"
#include "link/PortDevices.h"
#include "wire/Telnet.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTimer>
#include <map>
#include <memory>
#include <vector>

namespace zev {
namespace {

constexpr int kNotOpen = int(LineResult::NoSuchDevice);

struct Line {
    QTcpSocket socket;
    NetworkAddress address;
    std::string device;
    TelnetCodec telnet;
    Readiness readiness;
    bool open = false; ///< connected and handed to the program
    bool gone = false;
    // While it opens.
    SerialLibrary::OpenDone done;
    QTimer deadline;
    std::vector<QHostAddress> candidates;
    std::size_t nextCandidate = 0;
    QString lastError;
    bool refused = false;
};

class NetworkLines final : public SerialLibrary {
public:
    void startOpen(int port, OpenDone done) override;
    OpenOutcome openPort(int port) override { return waitForOpen(*this, port); }
    int setLine(int port, int baudCode, int modeCode) override;
    int setFlow(int port, int flowCode) override;
    int read(int port, std::uint8_t *buffer, int capacity) override;
    int write(int port, const std::uint8_t *buffer, int length) override;
    int closePort(int port) override;
    void watchInput(int port, std::function<void()> ready) override;

private:
    std::shared_ptr<Line> find(int port, bool opening = false)
    {
        const auto it = m_lines.find(port);
        if (it == m_lines.end() || (!opening && !it->second->open)) return nullptr;
        return it->second;
    }
    void tryNext(int port, const std::shared_ptr<Line> &line);
    void opened(int port, const std::shared_ptr<Line> &line);
    void fail(int port, const std::shared_ptr<Line> &line, LineResult result,
              const QString &reason);
    void sendRaw(Line &line, const std::vector<std::uint8_t> &bytes);
    bool checkGone(Line &line);

    // A line that ends may be inside one of its own signals: it goes on the next pass.
    static void retire(std::shared_ptr<Line> line)
    {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [line = std::move(line)] {}, Qt::QueuedConnection);
    }

    std::map<int, std::shared_ptr<Line>> m_lines;
    OpenReplies m_replies;
    bool m_cleanupRegistered = false;
};

QString where(const Line &line)
{
    return QString::fromStdString(line.address.host) + ":" + QString::number(line.address.port);
}

void NetworkLines::startOpen(int port, OpenDone done)
{
    const std::string device = portDevice(port);
    if (m_lines.count(port)) {
        m_replies.later(port, std::move(done), {LineResult::HeldHere, {}, device, {}});
        return;
    }
    const NetworkAddress address = parseNetworkLine(device);
    if (!address.valid) {
        m_replies.later(port, std::move(done),
                        {LineResult::NoSuchDevice, {}, device, device + ": " + address.problem});
        return;
    }
    if (!m_cleanupRegistered) {
        // Connections still open at exit go before the application object.
        qAddPostRoutine([] { static_cast<NetworkLines &>(networkLines()).m_lines.clear(); });
        m_cleanupRegistered = true;
    }
    auto line = std::make_shared<Line>();
    line->address = address;
    line->device = device;
    line->done = std::move(done);
    m_lines[port] = line;
    std::weak_ptr<Line> weak = line;

    line->deadline.setSingleShot(true);
    QObject::connect(&line->deadline, &QTimer::timeout, &line->deadline, [this, port, weak] {
        if (auto l = weak.lock())
            fail(port, l, LineResult::NoAnswer,
                 QString("no answer within %1 s").arg(kOpenDeadlineMs / 1000.0));
    });
    line->deadline.start(kOpenDeadlineMs);

    QObject::connect(&line->socket, &QTcpSocket::connected, &line->deadline, [this, port, weak] {
        if (auto l = weak.lock()) opened(port, l);
    });
    QObject::connect(&line->socket, &QTcpSocket::errorOccurred, &line->deadline,
                     [this, port, weak](QAbstractSocket::SocketError error) {
                         auto l = weak.lock();
                         if (!l) return;
                         // A read that found nothing waiting says "timeout": no news.
                         if (error == QAbstractSocket::SocketTimeoutError) return;
                         if (l->open) { // a connection that ended: the device is gone
                             l->readiness.notify();
                             return;
                         }
                         l->lastError = l->socket.errorString();
                         l->refused =
                             l->refused || error == QAbstractSocket::ConnectionRefusedError;
                         // Another address of the host may answer; the deadline still holds.
                         QTimer::singleShot(0, &l->deadline, [this, port, weak] {
                             if (auto again = weak.lock()) tryNext(port, again);
                         });
                     });
    QObject::connect(&line->socket, &QTcpSocket::readyRead, &line->deadline, [weak] {
        if (auto l = weak.lock()) l->readiness.notify();
    });
    QObject::connect(&line->socket, &QTcpSocket::disconnected, &line->deadline, [weak] {
        if (auto l = weak.lock()) l->readiness.notify();
    });

    lookupHost(address.host, &line->deadline, [this, port, weak](const LookupResult &found) {
        auto l = weak.lock();
        if (!l) return;
        if (found.addresses.empty()) {
            const QString host = QString::fromStdString(l->address.host);
            if (found.unknownHost)
                fail(port, l, LineResult::UnknownHost, host + ": unknown host");
            else if (found.noAnswer)
                fail(port, l, LineResult::NoAnswer, host + ": the name servers do not answer");
            else
                fail(port, l, LineResult::Failed,
                     host + ": " + QString::fromStdString(found.error));
            return;
        }
        l->candidates = found.addresses;
        tryNext(port, l);
    });
}

void NetworkLines::tryNext(int port, const std::shared_ptr<Line> &line)
{
    if (line->open) return;
    if (line->nextCandidate >= line->candidates.size()) {
        if (line->candidates.empty()) return; // the lookup is still under way
        fail(port, line, line->refused ? LineResult::Refused : LineResult::Failed, line->lastError);
        return;
    }
    line->socket.abort();
    line->socket.connectToHost(line->candidates[line->nextCandidate++], line->address.port);
}

void NetworkLines::opened(int port, const std::shared_ptr<Line> &line)
{
    line->deadline.stop();
    line->open = true;
    line->socket.setReadBufferSize(kLineBuffer);
    setKeepAlive(line->socket.socketDescriptor(), kKeepIdleSeconds, kKeepIntervalSeconds,
                 kKeepProbes);
    line->socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (line->address.rfc2217) sendRaw(*line, line->telnet.opening());
    auto done = std::move(line->done);
    line->done = {};
    if (done) done({LineResult::Ok, {}, line->device, {}});
    (void)port;
}

void NetworkLines::fail(int port, const std::shared_ptr<Line> &line, LineResult result,
                        const QString &reason)
{
    auto done = std::move(line->done);
    line->done = {};
    line->deadline.stop();
    line->socket.abort();
    const auto it = m_lines.find(port);
    if (it != m_lines.end() && it->second == line) m_lines.erase(it);
    retire(line);
    if (done) done({result, {}, line->device, (where(*line) + ": " + reason).toStdString()});
}

void NetworkLines::sendRaw(Line &line, const std::vector<std::uint8_t> &bytes)
{
    line.socket.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()));
    line.socket.flush();
}

bool NetworkLines::checkGone(Line &line)
{
    if (!line.gone && line.socket.state() != QAbstractSocket::ConnectedState) line.gone = true;
    return line.gone;
}

int NetworkLines::setLine(int port, int baudCode, int modeCode)
{
    const auto line = find(port);
    if (!line) return kNotOpen;
    if (checkGone(*line)) return kSerialDeviceGone;
    if (line->address.rfc2217)
        sendRaw(*line, TelnetCodec::lineCommands(decodeLine(baudCode, modeCode)));
    return 0;
}

int NetworkLines::setFlow(int port, int flowCode)
{
    const auto line = find(port);
    if (!line) return kNotOpen;
    if (checkGone(*line)) return kSerialDeviceGone;
    if (line->address.rfc2217) sendRaw(*line, TelnetCodec::flowCommand(decodeFlow(flowCode)));
    return 0;
}

int NetworkLines::read(int port, std::uint8_t *buffer, int capacity)
{
    const auto line = find(port);
    if (!line) return kNotOpen;
    QTcpSocket &socket = line->socket;
    if (capacity <= 0)
        return checkGone(*line) && socket.bytesAvailable() == 0 ? kSerialDeviceGone : 0;
    std::uint8_t raw[kLineBuffer];
    const int want = capacity < kLineBuffer ? capacity : kLineBuffer;
    int n = 0;
    // Negotiation alone gives no data: read on while the server has more.
    for (int pass = 0; pass < 4 && n == 0; ++pass) {
        // Without an event loop nothing moves the system's bytes in: take them now, without
        // waiting. Whatever Qt signals meanwhile reaches the watcher later, not this read.
        if (socket.bytesAvailable() == 0 && socket.state() == QAbstractSocket::ConnectedState)
            socket.waitForReadyRead(0);
        const qint64 got = socket.read(reinterpret_cast<char *>(raw), want);
        if (got <= 0) break;
        if (line->address.rfc2217) {
            std::vector<std::uint8_t> replies;
            n = int(line->telnet.receive(raw, std::size_t(got), buffer, replies));
            if (!replies.empty()) sendRaw(*line, replies);
        } else {
            std::copy_n(raw, got, buffer);
            n = int(got);
        }
    }
    if (n == 0 && checkGone(*line) && socket.bytesAvailable() == 0) return kSerialDeviceGone;
    // Qt tells of bytes once, as they come: what this read left (a server's chatter ahead of a
    // reply) is told again, for the next pass of the event loop, or it would wait for the next
    // packet.
    if (socket.bytesAvailable() > 0) line->readiness.notify();
    return n;
}

int NetworkLines::write(int port, const std::uint8_t *buffer, int length)
{
    const auto line = find(port);
    if (!line) return kNotOpen;
    if (checkGone(*line)) return kSerialDeviceGone;
    if (line->socket.bytesToWrite() > kLineBuffer) {
        line->socket.flush();
        return kLineHeld; // the server takes nothing: the line is held
    }
    std::vector<std::uint8_t> bytes;
    if (line->address.rfc2217)
        TelnetCodec::escape(buffer, std::size_t(length), bytes);
    else
        bytes.assign(buffer, buffer + length);
    sendRaw(*line, bytes);
    return checkGone(*line) ? kSerialDeviceGone : length;
}

int NetworkLines::closePort(int port)
{
    const bool replyWaiting = m_replies.cancel(port);
    const auto it = m_lines.find(port);
    if (it == m_lines.end()) return replyWaiting ? 0 : kNotOpen;
    const std::shared_ptr<Line> line = it->second;
    m_lines.erase(it);
    line->done = {}; // an open under way ends without a word
    line->readiness.watch({});
    line->deadline.stop();
    line->socket.abort();
    retire(line);
    return 0;
}

void NetworkLines::watchInput(int port, std::function<void()> ready)
{
    const auto line = find(port);
    if (!line) return;
    line->readiness.watch(std::move(ready));
    if (line->socket.bytesAvailable() > 0 || checkGone(*line)) line->readiness.notify();
}

} // namespace

SerialLibrary &networkLines()
{
    static NetworkLines lines;
    return lines;
}

} // namespace zev
