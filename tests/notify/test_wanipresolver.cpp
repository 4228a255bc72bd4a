// The public-address lookup against local HTTP fakes.
#include "FakeHttpServer.h"
#include "WanIpResolver.h"

#include <QElapsedTimer>
#include <QtTest>

class TestWanIpResolver : public QObject
{
    Q_OBJECT

private slots:
    void addressFromHtml_data();
    void addressFromHtml();
    void resolve_againstServices_data();
    void resolve_againstServices();
    void resolve_stalledService_givesUpAfterItsLimit();
    void resolve_bothStalled_returnsEmptyWithinTwoLimits();
};

namespace {
const QByteArray kPage = "<html><head><title>Current IP Check</title></head>"
                         "<body>Current IP Address: 192.0.2.7</body></html>\r\n";
}

void TestWanIpResolver::addressFromHtml_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("address");
    QTest::newRow("one colon") << kPage << QStringLiteral("192.0.2.7");
    QTest::newRow("two colons") << QByteArray("<body>Current IP Address: 2001:db8::1</body>") << QString();
    QTest::newRow("no colon") << QByteArray("<body>192.0.2.7</body>") << QString();
    QTest::newRow("tags with attributes stay")
        << QByteArray("IP: <b class=\"x\">192.0.2.7</b>") << QStringLiteral("<b class=\"x\">192.0.2.7");
    QTest::newRow("cut at zero byte") << QByteArray("IP: 192.0.2.7\0</body>junk", 26) << QStringLiteral("192.0.2.7");
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestWanIpResolver::addressFromHtml()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, address);
    QCOMPARE(WanIpResolver::addressFromHtml(body), address);
}

void TestWanIpResolver::resolve_againstServices_data()
{
    QTest::addColumn<int>("htmlStatus"); // 0: service down
    QTest::addColumn<QByteArray>("htmlBody");
    QTest::addColumn<int>("textStatus");
    QTest::addColumn<QByteArray>("textBody");
    QTest::addColumn<QString>("address");

    QTest::newRow("html and text agree") << 200 << kPage << 200 << QByteArray("192.0.2.7\n")
                                         << QStringLiteral("192.0.2.7");
    QTest::newRow("text has the last word")
        << 200 << kPage << 200 << QByteArray(" 198.51.100.4 \r\n") << QStringLiteral("198.51.100.4");
    QTest::newRow("text down keeps html answer") << 200 << kPage << 0 << QByteArray() << QStringLiteral("192.0.2.7");
    QTest::newRow("text error status keeps html answer")
        << 200 << kPage << 500 << QByteArray("oops") << QStringLiteral("192.0.2.7");
    QTest::newRow("empty text keeps html answer")
        << 200 << kPage << 200 << QByteArray("\n") << QStringLiteral("192.0.2.7");
    QTest::newRow("html two colons, text stands in") << 200 << QByteArray("<body>Address: 2001:db8::1</body>") << 200
                                                     << QByteArray("192.0.2.9\n") << QStringLiteral("192.0.2.9");
    QTest::newRow("html down, text stands in")
        << 0 << QByteArray() << 200 << QByteArray("192.0.2.9\n") << QStringLiteral("192.0.2.9");
    QTest::newRow("plain text only, html says nothing")
        << 404 << QByteArray("nope") << 200 << QByteArray("192.0.2.7\n") << QStringLiteral("192.0.2.7");
    QTest::newRow("both down") << 0 << QByteArray() << 0 << QByteArray() << QString();
    QTest::newRow("html two colons, text down") << 200 << QByteArray("a: b: c") << 0 << QByteArray() << QString();
}

void TestWanIpResolver::resolve_againstServices()
{
    QFETCH(int, htmlStatus);
    QFETCH(QByteArray, htmlBody);
    QFETCH(int, textStatus);
    QFETCH(QByteArray, textBody);
    QFETCH(QString, address);

    FakeHttpServer html;
    FakeHttpServer text;
    QVERIFY(html.listen());
    QVERIFY(text.listen());
    html.setResponse("/", htmlStatus, htmlBody, "text/html");
    text.setResponse("/", textStatus, textBody);
    const QUrl htmlUrl = htmlStatus ? html.url() : FakeHttpServer::deadUrl();
    const QUrl textUrl = textStatus ? text.url() : FakeHttpServer::deadUrl();

    QCOMPARE(WanIpResolver::resolveWanIp(htmlUrl, textUrl, 5000), address);
    if (htmlStatus) {
        QCOMPARE(html.requests().size(), 1);
        QCOMPARE(html.requests().first().method, QByteArray("GET"));
    }
}

void TestWanIpResolver::resolve_stalledService_givesUpAfterItsLimit()
{
    FakeHttpServer html;
    FakeHttpServer text;
    QVERIFY(html.listen());
    QVERIFY(text.listen());
    html.setResponse("/", 200, kPage, "text/html");
    text.setStalled("/");

    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(WanIpResolver::resolveWanIp(html.url(), text.url(), 300), QStringLiteral("192.0.2.7"));
    QVERIFY2(elapsed.elapsed() >= 280, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(text.requests().size(), 1);

    // The stalled one first: the other service still answers.
    html.setStalled("/");
    text.setResponse("/", 200, "192.0.2.8\n");
    QCOMPARE(WanIpResolver::resolveWanIp(html.url(), text.url(), 300), QStringLiteral("192.0.2.8"));
}

void TestWanIpResolver::resolve_bothStalled_returnsEmptyWithinTwoLimits()
{
    FakeHttpServer html;
    QVERIFY(html.listen());
    html.setStalled("/");
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(WanIpResolver::resolveWanIp(html.url(), html.url(), 300), QString());
    QCOMPARE(html.requests().size(), 2);
    // Generous: it must end, not hang until the network layer gives up.
    QVERIFY2(elapsed.elapsed() < 30000, qPrintable(QString::number(elapsed.elapsed())));
}

QTEST_GUILESS_MAIN(TestWanIpResolver)
#include "test_wanipresolver.moc"
