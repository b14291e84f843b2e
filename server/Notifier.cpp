#include "server/Notifier.h"

#include "files/Json.h"
#include "server/Views.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <cstdio>

namespace zev {

std::string notifyUrlProblem(const std::string &url)
{
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid() || (parsed.scheme() != "http" && parsed.scheme() != "https") ||
        parsed.host().isEmpty())
        return "not an http:// or https:// address";
    if (!parsed.fragment().isEmpty()) return "a fragment (#...) is never sent";
    return {};
}

Notifier::Notifier(VenueService &service, const QUrl &url, int afterSeconds, QObject *parent)
    : QObject(parent), m_service(service), m_url(url), m_afterMs(afterSeconds * 1000)
{
    m_network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &Notifier::sendNext);
    for (HeldRoom &room : m_service.venue().rooms()) watch(room);
    connect(&m_service, &VenueService::stateChanged, this, [this](HeldRoom &room) { watch(room); });
    connect(&m_service, &VenueService::settingsLostChanged, this, [this](HeldRoom &room) {
        if (room.settingsLost.empty()) return;
        queue(room, "settings-lost", "settings-lost", "",
              room.name + ": the unit lost its settings (restore them on its page)");
    });
}

void Notifier::watch(HeldRoom &room)
{
    Away &away = m_away[&room];
    if (!away.timer) {
        away.timer = std::make_unique<QTimer>();
        away.timer->setSingleShot(true);
        connect(away.timer.get(), &QTimer::timeout, this, [this, &room, &away] {
            away.told = true;
            const int seconds = m_afterMs / 1000;
            const std::string reason = away.reason.empty() ? "connecting" : away.reason;
            queue(room, "offline", reason, away.detail,
                  room.name + ": offline for " +
                      (seconds % 60 ? std::to_string(seconds) + " s" : std::to_string(seconds / 60) + " minutes") +
                      " (" + reason + ")");
        });
    }
    switch (room.holder->state()) {
    case RoomHolder::State::Online:
        away.timer->stop();
        away.reason.clear();
        away.detail.clear();
        if (std::exchange(away.told, false)) queue(room, "online", "", "", room.name + ": online again");
        break;
    case RoomHolder::State::Offline:
        away.reason = offlineCode(room);
        away.detail = room.holder->reason();
        [[fallthrough]];
    case RoomHolder::State::Connecting:
        // Away since it left online: its tries to come back do not start the time again.
        if (!away.told && !away.timer->isActive()) away.timer->start(m_afterMs);
        break;
    case RoomHolder::State::Stopped:
        away.timer->stop(); // the server is ending
        break;
    }
}

void Notifier::queue(const HeldRoom &room, const char *state, const std::string &reason,
                     const std::string &detail, const std::string &text)
{
    JsonWriter out;
    out.object().field("room", room.name).field("state", state).field("reason", reason);
    out.field("detail", detail)
        .field("time", m_service.clock().now().toUTC().toString(Qt::ISODate).toStdString())
        .field("text", text)
        .end();
    if (m_queue.size() == kMaxNotifyQueue) {
        m_queue.pop_front();
        ++m_givenUp;
        print("the queue is full: the oldest dropped");
    }
    m_queue.push_back(QByteArray::fromStdString(out.text()));
    if (!m_sending && !m_retry.isActive()) sendNext();
}

void Notifier::sendNext()
{
    if (m_queue.empty() || m_sending) return;
    m_sending = true;
    QNetworkRequest request(m_url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    request.setHeader(QNetworkRequest::UserAgentHeader, "zev720d/" ZEV720_VERSION);
    request.setTransferTimeout(kNotifyTimeoutMs);
    QNetworkReply *reply = m_network.post(request, m_queue.front());
    // Whatever it answers is read and dropped as it comes: never held.
    connect(reply, &QNetworkReply::readyRead, reply, [reply] { reply->skip(reply->bytesAvailable()); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        m_sending = false;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::NoError && status >= 200 && status < 300) {
            m_queue.pop_front();
            m_tries = 0;
            ++m_sent;
            return sendNext();
        }
        const std::string why = status ? "HTTP " + std::to_string(status) : reply->errorString().toStdString();
        if (++m_tries >= kNotifyTries) {
            print("given up after " + std::to_string(m_tries) + " tries (" + why + ")");
            m_queue.pop_front();
            m_tries = 0;
            ++m_givenUp;
            return sendNext();
        }
        print("not taken (" + why + "), tried again in " +
              std::to_string((kNotifyFirstRetryMs << (m_tries - 1)) / 1000) + " s");
        m_retry.start(kNotifyFirstRetryMs << (m_tries - 1));
    });
}

void Notifier::print(const std::string &line) const
{
    // The address without its path and query: a chat's webhook carries its secret there.
    std::printf("notify %s: %s\n",
                m_url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveUserInfo)
                    .toString()
                    .toUtf8()
                    .constData(),
                line.c_str());
    std::fflush(stdout);
}

} // namespace zev
