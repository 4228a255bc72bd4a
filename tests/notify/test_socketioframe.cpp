// The received-frame table and the frames the client sends, through the pure
// frame handling.
#include "SocketIOFrame.h"

#include <QJsonDocument>
#include <QtTest>

class TestSocketIOFrame : public QObject
{
    Q_OBJECT

private slots:
    void parse_receivedFrames_data();
    void parse_receivedFrames();
    void binaryFrames_readAsTextUpToFirstZero_data();
    void binaryFrames_readAsTextUpToFirstZero();
    void eventFrame_isCompactTwoElementArray();
    void pingFrame_isTwenty();
};

namespace {
QJsonObject object(const char* json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}
} // namespace

void TestSocketIOFrame::parse_receivedFrames_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("pingTimeout");
    QTest::addColumn<int>("pingInterval");
    QTest::addColumn<QString>("eventName");
    QTest::addColumn<QJsonObject>("eventData");

    const int open = SocketIOFrame::Open;
    QTest::newRow("open with heartbeat")
        << QStringLiteral(R"(0{"sid":"a","upgrades":[],"pingInterval":25000,"pingTimeout":20000})") << open << 20000
        << 25000 << QString() << QJsonObject();
    QTest::newRow("open without interval")
        << QStringLiteral(R"(0{"pingTimeout":60000})") << open << 60000 << 0 << QString() << QJsonObject();
    QTest::newRow("open pingTimeout 1") << QStringLiteral(R"(0{"pingTimeout":1})") << open << 1 << 0 << QString()
                                        << QJsonObject();
    QTest::newRow("open pingTimeout 0") << QStringLiteral(R"(0{"pingTimeout":0,"pingInterval":5})") << open << 0 << 5
                                        << QString() << QJsonObject();
    QTest::newRow("open pingTimeout negative")
        << QStringLiteral(R"(0{"pingTimeout":-5})") << open << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("open pingTimeout text")
        << QStringLiteral(R"(0{"pingTimeout":"20000"})") << open << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("open pingTimeout missing")
        << QStringLiteral(R"(0{"pingInterval":25000})") << open << 0 << 25000 << QString() << QJsonObject();
    QTest::newRow("open pingTimeout huge")
        << QStringLiteral(R"(0{"pingTimeout":1e300})") << open << 536870911 << 0 << QString() << QJsonObject();
    QTest::newRow("open payload not json")
        << QStringLiteral("0{pingTimeout:5}") << open << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("open without payload") << QStringLiteral("0") << open << 0 << 0 << QString() << QJsonObject();

    const int event = SocketIOFrame::Event;
    QTest::newRow("event with data") << QStringLiteral(R"(42["notify",{"x":1}])") << event << 0 << 0
                                     << QStringLiteral("notify") << object(R"({"x":1})");
    QTest::newRow("event of one element")
        << QStringLiteral(R"(42["notify"])") << event << 0 << 0 << QStringLiteral("notify") << QJsonObject();
    QTest::newRow("event of three elements") << QStringLiteral(R"(42["notify",{"x":1},{"y":2}])") << event << 0 << 0
                                             << QStringLiteral("notify") << QJsonObject();
    QTest::newRow("event data not an object")
        << QStringLiteral(R"(42["notify","text"])") << event << 0 << 0 << QStringLiteral("notify") << QJsonObject();
    QTest::newRow("event under code 43") << QStringLiteral(R"(43["serveroutput",{}])") << event << 0 << 0
                                         << QStringLiteral("serveroutput") << QJsonObject();
    QTest::newRow("event with utf-8") << QStringLiteral(u"42[\"notify\",{\"contact\":\"Jos\u00e9 M\u00fcller\"}]")
                                      << event << 0 << 0 << QStringLiteral("notify")
                                      << QJsonObject{
                                             {QStringLiteral("contact"), QStringLiteral(u"Jos\u00e9 M\u00fcller")}};

    const int ignored = SocketIOFrame::Ignored;
    QTest::newRow("empty event array") << QStringLiteral("42[]") << ignored << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("event payload object")
        << QStringLiteral(R"(42{"notify":1})") << ignored << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("connect ack") << QStringLiteral("40") << ignored << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("lone 4") << QStringLiteral("4") << ignored << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("event broken json") << QStringLiteral(R"(42["notify",{)") << ignored << 0 << 0 << QString()
                                       << QJsonObject();

    const int disconnect = SocketIOFrame::Disconnect;
    QTest::newRow("disconnect") << QStringLiteral("41") << disconnect << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("disconnect 410") << QStringLiteral("410") << disconnect << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("disconnect with payload")
        << QStringLiteral(R"(41["x"])") << disconnect << 0 << 0 << QString() << QJsonObject();

    QTest::newRow("pong") << QStringLiteral("3") << int(SocketIOFrame::Pong) << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("pong probe") << QStringLiteral("3probe") << int(SocketIOFrame::Pong) << 0 << 0 << QString()
                                << QJsonObject();

    const int unrecognised = SocketIOFrame::Unrecognised;
    QTest::newRow("empty frame") << QString() << unrecognised << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("garbage") << QStringLiteral("hello") << unrecognised << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("json without code") << QStringLiteral(R"(["notify",{}])") << unrecognised << 0 << 0 << QString()
                                       << QJsonObject();
    QTest::newRow("close packet") << QStringLiteral("1") << unrecognised << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("noop packet") << QStringLiteral("6") << unrecognised << 0 << 0 << QString() << QJsonObject();
    QTest::newRow("binary garbage") << QString::fromUtf8("\xff\xfe\x01") << unrecognised << 0 << 0 << QString()
                                    << QJsonObject();
}

