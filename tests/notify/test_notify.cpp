// The notification side: Socket.IO frames, the public-address lookup against canned and stalled
// services, and the Socket.IO client and the notification channel against the service simulator.
#include "KarvelonApi.h"
#include "PbxSimulator.h"
#include "Settings.h"
#include "SocketIO.h"
#include "SocketIOFrame.h"
#include "TestSupport.h"
#include "WanIpResolver.h"
#include "WorkerThread.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {
const QString kLogin = QStringLiteral("jan+devries@bedrijf.nl");

// Answers every request with a canned body over HTTP; with an empty one it never answers.
class CannedHttp : public QTcpServer
{
public:
    explicit CannedHttp(const QByteArray& body)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this, body]() {
            QTcpSocket* socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket, body]() {
                if (!body.isEmpty() && socket->readAll().contains("\r\n\r\n"))
                    socket->write("HTTP/1.0 200 OK\r\n\r\n" + body), socket->disconnectFromHost();
            });
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(serverPort())); }
};
} // namespace

class TestNotify : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::setApplicationIdentity(); }
    void frames_data();
    void frames();
    void wanIp_data();
    void wanIp();
    void socketIO_reconnectsUpToTheLimit_watchdogEndsSilence();
    void channel_onItsThread_registersDeliversRecoversAndStops();

private:
    bool startSim(QJsonObject config = {});
    void control(const char* name, const char* body = "{}")
    {
        m_sim.control("POST", QLatin1String(name), QJsonDocument::fromJson(body).object());
    }
    QJsonObject notifyState() { return m_sim.control("GET", QStringLiteral("notify-state")).toObject(); }
    int registrations()
    {
        int count = 0;
        for (const QJsonValue& request : m_sim.requests())
            count += request[QStringLiteral("endpoint")] == QLatin1String("/api/krpopnotify.php");
        return count;
    }
    PbxSimulator m_sim;
};

bool TestNotify::startSim(QJsonObject config)
{
    const QJsonObject login{{"username", kLogin}, {"password", "Geheim-42"}, {"customer", "100234"}};
    config[QStringLiteral("notificationLogins")] = QJsonArray{login};
    for (const QString& key : {"customers", "apis"})
        config[key] = QJsonDocument::fromJson(TestSupport::readFile(KARVELON_SIM_DIR "/demo-config.json"))[key];
    Settings settings;
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Enabled"), true);
    // Blanks typed into the login are not part of it.
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Username"),
                 QStringLiteral("jan+de vries@bedrijf.nl"));
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Password"), QStringLiteral("Geheim-42"));
    return m_sim.start(config);
}

void TestNotify::frames_data()
{
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("parsed"); // type pingTimeout pingInterval event data
    const auto row = [](const char* frame, const char* parsed) {
        QTest::newRow(frame) << QString::fromUtf8(frame) << QString::fromUtf8(parsed);
    };
    row(R"(0{"sid":"a","upgrades":[],"pingInterval":25000,"pingTimeout":20000})", "Open 20000 25000  {}");
    row(R"(0{"pingTimeout":"20000"})", "Open 0 0  {}");
    row(R"(0{"pingTimeout":1e300})", "Open 536870911 0  {}");
    row("0{pingTimeout:5}", "Open 0 0  {}");
    row(R"(42["notify",{"x":1}])", R"(Event 0 0 notify {"x":1})");
    row(R"(42["notify",{"x":1},{"y":2}])", "Event 0 0 notify {}");
    row(R"(42["notify","text"])", "Event 0 0 notify {}");
    row("42[]", "Ignored 0 0  {}");
    row(R"(42["notify",{)", "Ignored 0 0  {}");
    row("41", "Disconnect 0 0  {}");
    row("3", "Pong 0 0  {}");
    row("", "Unrecognised 0 0  {}");
    row("\xff\xfe\x01", "Unrecognised 0 0  {}");
}

void TestNotify::frames()
{
    QFETCH(QString, frame);
    QFETCH(QString, parsed);
    const char* const types[] = {"Open", "Pong", "Event", "Disconnect", "Ignored", "Unrecognised"};
    const SocketIOFrame f = SocketIOFrame::parse(frame);
    const QByteArray data = QJsonDocument(f.eventData).toJson(QJsonDocument::Compact);
    QCOMPARE(QString::asprintf("%s %d %d %s %s", types[f.type], f.pingTimeoutMsecs, f.pingIntervalMsecs,
                               qUtf8Printable(f.eventName), data.constData()),
             parsed);
    QCOMPARE(SocketIOFrame::textOfBinary(frame.toUtf8() + QByteArray("\0junk", 5)), frame); // binary: text up to 0
    QCOMPARE(SocketIO::socketUrl(QUrl(QStringLiteral("https://u:p@host:4123/path?x")), 7).toString(),
             QStringLiteral("wss://host:4123/socket.io/?EIO=3&transport=websocket&t=7"));
}

void TestNotify::wanIp_data()
{
    QTest::addColumn<QByteArray>("page"); // empty: the service never answers, and fails after the time limit
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("address");
    const QByteArray page = "<html><head><title>IP</title></head><body>Current IP Address: 192.0.2.7</body></html>\r\n";
    const QByteArray twoColons = "<body>Address: 2001:db8::1</body>";
    QTest::newRow("text stalled: the page's") << page << QByteArray() << "192.0.2.7";
    QTest::newRow("page with two colons: none") << twoColons << QByteArray() << "";
    QTest::newRow("text has the last word") << page << QByteArray(" 198.51.100.4 \r\n") << "198.51.100.4";
    QTest::newRow("blank text keeps the page's") << page << QByteArray("\n") << "192.0.2.7";
    QTest::newRow("page stalled: the text's") << QByteArray() << QByteArray("192.0.2.9\n") << "192.0.2.9";
    QTest::newRow("both stalled") << QByteArray() << QByteArray() << "";
}

