// The public-address lookup against local HTTP fakes.
#include "NotifyTestSupport.h"
#include "WanIpResolver.h"

#include <QElapsedTimer>
#include <QtTest>

class TestWanIpResolver : public QObject
{
    Q_OBJECT

private slots:
    void resolve_data();
    void resolve();
    void resolve_stalledServices_giveUpAfterTheirLimit();
};

namespace {
const QByteArray kPage = "<html><head><title>Current IP Check</title></head>"
                         "<body>Current IP Address: 192.0.2.7</body></html>\r\n";
}

void TestWanIpResolver::resolve_data()
{
    QTest::addColumn<int>("htmlStatus"); // 0: service down
    QTest::addColumn<QByteArray>("htmlBody");
    QTest::addColumn<int>("textStatus");
    QTest::addColumn<QByteArray>("textBody");
    QTest::addColumn<QString>("address");

    const QByteArray twoColons = "<body>Address: 2001:db8::1</body>";
    QTest::newRow("html, one colon, text down") << 200 << kPage << 0 << QByteArray() << "192.0.2.7";
    QTest::newRow("html, cut at zero byte") << 200 << QByteArray("IP: 192.0.2.7\0</body>junk", 26) << 0
                                            << QByteArray() << "192.0.2.7";
    QTest::newRow("html, no colon") << 200 << QByteArray("<body>192.0.2.7</body>") << 0 << QByteArray() << QString();
    QTest::newRow("html, two colons") << 200 << twoColons << 0 << QByteArray() << QString();
    QTest::newRow("text has the last word") << 200 << kPage << 200 << QByteArray(" 198.51.100.4 \r\n")
                                            << "198.51.100.4";
    QTest::newRow("text error status keeps html") << 200 << kPage << 500 << QByteArray("oops") << "192.0.2.7";
    QTest::newRow("empty text keeps html") << 200 << kPage << 200 << QByteArray("\n") << "192.0.2.7";
    QTest::newRow("two colons, text stands in") << 200 << twoColons << 200 << QByteArray("192.0.2.9\n")
                                                << "192.0.2.9";
    QTest::newRow("html down, text stands in") << 0 << QByteArray() << 200 << QByteArray("192.0.2.9\n")
                                               << "192.0.2.9";
    QTest::newRow("both down") << 0 << QByteArray() << 0 << QByteArray() << QString();
}

void TestWanIpResolver::resolve()
{
    QFETCH(int, htmlStatus);
    QFETCH(QByteArray, htmlBody);
    QFETCH(int, textStatus);
    QFETCH(QByteArray, textBody);
    QFETCH(QString, address);

    FakeHttpServer html;
    FakeHttpServer text;
    QVERIFY(html.listen() && text.listen());
    html.setResponse("/", htmlStatus, htmlBody);
    text.setResponse("/", textStatus, textBody);
    QCOMPARE(WanIpResolver::resolveWanIp(htmlStatus ? html.url() : FakeHttpServer::deadUrl(),
                                         textStatus ? text.url() : FakeHttpServer::deadUrl(), 5000),
             address);
    if (htmlStatus) {
        QCOMPARE(html.requests.size(), 1);
        QVERIFY(html.requests.first().head.startsWith("GET / "));
    }
}

void TestWanIpResolver::resolve_stalledServices_giveUpAfterTheirLimit()
{
    FakeHttpServer html;
    FakeHttpServer text;
    QVERIFY(html.listen() && text.listen());
    html.setResponse("/", 200, kPage);
    text.setResponse("/", 0);
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(WanIpResolver::resolveWanIp(html.url(), text.url(), 300), QStringLiteral("192.0.2.7"));
    QVERIFY2(elapsed.elapsed() >= 280, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(text.requests.size(), 1);

    // The stalled one first: the other service still answers.
    html.setResponse("/", 0);
    text.setResponse("/", 200, "192.0.2.8\n");
    QCOMPARE(WanIpResolver::resolveWanIp(html.url(), text.url(), 300), QStringLiteral("192.0.2.8"));

    // Both stalled: it ends empty, rather than hang until the network layer gives up.
    text.setResponse("/", 0);
    elapsed.start();
    QCOMPARE(WanIpResolver::resolveWanIp(html.url(), text.url(), 300), QString());
    QCOMPARE(html.requests.size() + text.requests.size(), 6);
    QVERIFY2(elapsed.elapsed() < 30000, qPrintable(QString::number(elapsed.elapsed())));
}

QTEST_GUILESS_MAIN(TestWanIpResolver)
#include "test_wanipresolver.moc"
