// The Socket.IO client against the simulator's real Socket.IO server.
#include "Clock.h"
#include "NotifyTestSupport.h"
#include "PbxSimulator.h"
#include "SocketIO.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QtTest>

using namespace NotifyTestSupport;

class TestSocketIO : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void socketUrl_data();
    void socketUrl();
    void connect_opensSocketIoPathWithQueryOnGivenPort();
    void events_deliveredToTheirHandlers();
    void handler_replacedBySecondRegistration();
    void ping_onePerPeriodAlsoAfterReconnections();
    void disconnectPacket_abortsTheConnection();
    void abruptDrops_reconnectFiveTimesThenGiveUp();
    void silentServer_detectedByWatchdog();

private:
    struct Recorder
    {
        QStringList events;
        QList<QJsonObject> data;
        int count(const QString& name) const { return events.count(name); }
    };
    void record(SocketIO& io, Recorder& recorder, const QStringList& names);
    bool connectAndGreet(SocketIO& io, Recorder& recorder);
    QJsonObject state() { return m_sim->control("GET", QStringLiteral("notify-state")).toObject(); }

    PbxSimulator* m_sim = nullptr;
};

void TestSocketIO::initTestCase()
{
    TestSupport::setApplicationIdentity();
    Logger::instance();
}

void TestSocketIO::init()
{
    m_sim = new PbxSimulator;
    QVERIFY2(m_sim->start(), m_sim->output().constData());
}

void TestSocketIO::cleanup()
{
    delete m_sim;
    m_sim = nullptr;
}

void TestSocketIO::record(SocketIO& io, Recorder& recorder, const QStringList& names)
{
    for (const QString& name : names) {
        io.on(name, [&recorder, name](const QJsonObject& data) {
            recorder.events.append(name);
            recorder.data.append(data);
        });
    }
}

bool TestSocketIO::connectAndGreet(SocketIO& io, Recorder& recorder)
{
    io.connect(m_sim->notifyUrl());
    return QTest::qWaitFor([&recorder]() { return recorder.count(QStringLiteral("serveroutput")) >= 1; }, 15000) &&
           io.isConnected();
}

void TestSocketIO::socketUrl_data()
{
    QTest::addColumn<QUrl>("server");
    QTest::addColumn<QString>("expected");
    QTest::newRow("https with port, path and query")
        << QUrl(QStringLiteral("https://user:pw@notify.example:4123/some/path?x=1#frag"))
        << QStringLiteral("wss://notify.example:4123/socket.io/?EIO=3&transport=websocket&t=1796553000");
    QTest::newRow("http without port") << QUrl(QStringLiteral("http://127.0.0.1"))
                                       << QStringLiteral(
                                              "ws://127.0.0.1/socket.io/?EIO=3&transport=websocket&t=1796553000");
    QTest::newRow("wss stays wss") << QUrl(QStringLiteral("wss://h:4123/socket.io/?EIO=3&t=1"))
                                   << QStringLiteral("wss://h:4123/socket.io/?EIO=3&transport=websocket&t=1796553000");
    QTest::newRow("ws stays ws") << QUrl(QStringLiteral("ws://h:81"))
                                 << QStringLiteral("ws://h:81/socket.io/?EIO=3&transport=websocket&t=1796553000");
}

void TestSocketIO::socketUrl()
{
    QFETCH(QUrl, server);
    QFETCH(QString, expected);
    QCOMPARE(SocketIO::socketUrl(server, 1796553000).toString(), expected);
}

void TestSocketIO::connect_opensSocketIoPathWithQueryOnGivenPort()
{
    // A path, query and user information of the given address are not carried over.
    QUrl server = m_sim->notifyUrl();
    server.setPath(QStringLiteral("/elders"));
    server.setQuery(QStringLiteral("a=b"));
    server.setUserName(QStringLiteral("iemand"));

    const qint64 before = QDateTime::currentSecsSinceEpoch();
    SocketIO io;
    Recorder recorder;
    record(io, recorder, {QStringLiteral("connected"), QStringLiteral("serveroutput")});
    io.connect(server);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count(QStringLiteral("serveroutput")) == 1, 15000);
    QCOMPARE(recorder.events.first(), QStringLiteral("connected"));
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    const QJsonArray clients = state().value(QStringLiteral("clients")).toArray();
    QCOMPARE(clients.size(), 1);
    const QJsonObject client = clients.first().toObject();
    const QString url = client.value(QStringLiteral("url")).toString();
    QVERIFY2(url.startsWith(QLatin1String("/socket.io/?EIO=3&transport=websocket&t=")), qPrintable(url));
    const qint64 t = url.mid(url.lastIndexOf(QLatin1Char('=')) + 1).toLongLong();
    QVERIFY(t >= before && t <= after);
    QCOMPARE(client.value(QStringLiteral("protocol")).toInt(), 3);
}

