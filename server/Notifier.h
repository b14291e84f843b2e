// For venues with no monitoring: a webhook told when a room has been away for a while (offline
// or still connecting, `after` seconds on end), when it is back, and when its unit lost its
// settings. Each is a small JSON POST:
//
//   {"room": "K01", "state": "offline", "reason": "no-reply", "detail": "...",
//    "time": "2026-12-11T03:00:00Z", "text": "K01: offline for 2 minutes (no-reply)"}
//
// ("text" for chat webhooks that show it as the message). state is offline, online or
// settings-lost. Sent one at a time in order, each tried again on failure after 2, 4, 8 ... s
// (at most kNotifyTries tries); at most kMaxNotifyQueue wait, the oldest dropped beyond. Never
// blocks a room: the posts are Qt Network's, on the event loop. The URL may hold a secret (a
// chat's token): only its scheme and host are ever printed.
#pragma once

#include "service/VenueService.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <deque>
#include <map>
#include <memory>
#include <string>

namespace zev {

constexpr int kDefaultNotifyAfterSeconds = 120;
constexpr int kNotifyTries = 8;
constexpr int kNotifyFirstRetryMs = 2000;
constexpr std::size_t kMaxNotifyQueue = 100;
/// One try's bound: connecting, sending and the answer.
constexpr int kNotifyTimeoutMs = 10000;

/// The problem with a webhook's address ("http or https"), or empty for a sound one.
std::string notifyUrlProblem(const std::string &url);

class Notifier : public QObject {
    Q_OBJECT
public:
    Notifier(VenueService &service, const QUrl &url, int afterSeconds, QObject *parent = nullptr);
    /// The posts sent and those given up (after every try, or dropped from a full queue).
    int sent() const { return m_sent; }
    int givenUp() const { return m_givenUp; }

private:
    struct Away {
        std::unique_ptr<QTimer> timer;
        bool told = false;      ///< its offline post was made
        std::string reason, detail; ///< the latest offline reason
    };
    void watch(HeldRoom &room);
    void queue(const HeldRoom &room, const char *state, const std::string &reason,
               const std::string &detail, const std::string &text);
    void sendNext();
    void print(const std::string &line) const;

    VenueService &m_service;
    QUrl m_url;
    int m_afterMs;
    QNetworkAccessManager m_network;
    std::map<const HeldRoom *, Away> m_away;
    std::deque<QByteArray> m_queue;
    bool m_sending = false;
    int m_tries = 0;
    int m_sent = 0;
    int m_givenUp = 0;
    QTimer m_retry;
};

} // namespace zev
