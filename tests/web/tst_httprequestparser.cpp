#include "web/HttpRequestParser.h"

#include <QtTest>

using Result = HttpRequestParser::Result;

class TestHttpRequestParser : public QObject
{
    Q_OBJECT
private slots:
    void headBoundaries();
    void requestLine();
    void upgradeDetection();
    void confinedPaths_data();
    void confinedPaths();
};

void TestHttpRequestParser::headBoundaries()
{
    HttpRequest request;
    QCOMPARE(HttpRequestParser::parse("GET / HTTP/1.1\r\n\r", &request), Result::Incomplete);
    QCOMPARE(HttpRequestParser::parse("", &request), Result::Incomplete);

    // The largest head accepted is MaxHeadBytes long; one byte more ends the connection,
    // whether its terminator has arrived or not.
    const QByteArray line = "GET /";
    const QByteArray fits =
        line + QByteArray(HttpRequestParser::MaxHeadBytes - line.size() - 9, 'a') + " HTTP/1.1";
    QCOMPARE(fits.size(), HttpRequestParser::MaxHeadBytes);
    QCOMPARE(HttpRequestParser::parse(fits + "\r\n\r\nbody", &request), Result::Complete);
    QCOMPARE(request.body, QByteArray("body"));
    QCOMPARE(HttpRequestParser::parse(fits + "\r\n\r", &request), Result::Incomplete);
    QCOMPARE(HttpRequestParser::parse(fits + "a\r\n\r", &request), Result::TooLarge);
    QCOMPARE(HttpRequestParser::parse(fits + "a\r\n\r\n", &request), Result::TooLarge);
}

void TestHttpRequestParser::requestLine()
{
    HttpRequest request;
    QCOMPARE(HttpRequestParser::parse("\r\n\r\nGET / HTTP/1.1\r\n\r\n", &request), Result::Malformed);
    QCOMPARE(HttpRequestParser::parse("GET /\r\n\r\n", &request), Result::Malformed);
    // Extra spaces make empty parts; the target is always the second.
    QCOMPARE(HttpRequestParser::parse("GET  / HTTP/1.1\r\n\r\n", &request), Result::Complete);
    QCOMPARE(request.target, QString());
    QCOMPARE(HttpRequestParser::parse("GET /a%20b%C3%A9?x=%41#f HTTP/1.1\r\nX: 1\r\n\r\n", &request),
             Result::Complete);
    QCOMPARE(request.path, QStringLiteral("/a b\u00e9"));
    QCOMPARE(request.head, QByteArray("GET /a%20b%C3%A9?x=%41#f HTTP/1.1\r\nX: 1"));
    QVERIFY(request.body.isEmpty());
}

void TestHttpRequestParser::upgradeDetection()
{
    HttpRequest request;
    HttpRequestParser::parse("GET /ws?token=1 HTTP/1.1\r\nHost: a\r\nupgrade:  h2c, WebSocket \r\n\r\n",
                             &request);
    QCOMPARE(request.headerValue("UPGRADE"), QByteArray("h2c, WebSocket"));
    QVERIFY(request.isWebSocketUpgrade());
    HttpRequestParser::parse("GET /ws HTTP/1.1\r\nX-Upgrade: websocket\r\n\r\n", &request);
    QVERIFY(!request.isWebSocketUpgrade());
    HttpRequestParser::parse("POST /ws HTTP/1.1\r\nUpgrade: websocket\r\n\r\n", &request);
    QVERIFY(!request.isWebSocketUpgrade());
}

void TestHttpRequestParser::confinedPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("confined");
    QTest::newRow("root") << "/" << true;
    QTest::newRow("dots in names") << "/a..b/..c/.../x..y" << true;
    QTest::newRow("dot") << "/./index.html" << true;
    QTest::newRow("parent") << "/a/../../x" << false;
    QTest::newRow("trailing parent") << "/a/.." << false;
    QTest::newRow("bare parent") << ".." << false;
    QTest::newRow("backslash parent") << "/a\\..\\x" << false;
    QTest::newRow("NUL") << QStringLiteral("/index.html") + QChar(0) << false;
}

void TestHttpRequestParser::confinedPaths()
{
    QFETCH(QString, path);
    QFETCH(bool, confined);
    QCOMPARE(isConfinedRequestPath(path), confined);
}

QTEST_APPLESS_MAIN(TestHttpRequestParser)
#include "tst_httprequestparser.moc"
