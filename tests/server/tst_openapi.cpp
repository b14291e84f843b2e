// The API's description against the API: every route of the route table is described with its
// least role, nothing else is, and the server gives the description to anyone.
#include "server/Api.h"
#include "support/Server.h"
#include "support/Sim.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>

using namespace zev;

class TestOpenApi : public QObject {
    Q_OBJECT
private slots:
    void describesEveryRouteAndNoOther();
    void servedToAnyone();
};

void TestOpenApi::describesEveryRouteAndNoOther()
{
    QJsonParseError error;
    const QJsonObject document =
        QJsonDocument::fromJson(QByteArray::fromStdString(Api::description()), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(document["openapi"].toString(), "3.1.0");
    // Method and path to the role the description gives.
    QMap<QString, QString> described;
    QSet<QString> forGuests; ///< the routes a room's guest may use
    const QJsonObject paths = document["paths"].toObject();
    for (auto path = paths.begin(); path != paths.end(); ++path) {
        const QJsonObject operations = path.value().toObject();
        for (auto operation = operations.begin(); operation != operations.end(); ++operation) {
            const QJsonObject body = operation.value().toObject();
            QVERIFY2(!body["responses"].toObject().isEmpty(), qPrintable(path.key()));
            described[operation.key().toUpper() + " " + path.key()] = body["x-zev720-role"].toString();
            if (body["x-zev720-guest"].toBool()) forGuests.insert(operation.key().toUpper() + " " + path.key());
        }
    }
    QMap<QString, QString> served{{"POST /api/v1/login", "anyone"},
                                  {"POST /api/v1/pair", "anyone"},
                                  {"GET /api/v1/openapi.json", "anyone"}};
    for (const Api::Route &route : Api::routes()) {
        QString path;
        for (const std::string &segment : route.pattern) path += "/" + QString::fromStdString(segment);
        const QString key = QString(route.method) + " " + path;
        served[key] = roleName(route.least);
        QVERIFY2(Api::guestMay(route) == forGuests.contains(key), qPrintable(key + ": for guests?"));
    }
    for (auto it = served.begin(); it != served.end(); ++it) {
        QVERIFY2(described.contains(it.key()), qPrintable(it.key() + " is not described"));
        QCOMPARE(described[it.key()], it.value());
    }
    for (auto it = described.begin(); it != described.end(); ++it)
        QVERIFY2(served.contains(it.key()), qPrintable(it.key() + " is described but not served"));
}

void TestOpenApi::servedToAnyone()
{
    testing::WorkingFolder folder;
    testing::Sim sim;
    testing::writeFile("venue.csv", "stage, " + sim.path().toUtf8() + "\n");
    testing::VenueServer server;
    QVERIFY(server.start("venue.csv"));
    const testing::HttpReply reply = testing::http("GET", server.url("/api/v1/openapi.json"));
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body, QByteArray::fromStdString(Api::description()));
    QCOMPARE(testing::http("POST", server.url("/api/v1/openapi.json")).status, 405);
}

QTEST_GUILESS_MAIN(TestOpenApi)
#include "tst_openapi.moc"