void TestSocketIO::events_deliveredToTheirHandlers()
{
    SocketIO io;
    Recorder recorder;
    record(io, recorder, {QStringLiteral("serveroutput"), QStringLiteral("notify"), QStringLiteral("disconnected")});
    QVERIFY(connectAndGreet(io, recorder));
    QCOMPARE(recorder.data.first(),
             (QJsonObject{{QStringLiteral("message"), QStringLiteral("Verbonden met de notificatie server")}}));

    const QJsonObject call{{QStringLiteral("callerID"), QStringLiteral("101")}, {QStringLiteral("n"), 5}};
    QCOMPARE(
        m_sim->control("POST", QStringLiteral("notify"), call).toObject().value(QStringLiteral("delivered")).toInt(),
        0); // nobody registered yet: the server only tells registered clients

    io.send(QStringLiteral("register"), QJsonObject{{QStringLiteral("username"), QStringLiteral("x")},
                                                    {QStringLiteral("wskey"), QStringLiteral("not issued")}});
    // A key the server never issued is refused with a disconnection.
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count(QStringLiteral("disconnected")) == 1, 15000);
    const QJsonArray registers = state().value(QStringLiteral("registers")).toArray();
    QCOMPARE(registers.size(), 1);
    QCOMPARE(registers.first().toObject().value(QStringLiteral("verdict")).toString(), QStringLiteral("rejected"));
    QCOMPARE(recorder.count(QStringLiteral("notify")), 0);
}

void TestSocketIO::handler_replacedBySecondRegistration()
{
    SocketIO io;
    int first = 0;
    int second = 0;
    io.on(QStringLiteral("x"), [&first](const QJsonObject&) { ++first; });
    io.on(QStringLiteral("x"), [&second](const QJsonObject&) { ++second; });
    io.notifyEventSubscriber(QStringLiteral("x"), QJsonObject());
    io.notifyEventSubscriber(QStringLiteral("unknown"), QJsonObject());
    QCOMPARE(first, 0);
    QCOMPARE(second, 1);
}

void TestSocketIO::ping_onePerPeriodAlsoAfterReconnections()
{
    const int period = 100;
    SocketIO io;
    io.setPingIntervalForTesting(period);
    Recorder recorder;
    record(io, recorder, {QStringLiteral("serveroutput"), QStringLiteral("connected")});
    QVERIFY(connectAndGreet(io, recorder));

    // Two abrupt drops, each followed by the client's own reconnection.
    for (int drop = 1; drop <= 2; ++drop) {
        m_sim->control("POST", QStringLiteral("notify-drop"));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.count(QStringLiteral("serveroutput")) == drop + 1, 15000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(state().value(QStringLiteral("connections")).toInt() == 1, 15000);
    QVERIFY(io.isConnected());

    m_sim->control("POST", QStringLiteral("notify-reset"));
    QElapsedTimer window;
    window.start();
    QTest::qWait(20 * period);
    const int pings = state().value(QStringLiteral("pings")).toInt();
    const qint64 periods = window.elapsed() / period;
    // Ticks can be late on a busy machine, never doubled.
    QVERIFY2(pings >= 3 && pings <= periods + 3,
             qPrintable(QStringLiteral("%1 pings in %2 periods").arg(pings).arg(periods)));
}

void TestSocketIO::disconnectPacket_abortsTheConnection()
{
    SocketIO io;
    Recorder recorder;
    record(io, recorder, {QStringLiteral("serveroutput"), QStringLiteral("disconnected")});
    QVERIFY(connectAndGreet(io, recorder));

    // Only the "41" frame: the server leaves the connection open, the client ends it.
    m_sim->control("POST", QStringLiteral("notify-close"));
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count(QStringLiteral("disconnected")) == 1, 15000);
    QVERIFY(!io.isConnected());
    QTRY_COMPARE_WITH_TIMEOUT(state().value(QStringLiteral("connections")).toInt(), 0, 15000);
}

