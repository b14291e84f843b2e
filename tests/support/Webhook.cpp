#include "support/Webhook.h"

#include <QTcpSocket>
#include <QTest>

namespace testing {

Webhook::Webhook(QList<int> statuses) : m_statuses(std::move(statuses))
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                const QByteArray all = socket->property("got").toByteArray() + socket->readAll();
                socket->setProperty("got", all);
                const int end = int(all.indexOf("\r\n\r\n"));
                if (end < 0) return;
                int length = 0;
                for (const QByteArray &line : all.left(end).split('\n'))
                    if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toInt();
                if (all.size() < end + 4 + length) return;
                requests << all.left(all.indexOf(" HTTP/"));
                bodies << all.mid(end + 4, length);
                const int status = m_statuses.isEmpty() ? 200 : m_statuses.takeFirst();
                socket->write("HTTP/1.1 " + QByteArray::number(status) +
                              " X\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            });
        }
    });
}

bool Webhook::waitFor(const QByteArray &text, int ms) const
{
    return QTest::qWaitFor([&] {
        for (const QByteArray &body : bodies)
            if (body.contains(text)) return true;
        return false;
    }, ms);
}

} // namespace testing
