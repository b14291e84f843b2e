// zev720d as a child process, and the HTTP and WebSocket clients its tests use: Qt's own
// (QNetworkAccessManager, QWebSocket), over this machine's loopback.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class QWebSocket;

namespace testing {

/// The server on a venue file: API on a port the system chooses, frame ports likewise, its
/// own state folder unless given one.
struct VenueServer {
private:
    QTemporaryDir m_dir; // first: the state folder may be in it

public:
    QProcess process;
    QMap<QString, QString> ports; ///< frame ports by room
    QString out;
    quint16 api = 0;
    QString state;

    explicit VenueServer(QString stateFolder = {});
    ~VenueServer();
    /// Waits until the API listens and `until` appears in its output ("" for none).
    bool start(const QString &venue, const QString &until = ": online",
               const QStringList &extra = {});
    /// Reads what it printed, and waits up to `ms` for `text`.
    bool waitFor(const QString &text, int ms = 10000);
    void stop(); ///< SIGTERM, and waits
    QString url(const QString &path) const;
};

/// `zev720d user add NAME --role ROLE --state DIR` (and `extra`) with the password on its input.
bool addUser(const QString &state, const QString &name, const QString &role,
             const QString &password, const QStringList &extra = {});
/// A new token of the user.
QString addToken(const QString &state, const QString &name, const QString &label);

struct HttpReply {
    int status = 0;
    QByteArray body;
    QMap<QByteArray, QByteArray> headers; ///< names lower case
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

/// One request; `headers` as given (a name with an empty value is not sent).
HttpReply http(const QByteArray &method, const QString &url, const QByteArray &body = {},
               const QMap<QByteArray, QByteArray> &headers = {});
/// The same request written by hand on a socket (for what Qt's client would not send), the
/// response read until the server closes or `ms` passes.
QByteArray rawHttp(quint16 port, const QByteArray &request, int ms = 3000);

/// A WebSocket client of the event stream, its messages kept as they come.
class EventClient {
public:
    EventClient();
    ~EventClient();
    /// Opens ws://127.0.0.1:PORT/api/v1/events with these headers; true once open.
    bool open(quint16 port, const QMap<QByteArray, QByteArray> &headers);
    QList<QJsonObject> messages; ///< each text message
    /// Waits until a message matches.
    bool waitFor(const std::function<bool(const QJsonObject &)> &match, int ms = 5000);
    bool connected() const;

private:
    std::unique_ptr<QWebSocket> m_socket;
};

} // namespace testing
