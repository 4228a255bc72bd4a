// The received-frame table and the frames the client sends, through the pure frame handling.
#include "SocketIOFrame.h"

#include <QJsonDocument>
#include <QtTest>

class TestSocketIOFrame : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void binaryFrames_readAsTextUpToFirstZero_data();
    void binaryFrames_readAsTextUpToFirstZero();
    void sentFrames();
};

static void row(const char* name, const QString& frame, SocketIOFrame::Type type, int pingTimeout = 0,
                int pingInterval = 0, const QString& event = QString(), const char* data = "{}")
{
    QTest::newRow(name) << frame << int(type) << pingTimeout << pingInterval << event
                        << QJsonDocument::fromJson(data).object();
}

void TestSocketIOFrame::parse_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("pingTimeout");
    QTest::addColumn<int>("pingInterval");
    QTest::addColumn<QString>("eventName");
    QTest::addColumn<QJsonObject>("eventData");

    using F = SocketIOFrame;
    row("open", R"(0{"sid":"a","upgrades":[],"pingInterval":25000,"pingTimeout":20000})", F::Open, 20000, 25000);
    row("open without interval", R"(0{"pingTimeout":60000})", F::Open, 60000);
    row("open pingTimeout 0", R"(0{"pingTimeout":0,"pingInterval":5})", F::Open, 0, 5);
    row("open pingTimeout text", R"(0{"pingTimeout":"20000"})", F::Open);
    row("open pingTimeout huge, clamped", R"(0{"pingTimeout":1e300})", F::Open, 536870911);
    row("open payload not JSON", "0{pingTimeout:5}", F::Open);

    row("event of two", R"(42["notify",{"x":1}])", F::Event, 0, 0, "notify", R"({"x":1})");
    row("event of one", R"(42["notify"])", F::Event, 0, 0, "notify");
    row("event of three", R"(42["notify",{"x":1},{"y":2}])", F::Event, 0, 0, "notify");
    row("event data not an object", R"(42["notify","text"])", F::Event, 0, 0, "notify");

    row("empty event array", "42[]", F::Ignored);
    row("connect ack", "40", F::Ignored);
    row("event broken JSON", R"(42["notify",{)", F::Ignored);

    row("disconnect", "41", F::Disconnect);
    row("disconnect with payload", R"(41["x"])", F::Disconnect);
    row("pong", "3", F::Pong);

    row("empty frame", QString(), F::Unrecognised);
    row("garbage", "hello", F::Unrecognised);
    row("invalid UTF-8", QString::fromUtf8("\xff\xfe\x01"), F::Unrecognised);
}

void TestSocketIOFrame::parse()
{
    QFETCH(QString, frame);
    QFETCH(int, type);
    QFETCH(int, pingTimeout);
    QFETCH(int, pingInterval);
    QFETCH(QString, eventName);
    QFETCH(QJsonObject, eventData);

    const SocketIOFrame parsed = SocketIOFrame::parse(frame);
    QCOMPARE(int(parsed.type), type);
    QCOMPARE(parsed.pingTimeoutMsecs, pingTimeout);
    QCOMPARE(parsed.pingIntervalMsecs, pingInterval);
    QCOMPARE(parsed.eventName, eventName);
    QCOMPARE(parsed.eventData, eventData);
}

void TestSocketIOFrame::binaryFrames_readAsTextUpToFirstZero_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("type");
    QTest::newRow("event") << QByteArray(R"(42["notify",{"x":1}])") << R"(42["notify",{"x":1}])"
                           << int(SocketIOFrame::Event);
    QTest::newRow("cut at zero") << QByteArray("41\0garbage", 10) << "41" << int(SocketIOFrame::Disconnect);
    QTest::newRow("only zero") << QByteArray("\0", 1) << QString() << int(SocketIOFrame::Unrecognised);
}

void TestSocketIOFrame::binaryFrames_readAsTextUpToFirstZero()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, text);
    QFETCH(int, type);
    QCOMPARE(SocketIOFrame::textOfBinary(data), text);
    QCOMPARE(int(SocketIOFrame::parse(SocketIOFrame::textOfBinary(data)).type), type);
}

void TestSocketIOFrame::sentFrames()
{
    QCOMPARE(SocketIOFrame::pingFrame(), QStringLiteral("20"));
    QCOMPARE(SocketIOFrame::eventFrame(QStringLiteral("x"), QJsonObject()), QStringLiteral(R"(42["x",{}])"));
    // Compact, keys in ascending order, as the service has always seen them.
    QCOMPARE(SocketIOFrame::eventFrame(QStringLiteral("register"),
                                       QJsonObject{{QStringLiteral("wskey"), QStringLiteral("k")},
                                                   {QStringLiteral("username"), QStringLiteral("u")}}),
             QStringLiteral(R"(42["register",{"username":"u","wskey":"k"}])"));
}

QTEST_GUILESS_MAIN(TestSocketIOFrame)
#include "test_socketioframe.moc"
