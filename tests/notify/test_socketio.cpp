// The Socket.IO client against the simulator's real Socket.IO server.
#include "NotifyTestSupport.h"
#include "SocketIO.h"

#include <QJsonArray>
#include <QtTest>

#include <memory>

using namespace NotifyTestSupport;

namespace {
// Records which handlers ran, in order, with their data.
struct Recorder
{
    QStringList events;
    QList<QJsonObject> data;
    Recorder(SocketIO& io, const QStringList& names)
    {
        for (const QString& name : names) {
            io.on(name, [this, name](const QJsonObject& d) {
                events << name;
                data << d;
            });
        }
    }
    int count(const char* name) const { return events.count(QLatin1String(name)); }
};
} // namespace

class TestSocketIO : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::setApplicationIdentity(); }
    void init() { QVERIFY2(start(), m_sim->output().constData()); }
    void cleanup() { m_sim.reset(); }

    void socketUrl_data();
    void socketUrl();
    void connect_opensSocketIoPathWithQuery_disconnectPacketAborts();
    void ping_onePerPeriodAlsoAfterReconnections();
    void abruptDrops_reconnectFiveTimesThenGiveUp();
    void silentServer_detectedByWatchdog();

private:
    bool start(const QJsonObject& extra = QJsonObject())
    {
        m_sim.reset(new PbxSimulator);
        return startSimulator(*m_sim, extra);
    }
    bool connectAndGreet(SocketIO& io, const Recorder& recorder);
    QJsonObject state() { return notifyState(*m_sim); }

    std::unique_ptr<PbxSimulator> m_sim;
};

bool TestSocketIO::connectAndGreet(SocketIO& io, const Recorder& recorder)
{
    io.connect(m_sim->notifyUrl());
    return QTest::qWaitFor([&recorder]() { return recorder.count("serveroutput") >= 1; }, 15000) && io.isConnected();
}

void TestSocketIO::socketUrl_data()
{
    QTest::addColumn<QUrl>("server");
    QTest::addColumn<QString>("expected");
    QTest::newRow("https: port kept, the rest replaced")
        << QUrl(QStringLiteral("https://user:pw@notify.example:4123/some/path?x=1#frag"))
        << "wss://notify.example:4123/socket.io/?EIO=3&transport=websocket&t=1796553000";
    QTest::newRow("http without port") << QUrl(QStringLiteral("http://127.0.0.1"))
                                       << "ws://127.0.0.1/socket.io/?EIO=3&transport=websocket&t=1796553000";
}

void TestSocketIO::socketUrl()
{
    QFETCH(QUrl, server);
    QFETCH(QString, expected);
    QCOMPARE(SocketIO::socketUrl(server, 1796553000).toString(), expected);
}

void TestSocketIO::connect_opensSocketIoPathWithQuery_disconnectPacketAborts()
{
    // A path, query and user information of the given address are not carried over.
    QUrl server = m_sim->notifyUrl();
    server.setPath(QStringLiteral("/elders"));
    server.setQuery(QStringLiteral("a=b"));
    server.setUserName(QStringLiteral("iemand"));

    const qint64 before = QDateTime::currentSecsSinceEpoch();
    SocketIO io;
    Recorder recorder(io, {QStringLiteral("connected"), QStringLiteral("serveroutput"), QStringLiteral("disconnected")});
    io.connect(server);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count("serveroutput") == 1, 15000);
    QCOMPARE(recorder.events.first(), QStringLiteral("connected"));
    QCOMPARE(recorder.data.last(),
             (QJsonObject{{QStringLiteral("message"), QStringLiteral("Verbonden met de notificatie server")}}));
    const qint64 after = QDateTime::currentSecsSinceEpoch();

    const QJsonArray clients = state().value(QStringLiteral("clients")).toArray();
    QCOMPARE(clients.size(), 1);
    const QString url = clients.first().toObject().value(QStringLiteral("url")).toString();
    QVERIFY2(url.startsWith(QLatin1String("/socket.io/?EIO=3&transport=websocket&t=")), qPrintable(url));
    const qint64 t = url.mid(url.lastIndexOf(QLatin1Char('=')) + 1).toLongLong();
    QVERIFY(t >= before && t <= after);
    QCOMPARE(clients.first().toObject().value(QStringLiteral("protocol")).toInt(), 3);

    // Only the "41" frame: the server leaves the connection open, the client ends it.
    control(*m_sim, "notify-close");
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count("disconnected") == 1, 15000);
    QVERIFY(!io.isConnected());
    QTRY_COMPARE_WITH_TIMEOUT(state().value(QStringLiteral("connections")).toInt(), 0, 15000);
}

