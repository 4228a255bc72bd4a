// Faults of the service while the client runs as in the program (its own
// thread, queued calls): every failing call is reported as failed exactly
// once, the client keeps working, and the next call after the fault succeeds.
#include "FaultTestSupport.h"
#include "Logger.h"
#include "SourceType.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTcpServer>

using namespace FaultTestSupport;

namespace {
const QString kRetryLine = QStringLiteral("Er zal automatisch worden geprobeerd opnieuw te registeren");

// A port on which nothing listens: taken from the system, then given back.
quint16 deadPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
} // namespace

class TestFaultsService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
        Logger::instance();
        QVERIFY2(m_sim.start(demoConfig()), m_sim.output().constData());
        configureDemoCustomer();
    }

    void webApiFault_callFailsThenRecovers_data()
    {
        QTest::addColumn<QJsonObject>("behaviour");
        QTest::addColumn<bool>("refused");
        // Lasting faults: Qt sends a GET again by itself once when a connection
        // closes before any answer, so a one-off close would be healed unseen.
        QTest::newRow("answer past the time limit") << QJsonObject{{QStringLiteral("delayMs"), 2000}} << false;
        QTest::newRow("HTTP 500") << QJsonObject{{QStringLiteral("status"), 500}} << false;
        QTest::newRow("HTTP 503 with a success body")
            << QJsonObject{{QStringLiteral("status"), 503},
                           {QStringLiteral("body"), QStringLiteral("{\"head\":{},\"body\":{}}")}}
            << false;
        QTest::newRow("connection closed mid-reply") << QJsonObject{{QStringLiteral("close"), true}} << false;
        QTest::newRow("connection refused") << QJsonObject() << true;
    }

    void webApiFault_callFailsThenRecovers()
    {
        QFETCH(QJsonObject, behaviour);
        QFETCH(bool, refused);
        QVERIFY(m_sim.reset());
        ApiThread worker;
        KarvelonApi* api = worker.api();
        const QString good = m_sim.apiBaseUrl();
        const QString dead = QStringLiteral("http://127.0.0.1:%1/api/").arg(deadPort());
        worker.run([api, refused, good, dead]() {
            api->setRequestTimeoutForTesting(600);
            api->setServiceUrlsForTesting({refused ? dead : good, QUrl(), QUrl(), QUrl()});
        });
        if (!behaviour.isEmpty())
            QVERIFY(m_sim.setBehaviour(behaviour));

        // Recorded on this thread (a QSignalSpy would record on the emitting one).
        QList<bool> outcome;
        connect(api, &KarvelonApi::callInitiated, this, [&outcome](bool ok) { outcome.append(ok); });
        worker.call(QStringLiteral("0201234567"));
        QTRY_COMPARE_WITH_TIMEOUT(outcome.size(), 1, 15000);
        QCOMPARE(outcome.takeFirst(), false);

        // The fault is over: the same client goes on as if nothing happened,
        // and a late answer to the failed request changes nothing.
        QVERIFY(m_sim.setBehaviour(QJsonObject()));
        worker.run([api, good]() { api->setServiceUrlsForTesting({good, QUrl(), QUrl(), QUrl()}); });
        worker.call(QStringLiteral("0201234567"));
        QTRY_COMPARE_WITH_TIMEOUT(outcome.size(), 1, 15000);
        QCOMPARE(outcome.takeFirst(), true);
        QTest::qWait(refused ? 100 : 1600);
        QCOMPARE(outcome.size(), 0);
    }

    // A server that refuses "register" drops the connection; the channel
    // registers again on its retry timer and comes back.
    void registerRefused_channelComesBack()
    {
        QVERIFY(m_sim.reset());
        QVERIFY(!m_sim.control("POST", QStringLiteral("notify-reset")).isUndefined());
        Settings settings;
        settings.set(QStringLiteral("Notifications"), QStringLiteral("Enabled"), true);
        settings.set(QStringLiteral("Notifications"), QStringLiteral("Username"), QStringLiteral("demo"));
        settings.set(QStringLiteral("Notifications"), QStringLiteral("Password"), QStringLiteral("demo-popup"));
        QVERIFY(!m_sim.control("POST", QStringLiteral("notify-refuse-register"),
                               QJsonObject{{QStringLiteral("count"), 1}})
                     .isUndefined());

        ApiThread worker;
        KarvelonApi* api = worker.api();
        const QString base = QStringLiteral("http://127.0.0.1:%1/_sim/").arg(m_sim.apiPort());
        const QString apiUrl = m_sim.apiBaseUrl();
        const QUrl notifyUrl = m_sim.notifyUrl();
        worker.run([api, apiUrl, notifyUrl, base]() {
            api->setServiceUrlsForTesting({apiUrl, notifyUrl, QUrl(base + QStringLiteral("wanip.html")),
                                           QUrl(base + QStringLiteral("wanip.txt"))});
            api->setRetryIntervalForTesting(300);
        });
        int balloons = 0;
        connect(api, &KarvelonApi::showUserNotification, this, [&balloons]() { ++balloons; });
        QMetaObject::invokeMethod(api, "onSettingsUpdated", Qt::QueuedConnection);

        auto registers = [this]() {
            return m_sim.control("GET", QStringLiteral("notify-state")).toObject().value(QStringLiteral("registers")).toArray();
        };
        QTRY_VERIFY_WITH_TIMEOUT(registers().size() >= 2, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(api->isNotificationSocketConnected(), 20000);
        const QJsonArray seen = registers();
        QCOMPARE(seen.first().toObject().value(QStringLiteral("verdict")).toString(), QStringLiteral("refused"));
        QCOMPARE(seen.last().toObject().value(QStringLiteral("verdict")).toString(), QStringLiteral("ok"));
        // One refusal is no reason to bother the user.
        QCOMPARE(balloons, 0);
        worker.run([api]() { api->stopNotificationSocket(); });
    }

private:
    PbxSimulator m_sim;
};

QTEST_GUILESS_MAIN(TestFaultsService)
#include "test_faults_service.moc"
