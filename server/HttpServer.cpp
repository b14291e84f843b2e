#include "server/HttpServer.h"

#include "files/Json.h"
#include "server/Codes.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace zev {
namespace {

// While a connection is not reading a request, Qt takes no more of its bytes than this from
// the system: what it sends meanwhile waits there, not in the server.
constexpr qint64 kHeldReadBytes = 1;

// TLS on connections the server counts from their first moment: the handshake is part of
// the time a connection has to send its request.
class TlsListener : public QTcpServer {
public:
    TlsListener(QSslConfiguration configuration, QObject *parent)
        : QTcpServer(parent), m_configuration(std::move(configuration))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setSslConfiguration(m_configuration);
        socket->startServerEncryption();
        addPendingConnection(socket);
    }

private:
    QSslConfiguration m_configuration;
};

} // namespace

ConnectionBounds connectionBounds(int total)
{
    ConnectionBounds bounds;
    bounds.total = std::clamp(total, kMinConnections, kMaxConnections);
    bounds.perAddress = std::min(kMaxConnectionsPerAddress, bounds.total / 2);
    bounds.unread = std::max(16, bounds.total / 8);
    return bounds;
}

void HttpExchange::respond(HttpResponse response)
{
    if (m_answered) return;
    m_answered = true;
    if (m_server && m_socket) m_server->answer(*this, response);
}

void HttpExchange::vouch()
{
    if (!m_server || !m_socket) return;
    const auto it = m_server->m_connections.find(m_socket);
    if (it != m_server->m_connections.end()) it->second.user = true;
}

HttpResponse problem(int status, const std::string &detail, const std::string &field,
                     const char *code)
{
    HttpResponse response;
    response.status = status;
    response.contentType = "application/problem+json";
    JsonWriter out;
    out.object().field("type", "about:blank").field("title", httpReason(status)).field("status", status)
        .field("code", code ? code : codeOfStatus(status)).field("detail", detail);
    if (!field.empty()) out.field("field", field);
    response.body = out.end().take() + "\n";
    return response;
}

HttpServer::HttpServer(Handler handler, Upgrade upgrade, ClientAddresses &addresses,
                       ConnectionBounds bounds, HttpLimits limits, QObject *parent)
    : QObject(parent), m_handler(std::move(handler)), m_upgrade(std::move(upgrade)),
      m_addresses(addresses), m_bounds(bounds), m_limits(limits)
{
}

HttpServer::~HttpServer()
{
    for (auto &[socket, connection] : m_connections)
        if (connection.busy) {
            connection.busy->m_socket = nullptr;
            connection.busy->m_server = nullptr;
        }
    for (auto &[socket, from] : m_streams) QObject::disconnect(socket, nullptr, this, nullptr);
}

bool HttpServer::listen(const QHostAddress &address, quint16 port, std::string &error)
{
    if (m_tls.certificate.isNull()) {
        m_server = new QTcpServer(this);
    } else {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificateChain(m_tls.chain);
        configuration.setPrivateKey(m_tls.key);
        configuration.setProtocol(QSsl::TlsV1_2OrLater);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // clients are not asked for one
        m_server = new TlsListener(configuration, this);
    }
    // Taken from the system as they come: the bounds above decide, not the system's queue.
    m_server->setMaxPendingConnections(m_bounds.total);
    QObject::connect(m_server, &QTcpServer::newConnection, this, [this] { accept(); });
    if (m_server->listen(address, port)) return true;
    error = address.toString().toStdString() + ":" + std::to_string(port) + ": " +
            m_server->errorString().toStdString();
    return false;
}

bool HttpServer::useTls(const std::string &certificateFile, const std::string &keyFile,
                        std::string &error)
{
    for (const std::string &name : {certificateFile, keyFile})
        if (!QFileInfo(QString::fromStdString(name)).isFile()) {
            error = name + ": no such file (a plain file is needed)";
            return false;
        }
    QFile certificates(QString::fromStdString(certificateFile));
    if (certificates.size() > kMaxPemBytes || !certificates.open(QIODevice::ReadOnly)) {
        error = certificateFile + ": " +
                (certificates.size() > kMaxPemBytes ? std::string("too large for a certificate")
                                                    : certificates.errorString().toStdString());
        return false;
    }
    const QList<QSslCertificate> chain =
        QSslCertificate::fromData(certificates.readAll(), QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        error = certificateFile + ": no PEM certificate in it";
        return false;
    }
    QFile keyText(QString::fromStdString(keyFile));
    if (keyText.size() > kMaxPemBytes || !keyText.open(QIODevice::ReadOnly)) {
        error = keyFile + ": " +
                (keyText.size() > kMaxPemBytes ? std::string("too large for a key")
                                               : keyText.errorString().toStdString());
        return false;
    }
    const QByteArray pem = keyText.readAll();
    QSslKey key;
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa})
        if (key.isNull()) key = QSslKey(pem, algorithm, QSsl::Pem);
    if (key.isNull()) {
        error = keyFile + ": no unencrypted PEM key (EC or RSA) in it";
        return false;
    }
    m_tls = {chain.first(), chain, key};
    return true;
}