void TestSocketIOFrame::parse_receivedFrames()
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

    QTest::newRow("event") << QByteArray(R"(42["notify",{"x":1}])") << QStringLiteral(R"(42["notify",{"x":1}])")
                           << int(SocketIOFrame::Event);
    QTest::newRow("cut at zero") << QByteArray("41\0garbage", 10) << QStringLiteral("41")
                                 << int(SocketIOFrame::Disconnect);
    QTest::newRow("only zero") << QByteArray("\0", 1) << QString() << int(SocketIOFrame::Unrecognised);
    QTest::newRow("utf-8") << QByteArray("42[\"n\",{\"a\":\"\xc3\xa9\"}]")
                           << QStringLiteral(u"42[\"n\",{\"a\":\"\u00e9\"}]") << int(SocketIOFrame::Event);
}

void TestSocketIOFrame::binaryFrames_readAsTextUpToFirstZero()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, text);
    QFETCH(int, type);
    QCOMPARE(SocketIOFrame::textOfBinary(data), text);
    QCOMPARE(int(SocketIOFrame::parse(SocketIOFrame::textOfBinary(data)).type), type);
}

void TestSocketIOFrame::eventFrame_isCompactTwoElementArray()
{
    QCOMPARE(
        SocketIOFrame::eventFrame(QStringLiteral("register"), QJsonObject{{QStringLiteral("a"), QStringLiteral("b")}}),
        QStringLiteral(R"(42["register",{"a":"b"}])"));
    // Keys go out in ascending order, as the service has always seen them.
    QCOMPARE(SocketIOFrame::eventFrame(QStringLiteral("register"),
                                       QJsonObject{{QStringLiteral("wskey"), QStringLiteral("k")},
                                                   {QStringLiteral("username"), QStringLiteral("u")}}),
             QStringLiteral(R"(42["register",{"username":"u","wskey":"k"}])"));
    QCOMPARE(SocketIOFrame::eventFrame(QStringLiteral("x"), QJsonObject()), QStringLiteral(R"(42["x",{}])"));
}

void TestSocketIOFrame::pingFrame_isTwenty()
{
    QCOMPARE(SocketIOFrame::pingFrame(), QStringLiteral("20"));
}

QTEST_GUILESS_MAIN(TestSocketIOFrame)
#include "test_socketioframe.moc"
