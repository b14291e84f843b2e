// HTTP requests as the venue server reads them: what is taken, what waits for more, and what
// is refused with which status, for the requests that lenient readers see two ways.
#include "wire/HttpRequest.h"

#include <QTest>

using zev::HttpParse;

class TestHttp : public QObject {
    Q_OBJECT
private slots:
    void requests_data();
    void requests();
    void boundsAreCheckedAsBytesArrive();
    void pathsAndQueries();
};

void TestHttp::requests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status"); // 0 taken, -1 needs more, else the refusal
    QTest::addColumn<QByteArray>("body");
    const QByteArray get = "GET /api/v1/rooms HTTP/1.1\r\nHost: localhost:8720\r\n";
    QTest::newRow("get") << get + "\r\n" << 0 << QByteArray();
    QTest::newRow("body") << QByteArray("PATCH /x HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\nhello")
                          << 0 << QByteArray("hello");
    QTest::newRow("the next request stays") << get + "\r\nGET / HTTP/1.1\r\n" << 0 << QByteArray();
    QTest::newRow("half a head") << get << -1 << QByteArray();
    QTest::newRow("half a body") << QByteArray("POST /x HTTP/1.1\r\nHost: h\r\nContent-Length: 9\r\n\r\nab")
                                 << -1 << QByteArray();
    QTest::newRow("bare LF") << QByteArray("GET / HTTP/1.1\nHost: h\n\n") << 400 << QByteArray();
    QTest::newRow("CR inside") << QByteArray("GET / HTTP/1.1\r\nHost: h\rX: y\r\n\r\n") << 400
                               << QByteArray();
    QTest::newRow("folded") << get + " more\r\n\r\n" << 400 << QByteArray();
    QTest::newRow("space before colon") << get + "X-A : b\r\n\r\n" << 400 << QByteArray();
    QTest::newRow("chunked") << get + "Transfer-Encoding: chunked\r\n\r\n" << 501 << QByteArray();
    QTest::newRow("two lengths")
        << get + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab" << 400 << QByteArray();
    QTest::newRow("same length twice")
        << get + "Content-Length: 2\r\nContent-Length: 2\r\n\r\nab" << 0 << QByteArray("ab");
    QTest::newRow("signed length") << get + "Content-Length: +2\r\n\r\nab" << 400 << QByteArray();
    QTest::newRow("no host") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 400 << QByteArray();
    QTest::newRow("two hosts") << get + "Host: evil\r\n\r\n" << 400 << QByteArray();
    QTest::newRow("1.0 without host") << QByteArray("GET / HTTP/1.0\r\n\r\n") << 0 << QByteArray();
    QTest::newRow("HTTP/2") << QByteArray("GET / HTTP/2.0\r\nHost: h\r\n\r\n") << 505
                            << QByteArray();
    QTest::newRow("absolute target")
        << QByteArray("GET http://evil/ HTTP/1.1\r\nHost: h\r\n\r\n") << 400 << QByteArray();
    QTest::newRow("control in value") << get + QByteArray("X: a\x01z\r\n\r\n") << 400
                                      << QByteArray();
    QTest::newRow("too large a body") << get + "Content-Length: 70000\r\n\r\n" << 413
                                      << QByteArray();
}

void TestHttp::requests()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    zev::HttpRequest request;
    std::size_t consumed = 0;
    zev::HttpRefusal refusal;
    const HttpParse result = zev::parseHttpRequest(
        std::string_view(bytes.constData(), std::size_t(bytes.size())), {}, request, consumed,
        refusal);
    if (status == 0) {
        QCOMPARE(result, HttpParse::Done);
        QCOMPARE(QByteArray::fromStdString(request.body), body);
        QVERIFY(consumed <= std::size_t(bytes.size()));
        QVERIFY(bytes.left(qsizetype(consumed)).endsWith("\r\n\r\n" + body));
    } else if (status < 0) {
        QCOMPARE(result, HttpParse::NeedMore);
    } else {
        QCOMPARE(result, HttpParse::Refused);
        QCOMPARE(refusal.status, status);
        QVERIFY(!refusal.message.empty());
    }
}

// A client is refused when its bytes pass a bound, not when it stops sending: a head without
// an end, a target without a space, or more header lines than allowed.
void TestHttp::boundsAreCheckedAsBytesArrive()
{
    zev::HttpRequest request;
    std::size_t consumed = 0;
    zev::HttpRefusal refusal;
    const auto parse = [&](const std::string &bytes) {
        return zev::parseHttpRequest(bytes, {}, request, consumed, refusal);
    };
    QCOMPARE(parse("GET /" + std::string(3000, 'a')), HttpParse::Refused);
    QCOMPARE(refusal.status, 414);
    QCOMPARE(parse("GET / HTTP/1.1\r\nHost: h\r\nX: " + std::string(9000, 'a')),
             HttpParse::Refused);
    QCOMPARE(refusal.status, 431);
    std::string many = "GET / HTTP/1.1\r\nHost: h\r\n";
    for (int i = 0; i < 70; ++i) many += "X-" + std::to_string(i) + ": 1\r\n";
    QCOMPARE(parse(many), HttpParse::Refused);
    QCOMPARE(refusal.status, 431);
    // Keep-alive by version and Connection; the WebSocket upgrade is seen in any case.
    QCOMPARE(parse("GET / HTTP/1.0\r\n\r\n"), HttpParse::Done);
    QVERIFY(!request.keepAlive);
    QCOMPARE(parse("GET /e HTTP/1.1\r\nHost: h\r\nConnection: keep-alive, Upgrade\r\n"
                   "Upgrade: WebSocket\r\n\r\n"),
             HttpParse::Done);
    QVERIFY(request.keepAlive && request.wantsWebSocket());
    QCOMPARE(parse("GET / HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n"), HttpParse::Done);
    QVERIFY(!request.keepAlive && !request.wantsWebSocket());
}

void TestHttp::pathsAndQueries()
{
    std::vector<std::string> segments;
    QVERIFY(zev::splitPath("/api/v1/rooms/A%2001", segments));
    QCOMPARE(segments, (std::vector<std::string>{"api", "v1", "rooms", "A 01"}));
    QVERIFY(zev::splitPath("/", segments) && segments.empty());
    for (const char *bad : {"/api/../etc", "/api/%2e%2e/x", "/a//b", "/a/%2Fb", "/a/%5cb", "/a/%00",
                            "/a/%zz", "/a/%2", "api"})
        QVERIFY2(!zev::splitPath(bad, segments), bad);
    std::vector<std::pair<std::string, std::string>> pairs;
    QVERIFY(zev::splitQuery("since=2026-12-09T10%3A00&n=3&flag", pairs));
    QCOMPARE(pairs.size(), std::size_t(3));
    QCOMPARE(pairs[0].second, std::string("2026-12-09T10:00"));
    QCOMPARE(pairs[2].first, std::string("flag"));
    QVERIFY(!zev::splitQuery("a=%0a", pairs));
    QVERIFY(!zev::splitQuery("=x", pairs));
}

QTEST_APPLESS_MAIN(TestHttp)
#include "tst_http.moc"