quint16 HttpServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

void HttpServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        const QString from = m_addresses.connectionGroup(socket->peerAddress());
        if (!makeRoom(from)) {
            ++m_refused;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        Connection &connection = m_connections[socket];
        connection.from = from;
        connection.timer = new QTimer(socket);
        connection.timer->setSingleShot(true);
        QObject::connect(connection.timer, &QTimer::timeout, socket, [this, socket] {
            const auto it = m_connections.find(socket);
            if (it != m_connections.end() && it->second.phase != Phase::Idle &&
                !it->second.draining)
                ++m_timedOut;
            socket->abort();
        });
        startReading(socket, connection);
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { take(socket); });
        QObject::connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            // An answer has left: a request waiting behind it may be read now.
            if (socket->bytesToWrite() <= kResumeReadingBelow && socket->bytesAvailable() > 0)
                take(socket);
        });
        QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
            if (socket->state() != QAbstractSocket::ConnectedState) drop(socket);
        });
    }
}

void HttpServer::startReading(QTcpSocket *socket, Connection &connection)
{
    connection.phase = Phase::Reading;
    connection.headRead = false;
    connection.since = std::chrono::steady_clock::now();
    connection.timer->start(kHeadTimeoutMs);
    // Qt reads from the system no more than one request can be.
    socket->setReadBufferSize(qint64(m_limits.maxHead + m_limits.maxBody + 1));
}

int HttpServer::count(Phase phase) const
{
    return int(std::count_if(m_connections.begin(), m_connections.end(), [&](const auto &item) {
        return item.second.phase == phase && !item.second.draining;
    }));
}

bool HttpServer::giveWay(Phase phase, const QString &from, QTcpSocket *except)
{
    // Idle: one of no user before one of a user, the one idle longest first (browsers keep
    // such connections open, and open a new one when theirs is closed). Reading: the oldest.
    QTcpSocket *chosen = nullptr;
    const Connection *best = nullptr;
    for (const auto &[socket, connection] : m_connections) {
        if (socket == except || connection.phase != phase || connection.draining ||
            (!from.isEmpty() && connection.from != from))
            continue;
        if (phase == Phase::Idle && socket->bytesAvailable() > 0) continue; // a request begun
        const bool better = !best ||
                            (phase == Phase::Idle && connection.user != best->user
                                 ? !connection.user
                                 : connection.since < best->since);
        if (better) {
            chosen = socket;
            best = &connection;
        }
    }
    if (!chosen) return false;
    ++m_gaveWay;
    chosen->abort();
    drop(chosen);
    return true;
}

bool HttpServer::makeRoom(const QString &from)
{
    if (!from.isEmpty()) {
        const auto there =
            std::count_if(m_connections.begin(), m_connections.end(),
                          [&](const auto &item) { return item.second.from == from; }) +
            std::count_if(m_streams.begin(), m_streams.end(),
                          [&](const auto &item) { return item.second == from; });
        if (there >= m_bounds.perAddress && !giveWay(Phase::Idle, from) &&
            !giveWay(Phase::Reading, from))
            return false;
    }
    if (count(Phase::Reading) >= m_bounds.unread && !giveWay(Phase::Reading, {})) return false;
    if (connections() >= m_bounds.total && !giveWay(Phase::Idle, {}) &&
        !giveWay(Phase::Reading, {}))
        return false;
    return true;
}

void HttpServer::drop(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end()) return;
    if (it->second.busy) it->second.busy->m_socket = nullptr;
    m_connections.erase(it);
    socket->deleteLater();
}