void TestNotify::wanIp()
{
    QFETCH(QByteArray, page);
    QFETCH(QByteArray, text);
    QFETCH(QString, address);
    CannedHttp html(page);
    CannedHttp plain(text);
    QCOMPARE(WanIpResolver::resolveWanIp(html.url(), plain.url(), 300), address);
}

void TestNotify::socketIO_reconnectsUpToTheLimit_watchdogEndsSilence()
{
    // A short heartbeat: the connection may stay quiet for 600 + 400 ms.
    QVERIFY2(startSim({{"notifyPingIntervalMs", 600}, {"notifyPingTimeoutMs", 400}}), m_sim.output().constData());
    SocketIO io(100);
    QStringList events;
    for (const char* name : {"serveroutput", "disconnected", "ErrorLimitReached"})
        io.on(QLatin1String(name), [&events, name](const QJsonObject&) { events << QLatin1String(name); });
    io.connect(m_sim.notifyUrl());
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("serveroutput")), 1, 15000);

    // An abrupt drop, healed by the client itself; afterwards still one ping per period.
    control("notify-drop");
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("serveroutput")), 2, 15000);
    control("notify-reset");
    QTest::qWait(1000);
    QVERIFY(qAbs(notifyState()[QStringLiteral("pings")].toInt() - 8) <= 5);

    // The connection goes, and so do the next five attempts: five reconnections, then the limit.
    control("notify-drop", R"({"next":5})");
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("ErrorLimitReached")), 1, 30000);
    QCOMPARE(notifyState()[QStringLiteral("dropped")].toInt(), 5);
    QCOMPARE(events.count(QStringLiteral("serveroutput")), 2);

    // A server that goes quiet is given up after the silence limit.
    io.connect(m_sim.notifyUrl());
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("serveroutput")), 3, 15000);
    QCOMPARE(io.silenceLimit(), 1000);
    const int disconnections = events.count(QStringLiteral("disconnected"));
    control("notify-silent");
    QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("disconnected")), disconnections + 1, 15000);
    QVERIFY(!io.isConnected());
}

void TestNotify::channel_onItsThread_registersDeliversRecoversAndStops()
{
    QVERIFY2(startSim(), m_sim.output().constData());
    Settings().set(QStringLiteral("Notifications"), QStringLiteral("Password"), QStringLiteral("verkeerd"));
    WorkerThread worker;
    ServiceConfig config = m_sim.config();
    config.retryIntervalMsecs = 200;
    KarvelonApi* api = worker.make<KarvelonApi>([&config]() { return new KarvelonApi(config); });
    QStringList calls; // recorded on this thread
    int balloons = 0;
    connect(api, &KarvelonApi::incomingCall, this,
            [&calls](const QString& caller, const QString& did, const QString& text) {
                calls << caller + '|' + did + '|' + text;
            });
    connect(api, &KarvelonApi::showUserNotification, this, [&balloons]() { ++balloons; });
    // Refused: the first registration and five retries, then the user is told once.
    worker.run([api]() { api->onSettingsUpdated(); });
    QCOMPARE(registrations(), 6);
    QTRY_COMPARE(balloons, 1);

    const int mark = TestSupport::logged().size();
    Settings().set(QStringLiteral("Notifications"), QStringLiteral("Password"), QStringLiteral("Geheim-42"));
    QMetaObject::invokeMethod(api, "onSettingsUpdated", Qt::QueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(api->isNotificationSocketConnected() && notifyState()["registered"].toInt() == 1, 15000);
    // Registered from the public address; the register frame carries the login and the key issued.
    const QJsonObject request = m_sim.requests().last().toObject();
    QCOMPARE(request["verdict"].toString(), QStringLiteral("ok"));
    QCOMPARE(request["params"]["options"].toString(), QStringLiteral("127.0.0.1"));
    const QJsonObject frame = notifyState()["registers"].toArray().first().toObject();
    QCOMPARE(frame["wskey"].toString(), request["wskey"].toString());
    QCOMPARE(frame["username"].toString(), kLogin);
    // The password digest is as good as the password: it is never logged.
    QVERIFY(TestSupport::logged().mid(mark).filter(request["params"]["data"].toString()).isEmpty());

    // Caller text, number called, the other fields sorted by name.
    control("notify", R"({"callerID":"101","did":"202","contact":"Jos\u00e9","callid":"7","b":"2","a":"1"})");
    control("notify", R"({"callerID":"101","did":"203","contact":"","wachtrij":3})");
    QTRY_COMPARE_WITH_TIMEOUT(calls, (QStringList{"Jos\u00e9 (101)|202|a: 1\r\nb: 2", "101|203|wachtrij: "}), 15000);

    // The server ends the session: the channel registers again on its retry timer.
    control("notify-close");
    QTRY_COMPARE_WITH_TIMEOUT(registrations(), 8, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(api->isNotificationSocketConnected(), 15000);
    // A stop during a slow registration wins: no connection follows, nor a retry.
    QVERIFY(m_sim.setBehaviour({{"delayMs", 1000}, {"once", true}}));
    worker.run([api]() {
        QTimer::singleShot(300, api, &KarvelonApi::stopNotificationSocket);
        api->onSettingsUpdated();
    });
    QTest::qWait(1000);
    QCOMPARE(registrations(), 9);
    QVERIFY(!api->isNotificationSocketConnected());
    QCOMPARE(notifyState()["connections"].toInt(), 0);
    QCOMPARE(balloons, 1);
    worker.run([api]() { delete api; });
}

QTEST_GUILESS_MAIN(TestNotify)
#include "test_notify.moc"