void TestSocketIO::ping_onePerPeriodAlsoAfterReconnections()
{
    const int period = 100;
    SocketIO io;
    io.setPingIntervalForTesting(period);
    Recorder recorder(io, {QStringLiteral("serveroutput")});
    QVERIFY(connectAndGreet(io, recorder));
    // Two abrupt drops, each followed by the client's own reconnection.
    for (int drop = 1; drop <= 2; ++drop) {
        control(*m_sim, "notify-drop");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.count("serveroutput") == drop + 1, 15000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(state().value(QStringLiteral("connections")).toInt() == 1, 15000);
    QVERIFY(io.isConnected());

    control(*m_sim, "notify-reset");
    QElapsedTimer window;
    window.start();
    QTest::qWait(20 * period);
    const int pings = state().value(QStringLiteral("pings")).toInt();
    const qint64 periods = window.elapsed() / period;
    // Ticks can be late on a busy machine, never doubled.
    QVERIFY2(pings >= 3 && pings <= periods + 3,
             qPrintable(QStringLiteral("%1 pings in %2 periods").arg(pings).arg(periods)));
}

void TestSocketIO::abruptDrops_reconnectFiveTimesThenGiveUp()
{
    const int mark = logMark();
    SocketIO io;
    Recorder recorder(io, {QStringLiteral("serveroutput"), QStringLiteral("connected"),
                           QStringLiteral("ErrorLimitReached")});
    QVERIFY(connectAndGreet(io, recorder));

    // The connection goes, and so do the next five attempts to reopen it.
    control(*m_sim, "notify-drop", QJsonObject{{QStringLiteral("next"), 5}});
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count("ErrorLimitReached") == 1, 30000);
    const QString retry = QStringLiteral("Verbinding met websocket verbroken. Opnieuw proberen te verbinden. %1");
    QStringList expected;
    for (int i = 1; i <= 5; ++i)
        expected << retry.arg(i);
    expected << QStringLiteral("Limiet van automatisch opnieuw proberen bereikt.");
    QCOMPARE(logSince(mark, QStringLiteral("Websocket")), expected);
    QCOMPARE(state().value(QStringLiteral("dropped")).toInt(), 5);
    QCOMPARE(recorder.count("connected"), 1);
    QVERIFY(!io.isConnected());

    // No more attempts of its own; a new connect succeeds and starts counting afresh.
    QTest::qWait(300);
    QCOMPARE(state().value(QStringLiteral("totalConnections")).toInt(), 1);
    io.connect(m_sim->notifyUrl());
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count("serveroutput") == 2, 15000);
    const int second = logMark();
    control(*m_sim, "notify-drop");
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count("serveroutput") == 3, 15000);
    QCOMPARE(logSince(second, QStringLiteral("Websocket")), QStringList{retry.arg(1)});
}

void TestSocketIO::silentServer_detectedByWatchdog()
{
    // Short heartbeat: ping every 400 ms, silence allowed for 600 + 400 ms.
    QVERIFY2(start(QJsonObject{{QStringLiteral("notifyPingIntervalMs"), 600},
                                        {QStringLiteral("notifyPingTimeoutMs"), 400}}),
             m_sim->output().constData());
    const int mark = logMark();
    SocketIO io;
    Recorder recorder(io, {QStringLiteral("serveroutput"), QStringLiteral("disconnected")});
    QVERIFY(connectAndGreet(io, recorder));
    QCOMPARE(io.pingInterval(), 400);
    QCOMPARE(io.silenceLimit(), 1000);

    // While the server answers, the watchdog keeps quiet.
    QTest::qWait(2500);
    QVERIFY(io.isConnected());
    QCOMPARE(recorder.count("disconnected"), 0);
    QVERIFY(state().value(QStringLiteral("pings")).toInt() >= 2);

    control(*m_sim, "notify-silent");
    QTRY_VERIFY_WITH_TIMEOUT(recorder.count("disconnected") == 1, 15000);
    QVERIFY(!io.isConnected());
    QVERIFY(logSince(mark, QStringLiteral("Websocket"))
                .contains(QStringLiteral("Geen teken van leven van de notificatie server in 1000 ms. De verbinding "
                                         "wordt verbroken.")));
}

QTEST_GUILESS_MAIN(TestSocketIO)
#include "test_socketio.moc"
