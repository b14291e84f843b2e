#include "server/HttpServer.h"

#include "files/Json.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace zev {
namespace {

// Who a connection counts against: an IPv4 address (as itself or mapped into IPv6), or an
// IPv6 address's /64, which one machine may fill with addresses of its own.
QString addressGroup(const QHostAddress &peer)
{
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    if (isV4) return QHostAddress(v4).toString();
    Q_IPV6ADDR bytes = peer.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes).toString() + "/64";
}

} // namespace

void HttpExchange::respond(HttpResponse response)
{
    if (m_answered) return;
    m_answered = true;
    if (m_server && m_socket) m_server->answer(*this, response);
}

HttpResponse problem(int status, const std::string &detail, const std::string &field)
{
    HttpResponse response;
    response.status = status;
    response.contentType = "application/problem+json";
    response.body = "{\"type\":\"about:blank\",\"title\":" + jsonQuoted(httpReason(status)) +
                    ",\"status\":" + std::to_string(status) + ",\"detail\":" + jsonQuoted(detail);
    if (!field.empty()) response.body += ",\"field\":" + jsonQuoted(field);
    response.body += "}\n";
    return response;
}

HttpServer::HttpServer(Handler handler, Upgrade upgrade, HttpLimits limits, QObject *parent)
    : QObject(parent), m_handler(std::move(handler)), m_upgrade(std::move(upgrade)),
      m_limits(limits)
{
}

HttpServer::~HttpServer()
{
    for (auto &[socket, connection] : m_connections)
        if (connection.busy) {
            connection.busy->m_socket = nullptr;
            connection.busy->m_server = nullptr;
        }
}

bool HttpServer::listen(const QHostAddress &address, quint16 port, std::string &error)
{
    if (m_tls.certificate.isNull()) {
        m_server = new QTcpServer(this);
    } else {
        // Connections come to accept() once their TLS handshake is over.
        auto *server = new QSslServer(this);
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificateChain(m_tls.chain);
        configuration.setPrivateKey(m_tls.key);
        configuration.setProtocol(QSsl::TlsV1_2OrLater);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // clients are not asked for one
        server->setSslConfiguration(configuration);
        server->setHandshakeTimeout(kRequestTimeoutMs);
        m_server = server;
    }
    m_server->setMaxPendingConnections(kMaxConnections);
    QObject::connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] { accept(); });
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
        // This machine's own clients (a local proxy, scripts, tools) are not one LAN machine.
        const QString from =
            socket->peerAddress().isLoopback() ? QString() : addressGroup(socket->peerAddress());
        if (!makeRoom(from)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Qt reads from the system no more than one request can be.
        socket->setReadBufferSize(qint64(m_limits.maxHead + m_limits.maxBody + 1));
        Connection &connection = m_connections[socket];
        connection.from = from;
        connection.timer = new QTimer(socket);
        connection.timer->setSingleShot(true);
        QObject::connect(connection.timer, &QTimer::timeout, socket, [socket] { socket->abort(); });
        connection.timer->start(kRequestTimeoutMs);
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { take(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
            if (socket->state() != QAbstractSocket::ConnectedState) drop(socket);
        });
    }
}

bool HttpServer::makeRoom(const QString &from)
{
    const auto fromThere =
        from.isEmpty() ? 0
                       : std::count_if(m_connections.begin(), m_connections.end(),
                                       [&](const auto &item) { return item.second.from == from; });
    const bool addressFull = fromThere >= kMaxConnectionsPerAddress;
    if (!addressFull && int(m_connections.size()) < kMaxConnections) return true;
    // A connection that has been answered and waits for nothing but a next request gives way,
    // the one idle longest first (of the same address when that address is at its bound):
    // browsers keep such connections open, and open a new one when theirs is closed. One that
    // has not yet sent its first request keeps its place until its request's time is up.
    QTcpSocket *idlest = nullptr;
    std::chrono::steady_clock::time_point since{};
    for (const auto &[socket, connection] : m_connections) {
        if ((addressFull && connection.from != from) || !connection.answered || connection.busy ||
            connection.closing || connection.draining || socket->bytesAvailable() > 0)
            continue;
        if (!idlest || connection.since < since) {
            idlest = socket;
            since = connection.since;
        }
    }
    if (!idlest) return false;
    idlest->disconnectFromHost();
    drop(idlest);
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
    if (connection.busy || connection.closing) return;
    if (socket->bytesAvailable() == 0) return;
    const QByteArray bytes = socket->peek(socket->bytesAvailable());
    auto exchange = std::make_shared<HttpExchange>();
    std::size_t consumed = 0;
    HttpRefusal refusal;
    switch (parseHttpRequest(std::string_view(bytes.constData(), std::size_t(bytes.size())),
                             m_limits, exchange->m_request, consumed, refusal)) {
    case HttpParse::NeedMore:
        // A kept-alive connection that starts a request has the request's time from now.
        if (connection.timer->remainingTime() > kRequestTimeoutMs)
            connection.timer->start(kRequestTimeoutMs);
        return;
    case HttpParse::Refused:
        return refuse(socket, refusal.status, refusal.message);
    case HttpParse::Done:
        break;
    }
    if (exchange->m_request.wantsWebSocket() && m_upgrade) {
        // Qt WebSockets signals the bytes waiting again as it takes the socket: they are not
        // this reader's any more.
        connection.closing = true;
        if (m_upgrade(exchange->m_request, socket)) {
            QObject::disconnect(socket, nullptr, this, nullptr);
            delete connection.timer;
            m_connections.erase(it);
            return;
        }
        connection.closing = false;
    }
    socket->read(qint64(consumed));
    connection.timer->stop();
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
    const bool keepAlive = exchange.m_request.keepAlive && !connection.closing;
    std::string head =
        "HTTP/1.1 " + std::to_string(response.status) + " " + httpReason(response.status) + "\r\n";
    if (!response.contentType.empty()) head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    // Nothing of the API is to be kept, framed or taken for another type.
    head += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
            "X-Frame-Options: DENY\r\nReferrer-Policy: no-referrer\r\n"
            "Content-Security-Policy: default-src 'self'; frame-ancestors 'none'\r\n";
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
        connection.closing = true;
        socket->disconnectFromHost();
        return;
    }
    connection.timer->start(kIdleTimeoutMs);
    connection.since = std::chrono::steady_clock::now();
    connection.answered = true;
    // A request that came behind this one is read once this call has returned.
    QMetaObject::invokeMethod(
        this,
        [this, guard = QPointer<QTcpSocket>(socket)] {
            if (guard) take(guard);
        },
        Qt::QueuedConnection);
}

void HttpServer::refuse(QTcpSocket *socket, int status, const std::string &message)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end()) return;
    it->second.closing = true;
    it->second.draining = true;
    HttpExchange exchange;
    exchange.m_server = this;
    exchange.m_socket = socket;
    exchange.m_request.keepAlive = false;
    it->second.busy.reset();
    answer(exchange, problem(status, message));
}

} // namespace zev
