#include "support/Server.h"

#include "support/Sim.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>
#include <csignal>

namespace testing {

VenueServer::VenueServer(QString stateFolder)
    : state(stateFolder.isEmpty() ? m_dir.filePath("state") : stateFolder)
{
}

VenueServer::~VenueServer()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
}

bool VenueServer::start(const QString &venue, const QString &until, const QStringList &extra)
{
    out.clear(); // a restart's output is its own
    process.start(buildDir() + "/zev720d",
                  QStringList{"--venue", venue, "--frame-ports", "0", "--listen", "127.0.0.1:0",
                              "--state", state} +
                      extra);
    if (!process.waitForStarted()) return false;
    const bool up = waitFor("API: http");
    const auto match = QRegularExpression("API: https?://[^/\\s]+:(\\d+)/").match(out);
    if (!up || !match.hasMatch()) return false;
    api = quint16(match.captured(1).toUInt());
    const QRegularExpression line("^(\\S+): frame port (tcp://\\S+)$",
                                  QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(out); it.hasNext();) {
        const auto found = it.next();
        ports[found.captured(1)] = found.captured(2);
    }
    return until.isEmpty() || waitFor(until);
}

bool VenueServer::waitFor(const QString &text, int ms)
{
    return QTest::qWaitFor(
        [&] {
            out += QString::fromUtf8(process.readAllStandardOutput());
            return out.contains(text);
        },
        ms);
}

void VenueServer::stop()
{
    ::kill(pid_t(process.processId()), SIGTERM);
    process.waitForFinished(10000);
    out += QString::fromUtf8(process.readAllStandardOutput());
}

QString VenueServer::url(const QString &path) const
{
    return QString("http://127.0.0.1:%1%2").arg(api).arg(path);
}

bool addUser(const QString &state, const QString &name, const QString &role,
             const QString &password, const QStringList &extra)
{
    QProcess process;
    process.start(buildDir() + "/zev720d",
                  QStringList{"user", "add", name, "--role", role, "--state", state} + extra);
    process.write((password + "\n").toUtf8());
    process.closeWriteChannel();
    return process.waitForFinished(20000) && process.exitCode() == 0;
}

QString addToken(const QString &state, const QString &name, const QString &label)
{
    QProcess process;
    process.start(buildDir() + "/zev720d", {"token", "add", name, label, "--state", state});
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

HttpReply http(const QByteArray &method, const QString &url, const QByteArray &body,
               const QMap<QByteArray, QByteArray> &headers)
{
    static QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    for (auto it = headers.begin(); it != headers.end(); ++it)
        if (!it.value().isEmpty()) request.setRawHeader(it.key(), it.value());
    QNetworkReply *reply = manager.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();
    HttpReply out;
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.body = reply->readAll();
    for (const auto &pair : reply->rawHeaderPairs())
        out.headers[pair.first.toLower()] = pair.second;
    reply->deleteLater();
    return out;
}

QByteArray rawHttp(quint16 port, const QByteArray &request, int ms)
{
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", port);
    if (!socket.waitForConnected(2000)) return {};
    socket.write(request);
    QByteArray got;
    (void)QTest::qWaitFor(
        [&] {
            got += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        ms);
    return got + socket.readAll();
}

EventClient::EventClient() : m_socket(std::make_unique<QWebSocket>()) {}
EventClient::~EventClient() = default;

bool EventClient::open(quint16 port, const QMap<QByteArray, QByteArray> &headers)
{
    QObject::connect(m_socket.get(), &QWebSocket::textMessageReceived, m_socket.get(),
                     [this](const QString &text) {
                         messages.append(QJsonDocument::fromJson(text.toUtf8()).object());
                     });
    QNetworkRequest request{QUrl(QString("ws://127.0.0.1:%1/api/v1/events").arg(port))};
    for (auto it = headers.begin(); it != headers.end(); ++it)
        request.setRawHeader(it.key(), it.value());
    m_socket->open(request);
    return QTest::qWaitFor([&] { return connected() && !messages.isEmpty(); }, 5000);
}

bool EventClient::connected() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

bool EventClient::waitFor(const std::function<bool(const QJsonObject &)> &match, int ms)
{
    return QTest::qWaitFor([&] { return std::any_of(messages.begin(), messages.end(), match); },
                           ms);
}

} // namespace testing