void TestSocketIO::abruptDrops_reconnectFiveTimesThenGiveUp()
{
    const int mark = logMark();
    SocketIO io;
    Recorder recorder;
    record(io, recorder,
           {QStringLiteral("serveroutput"), QStringLiteral("connected"), QStringLiteral("ErrorLimitReached")});
    QVERIFY(connectAndGreet(io, recorder));

    // The connection goes, and so do the next five attempts to reopen it.
    m_sim->control("POST", QStringLiteral("notify-drop"), QJsonObject{{QStringLiteral("next"), 5}});
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count(QStringLiteral("ErrorLimitReached")) == 1, 30000);

    const QStringList expected = {
        QStringLiteral("Verbinding met websocket verbroken. Opnieuw proberen te verbinden. 1"),
        QStringLiteral("Verbinding met websocket verbroken. Opnieuw proberen te verbinden. 2"),
        QStringLiteral("Verbinding met websocket verbroken. Opnieuw proberen te verbinden. 3"),
        QStringLiteral("Verbinding met websocket verbroken. Opnieuw proberen te verbinden. 4"),
        QStringLiteral("Verbinding met websocket verbroken. Opnieuw proberen te verbinden. 5"),
        QStringLiteral("Limiet van automatisch opnieuw proberen bereikt."),
    };
    QCOMPARE(componentMessagesSince(mark, QStringLiteral("Websocket")), expected);
    QCOMPARE(state().value(QStringLiteral("dropped")).toInt(), 5);
    QCOMPARE(recorder.count(QStringLiteral("connected")), 1);
    QVERIFY(!io.isConnected());

    // No more attempts of its own; a new connect succeeds and starts counting afresh.
    QTest::qWait(300);
    QCOMPARE(state().value(QStringLiteral("totalConnections")).toInt(), 1);
    io.connect(m_sim->notifyUrl());
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count(QStringLiteral("serveroutput")) == 2, 15000);
    const int second = logMark();
    m_sim->control("POST", QStringLiteral("notify-drop"));
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count(QStringLiteral("serveroutput")) == 3, 15000);
    QCOMPARE(componentMessagesSince(second, QStringLiteral("Websocket")),
             QStringList{QStringLiteral("Verbinding met websocket verbroken. Opnieuw proberen te verbinden. 1")});
}

void TestSocketIO::silentServer_detectedByWatchdog()
{
    // Short heartbeat: ping every 400 ms, silence allowed for 600 + 400 ms.
    delete m_sim;
    m_sim = new PbxSimulator;
    QJsonObject config =
        QJsonDocument::fromJson(TestSupport::readFile(QStringLiteral(KARVELON_SIM_DIR "/demo-config.json"))).object();
    config.insert(QStringLiteral("notifyPingIntervalMs"), 600);
    config.insert(QStringLiteral("notifyPingTimeoutMs"), 400);
    QVERIFY2(m_sim->start(config), m_sim->output().constData());

    const int mark = logMark();
    SocketIO io;
    Recorder recorder;
    record(io, recorder, {QStringLiteral("serveroutput"), QStringLiteral("disconnected")});
    QVERIFY(connectAndGreet(io, recorder));
    QCOMPARE(io.pingInterval(), 400);
    QCOMPARE(io.silenceLimit(), 1000);

    // While the server answers, the watchdog keeps quiet.
    QTest::qWait(2500);
    QVERIFY(io.isConnected());
    QCOMPARE(recorder.count(QStringLiteral("disconnected")), 0);
    QVERIFY(state().value(QStringLiteral("pings")).toInt() >= 2);

    m_sim->control("POST", QStringLiteral("notify-silent"));
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count(QStringLiteral("disconnected")) == 1, 15000);
    QVERIFY(!io.isConnected());
    QVERIFY(componentMessagesSince(mark, QStringLiteral("Websocket"))
                .contains(QStringLiteral("Geen teken van leven van de notificatie server in 1000 ms. De verbinding "
                                         "wordt verbroken.")));
}

QTEST_GUILESS_MAIN(TestSocketIO)
#include "test_socketio.moc"