void HttpServer::take(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end()) return;
    Connection &connection = it->second;
    if (connection.draining) {
        // What a refused client still sends is read and dropped, so that closing does not
        // reset the connection before it has read why.
        connection.drained += socket->skip(socket->bytesAvailable());
        if (connection.drained > kMaxDrainBytes) socket->abort();
        return;
    }
    if (connection.phase == Phase::Busy || connection.phase == Phase::Closing) return;
    if (socket->bytesAvailable() == 0) return;
    // Its answers first: a client that asks without reading holds no more than one.
    if (socket->bytesToWrite() > kResumeReadingBelow) return;
    if (connection.phase == Phase::Idle) {
        // A kept-alive connection begins its next request: it is one not read yet again.
        if (count(Phase::Reading) >= m_bounds.unread && !giveWay(Phase::Reading, {}, socket)) {
            ++m_refused;
            socket->abort();
            return;
        }
        startReading(socket, connection);
    }
    const QByteArray bytes = socket->peek(socket->bytesAvailable());
    auto exchange = std::make_shared<HttpExchange>();
    std::size_t consumed = 0;
    HttpRefusal refusal;
    switch (parseHttpRequest(std::string_view(bytes.constData(), std::size_t(bytes.size())),
                             m_limits, exchange->m_request, consumed, refusal)) {
    case HttpParse::NeedMore:
        if (!connection.headRead && bytes.contains("\r\n\r\n")) {
            // The head is whole; the body has what is left of the request's time.
            connection.headRead = true;
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - connection.since);
            connection.timer->start(std::max<int>(1, kRequestTimeoutMs - int(spent.count())));
        }
        return;
    case HttpParse::Refused:
        return refuse(socket, refusal.status, refusal.message);
    case HttpParse::Done:
        break;
    }
    if (exchange->m_request.wantsWebSocket() && m_upgrade) {
        // Qt WebSockets signals the bytes waiting again as it takes the socket: they are not
        // this reader's any more.
        connection.phase = Phase::Closing;
        if (m_upgrade(exchange->m_request, socket)) {
            QObject::disconnect(socket, nullptr, this, nullptr);
            delete connection.timer;
            m_streams[socket] = connection.from;
            const auto gone = [this, socket] { m_streams.erase(socket); };
            QObject::connect(socket, &QTcpSocket::disconnected, this, gone);
            QObject::connect(socket, &QObject::destroyed, this, gone);
            m_connections.erase(it);
            return;
        }
        connection.phase = Phase::Reading;
    }
    socket->read(qint64(consumed));
    connection.timer->stop();
    connection.phase = Phase::Busy;
    socket->setReadBufferSize(kHeldReadBytes);
    exchange->m_server = this;
    exchange->m_socket = socket;
    exchange->m_peer = socket->peerAddress();
    connection.busy = exchange;
    m_handler(exchange);
}

void HttpServer::answer(HttpExchange &exchange, const HttpResponse &response)
{
    QTcpSocket *socket = exchange.m_socket;
    const auto it = m_connections.find(socket);
    if (it == m_connections.end()) return;
    Connection &connection = it->second;
    const bool keepAlive = exchange.m_request.keepAlive && connection.phase != Phase::Closing;
    std::string head =
        "HTTP/1.1 " + std::to_string(response.status) + " " + httpReason(response.status) + "\r\n";
    if (!response.contentType.empty()) head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    // Nothing of the API is to be kept, framed or taken for another type.
    head += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
            "X-Frame-Options: DENY\r\nReferrer-Policy: no-referrer\r\n"
            "Content-Security-Policy: default-src 'self'; frame-ancestors 'none'\r\n";
    // Under TLS, browsers are told to come back by HTTPS alone.
    if (!m_tls.certificate.isNull())
        head += "Strict-Transport-Security: max-age=31536000\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    head += "\r\n";
    socket->write(head.data(), qint64(head.size()));
    if (exchange.m_request.method != "HEAD")
        socket->write(response.body.data(), qint64(response.body.size()));
    connection.busy.reset();
    exchange.m_socket = nullptr;
    if (socket->bytesToWrite() > kMaxUnsentBytes) {
        socket->abort();
        return;
    }
    if (connection.draining) {
        connection.timer->start(kDrainMs);
        take(socket);
        return;
    }
    if (!keepAlive) {
        connection.phase = Phase::Closing;
        socket->disconnectFromHost();
        return;
    }
    connection.phase = Phase::Idle;
    connection.timer->start(kIdleTimeoutMs);
    connection.since = std::chrono::steady_clock::now();
    socket->setReadBufferSize(kHeldReadBytes);
    boundOutput();
    if (!m_connections.count(socket)) return; // its answers were the largest backlog
    // A request that came behind this one is read once this call has returned.
    QMetaObject::invokeMethod(
        this,
        [this, guard = QPointer<QTcpSocket>(socket)] {
            if (guard) take(guard);
        },
        Qt::QueuedConnection);
}

void HttpServer::boundOutput()
{
    for (;;) {
        qint64 all = 0;
        QTcpSocket *largest = nullptr;
        for (const auto &[socket, connection] : m_connections) {
            all += socket->bytesToWrite();
            if (!largest || socket->bytesToWrite() > largest->bytesToWrite()) largest = socket;
        }
        if (all <= kMaxUnsentBytesAll || !largest) return;
        ++m_gaveWay;
        largest->abort();
        drop(largest);
    }
}

void HttpServer::refuse(QTcpSocket *socket, int status, const std::string &message)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end()) return;
    it->second.phase = Phase::Closing;
    it->second.draining = true;
    HttpExchange exchange;
    exchange.m_server = this;
    exchange.m_socket = socket;
    exchange.m_request.keepAlive = false;
    it->second.busy.reset();
    answer(exchange, problem(status, message));
}

} // namespace zev
