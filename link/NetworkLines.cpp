// Network lines: a processor behind a serial device server, as tcp://HOST:PORT (raw TCP: the
// bytes as they are; the line settings are the server's business) or rfc2217://HOST:PORT
// (Telnet with the COM port control option: the line settings go to the server, 0xFF is
// doubled both ways, and the server's negotiation is answered without holding up the data).
//
// An open waits at most 1.5 s for the connection; a refused one fails at once. A connection
// that the server closes, or that TCP keepalive finds dead (about 9 s of silence from a
// vanished peer), is a device gone, like a pulled-out adapter.
#include "link/NetworkLines.h"

#include "link/LineCodes.h"
#include "link/PortInfo.h"
#include "link/PortMap.h"

#include <QTcpSocket>
#include <QUrl>
#include <deque>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <vector>

namespace zev {
namespace {

constexpr int kOpenTimeoutMs = 1500;
constexpr int kKeepIdleSeconds = 3, kKeepIntervalSeconds = 2, kKeepProbes = 3;
constexpr qint64 kMaxQueued = 4096; // a held line: the server stopped taking bytes
constexpr int kNoSuchPort = -1, kOpenFailed = -2, kWriteFailed = -3;

// Telnet (RFC 854) and its COM port control option (RFC 2217).
enum : std::uint8_t {
    kIac = 255,
    kDont = 254,
    kDo = 253,
    kWont = 252,
    kWill = 251,
    kSb = 250,
    kSe = 240,
    kBinary = 0,
    kSuppressGoAhead = 3,
    kComPort = 44,
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
};

struct Line {
    QTcpSocket socket;
    bool rfc2217 = false;
    bool gone = false;
    // The Telnet receiver: where it stands in the byte stream.
    enum class Rx { Data, Iac, Option, Sub, SubIac } rx = Rx::Data;
    std::uint8_t verb = 0;
    std::deque<std::uint8_t> data; ///< received data, Telnet taken out
    std::map<int, bool> answered;  ///< answers already given, by verb and option
};

void send(Line &line, std::initializer_list<std::uint8_t> bytes)
{
    line.socket.write(reinterpret_cast<const char *>(std::data(bytes)), qint64(bytes.size()));
}

// A COM port control command: IAC SB COM-PORT-OPTION command value IAC SE, with 0xFF doubled.
void comPort(Line &line, std::uint8_t command, const std::vector<std::uint8_t> &value)
{
    QByteArray bytes("\xFF\xFA");
    bytes.append(char(kComPort)).append(char(command));
    for (std::uint8_t b : value) {
        bytes.append(char(b));
        if (b == kIac) bytes.append(char(kIac));
    }
    bytes.append("\xFF\xF0");
    line.socket.write(bytes);
}

// The server's negotiation: binary both ways, no go-ahead, the COM port option; no to the rest.
void negotiate(Line &line, std::uint8_t verb, std::uint8_t option)
{
    const bool wanted = option == kBinary || option == kSuppressGoAhead || option == kComPort;
    std::uint8_t reply = 0;
    if (verb == kDo) reply = wanted ? kWill : kWont;
    if (verb == kWill) reply = wanted ? kDo : kDont;
    if (!reply) return; // WONT and DONT need no answer here
    const int key = reply << 8 | option;
    if (line.answered.count(key) && line.answered[key]) return; // said already: no loop
    line.answered[key] = true;
    send(line, {kIac, reply, option});
}

void takeTelnet(Line &line, const QByteArray &raw)
{
    for (const char c : raw) {
        const auto b = std::uint8_t(c);
        switch (line.rx) {
        case Line::Rx::Data:
            if (b == kIac)
                line.rx = Line::Rx::Iac;
            else
                line.data.push_back(b);
            break;
        case Line::Rx::Iac:
            if (b == kIac) {
                line.data.push_back(b);
                line.rx = Line::Rx::Data;
            } else if (b >= kWill && b <= kDont) {
                line.verb = b;
                line.rx = Line::Rx::Option;
            } else {
                line.rx = b == kSb ? Line::Rx::Sub : Line::Rx::Data; // other commands: skipped
            }
            break;
        case Line::Rx::Option:
            negotiate(line, line.verb, b);
            line.rx = Line::Rx::Data;
            break;
        case Line::Rx::Sub: // the server's answers to our settings: not needed
            if (b == kIac) line.rx = Line::Rx::SubIac;
            break;
        case Line::Rx::SubIac:
            line.rx = b == kSe ? Line::Rx::Data : Line::Rx::Sub;
            break;
        }
    }
}

void keepAlive(QTcpSocket &socket)
{
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const int fd = int(socket.socketDescriptor());
    for (auto [option, value] :
         {std::pair{TCP_KEEPIDLE, kKeepIdleSeconds}, std::pair{TCP_KEEPINTVL, kKeepIntervalSeconds},
          std::pair{TCP_KEEPCNT, kKeepProbes}})
        ::setsockopt(fd, IPPROTO_TCP, option, &value, sizeof value);
}

class NetworkLines final : public SerialLibrary {
public:
    int openPort(int port) override;
    int setLine(int port, int baudCode, int modeCode) override;
    int setFlow(int port, int flowCode) override;
    int read(int port, std::uint8_t *buffer, int capacity) override;
    int write(int port, const std::uint8_t *buffer, int length) override;
    int closePort(int port) override;
    void watchInput(int port, std::function<void()> ready) override;

private:
    Line *find(int port)
    {
        const auto it = m_lines.find(port);
        return it == m_lines.end() ? nullptr : it->second.get();
    }
    bool checkGone(Line &line);
    std::map<int, std::unique_ptr<Line>> m_lines;
};

bool NetworkLines::checkGone(Line &line)
{
    if (!line.gone && line.socket.state() != QAbstractSocket::ConnectedState) line.gone = true;
    return line.gone;
}

int NetworkLines::openPort(int port)
{
    if (find(port)) {
        recordOpenFailure(port, {OpenFailure::HeldHere, {}, {}});
        return kOpenFailed;
    }
    const NetworkAddress address = parseNetworkLine(portDevice(port));
    if (!address.valid) {
        recordOpenFailure(port, {OpenFailure::NoSuchDevice, {}, {}});
        return kNoSuchPort;
    }
    auto line = std::make_unique<Line>();
    line->rfc2217 = address.rfc2217;
    line->socket.connectToHost(QString::fromStdString(address.host), address.port);
    if (!line->socket.waitForConnected(kOpenTimeoutMs)) {
        const QString reason = line->socket.error() == QAbstractSocket::SocketTimeoutError
                                   ? QString("no answer within %1 s").arg(kOpenTimeoutMs / 1000.0)
                                   : line->socket.errorString();
        recordOpenFailure(port, {OpenFailure::Other,
                                 {},
                                 QString("%1:%2: %3")
                                     .arg(QString::fromStdString(address.host))
                                     .arg(address.port)
                                     .arg(reason)
                                     .toStdString()});
        return kOpenFailed;
    }
    keepAlive(line->socket);
    if (line->rfc2217) {
        send(*line, {kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kDo, kBinary});
        line->answered[kWill << 8 | kComPort] = line->answered[kWill << 8 | kBinary] = true;
        line->answered[kDo << 8 | kBinary] = true;
        line->socket.flush();
    }
    recordOpenFailure(port, {});
    m_lines[port] = std::move(line);
    return 0;
}

int NetworkLines::setLine(int port, int baudCode, int modeCode)
{
    Line *line = find(port);
    if (!line || checkGone(*line)) return kNoSuchPort;
    if (!line->rfc2217) return 0;
    const LineSettings settings = decodeLine(baudCode, modeCode);
    const auto baud = std::uint32_t(settings.baudRate);
    comPort(*line, kSetBaudRate,
            {std::uint8_t(baud >> 24), std::uint8_t(baud >> 16), std::uint8_t(baud >> 8),
             std::uint8_t(baud)});
    comPort(*line, kSetDataSize, {std::uint8_t(settings.dataBits)});
    // RFC 2217 numbers: 1 none, 2 odd, 3 even, 4 mark, 5 space.
    std::uint8_t parity = 1;
    switch (settings.parity) {
    case Parity::None:
        parity = 1;
        break;
    case Parity::Odd:
        parity = 2;
        break;
    case Parity::Even:
        parity = 3;
        break;
    case Parity::Mark:
        parity = 4;
        break;
    case Parity::Space:
        parity = 5;
        break;
    }
    comPort(*line, kSetParity, {parity});
    comPort(*line, kSetStopSize, {std::uint8_t(settings.stopBits == 2 ? 2 : 1)});
    line->socket.flush();
    return 0;
}

int NetworkLines::setFlow(int port, int flowCode)
{
    Line *line = find(port);
    if (!line || checkGone(*line)) return kNoSuchPort;
    if (!line->rfc2217) return 0;
    const int flow = decodeFlow(flowCode);
    // RFC 2217: 1 none, 2 XON/XOFF, 3 hardware.
    comPort(*line, kSetControl,
            {std::uint8_t(flow == kFlowSoftware   ? 2
                          : flow == kFlowHardware ? 3
                                                  : 1)});
    line->socket.flush();
    return 0;
}

int NetworkLines::read(int port, std::uint8_t *buffer, int capacity)
{
    Line *line = find(port);
    if (!line) return kNoSuchPort;
    // Without an event loop nothing moves the system's bytes in: take them now, no waiting.
    if (line->socket.bytesAvailable() == 0 && !line->gone) line->socket.waitForReadyRead(0);
    const QByteArray raw = line->socket.readAll();
    if (line->rfc2217) {
        takeTelnet(*line, raw);
        if (!raw.isEmpty()) line->socket.flush(); // answers to the server's negotiation
    } else {
        line->data.insert(line->data.end(), raw.begin(), raw.end());
    }
    if (line->data.empty() && checkGone(*line)) return kSerialDeviceGone;
    int n = 0;
    while (n < capacity && !line->data.empty()) {
        buffer[n++] = line->data.front();
        line->data.pop_front();
    }
    return n;
}

int NetworkLines::write(int port, const std::uint8_t *buffer, int length)
{
    Line *line = find(port);
    if (!line) return kNoSuchPort;
    if (checkGone(*line)) return kSerialDeviceGone;
    if (line->socket.bytesToWrite() > kMaxQueued) {
        line->socket.flush();
        return kWriteFailed; // the server takes nothing: the line is held
    }
    QByteArray bytes(reinterpret_cast<const char *>(buffer), length);
    if (line->rfc2217) bytes.replace("\xFF", QByteArray("\xFF\xFF", 2));
    line->socket.write(bytes);
    line->socket.flush();
    return checkGone(*line) ? kSerialDeviceGone : length;
}

int NetworkLines::closePort(int port)
{
    const auto it = m_lines.find(port);
    if (it == m_lines.end()) return kNoSuchPort;
    it->second->socket.abort();
    m_lines.erase(it);
    return 0;
}

void NetworkLines::watchInput(int port, std::function<void()> ready)
{
    Line *line = find(port);
    if (!line) return;
    QObject::disconnect(&line->socket, &QTcpSocket::readyRead, nullptr, nullptr);
    QObject::disconnect(&line->socket, &QTcpSocket::disconnected, nullptr, nullptr);
    if (!ready) return;
    QObject::connect(&line->socket, &QTcpSocket::readyRead, &line->socket, ready);
    QObject::connect(&line->socket, &QTcpSocket::disconnected, &line->socket, ready);
}

} // namespace

NetworkAddress parseNetworkLine(const std::string &text)
{
    NetworkAddress address;
    const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != "tcp" && scheme != "rfc2217") || url.host().isEmpty() ||
        url.port() <= 0 || !(url.path().isEmpty() || url.path() == "/"))
        return address;
    address.valid = true;
    address.rfc2217 = scheme == "rfc2217";
    address.host = url.host().toStdString();
    address.port = std::uint16_t(url.port());
    return address;
}

bool isNetworkLine(const std::string &text)
{
    return text.rfind("tcp://", 0) == 0 || text.rfind("rfc2217://", 0) == 0;
}

SerialLibrary &networkLines()
{
    static NetworkLines lines;
    return lines;
}

} // namespace zev
