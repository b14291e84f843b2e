// A webhook receiver of the test's own on this machine's loopback: it keeps each POST's body
// and answers with the statuses it is given, in turn (200 once they run out).
#pragma once

#include <QByteArray>
#include <QList>
#include <QTcpServer>

namespace testing {

class Webhook : public QObject {
public:
    explicit Webhook(QList<int> statuses = {});
    quint16 port() const { return m_server.serverPort(); }
    /// Each request as "METHOD PATH", and its body.
    QList<QByteArray> requests, bodies;
    /// Waits until a body holds `text`.
    bool waitFor(const QByteArray &text, int ms = 10000) const;

private:
    QTcpServer m_server;
    QList<int> m_statuses;
};

} // namespace testing
