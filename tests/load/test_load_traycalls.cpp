// 100 calls in a row from the tray menu's road (queued "call" on the
// web-service thread, as the controller's onCallNumber does) against the
// service simulator: every one set up, callInitiated exactly once each.
#include "../faults/FaultTestSupport.h"
#include "LoadFigures.h"
#include "Logger.h"
#include "SourceType.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSignalSpy>

class TestLoadTrayCalls : public QObject
{
    Q_OBJECT

private slots:
    void hundredCallsInARow_eachAcknowledgedOnce()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
        Logger::instance();
        PbxSimulator sim;
        QVERIFY2(sim.start(FaultTestSupport::demoConfig()), sim.output().constData());
        FaultTestSupport::configureDemoCustomer();

        constexpr int calls = 100;
        ApiThread worker;
        KarvelonApi* api = worker.api();
        const QString base = sim.apiBaseUrl();
        worker.run([api, base]() { api->setServiceUrlsForTesting({base, QUrl(), QUrl(), QUrl()}); });
        // Recorded on this thread (a QSignalSpy would record on the emitting one).
        QList<bool> outcome;
        connect(api, &KarvelonApi::callInitiated, this, [&outcome](bool ok) { outcome.append(ok); });

        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < calls; ++i)
            worker.call(QStringLiteral("020 123 %1").arg(1000 + i));
        QTRY_COMPARE_WITH_TIMEOUT(outcome.size(), calls, 120000);
        const qint64 elapsed = clock.elapsed();
        QTest::qWait(300);
        QCOMPARE(outcome.size(), calls);
        QCOMPARE(outcome.count(true), calls);

        // The service saw each call once and accepted it. Calls overlap (each
        // waits in a nested loop while the next starts), so they may arrive in any order.
        const QJsonArray requests = sim.requests();
        QCOMPARE(requests.size(), calls);
        QSet<QString> numbers;
        for (const QJsonValue& value : requests) {
            const QJsonObject request = value.toObject();
            QCOMPARE(request.value(QStringLiteral("verdict")).toString(), QStringLiteral("ok"));
            const QString query = request.value(QStringLiteral("rawQuery")).toString();
            numbers.insert(query.section(QStringLiteral("telnr="), 1).section(QLatin1Char('&'), 0, 0));
        }
        QSet<QString> expected;
        for (int i = 0; i < calls; ++i)
            expected.insert(QStringLiteral("020123%1").arg(1000 + i));
        QCOMPARE(numbers, expected);
        qInfo("tray calls: %d calls in %lld ms (%.1f calls/s); peak RSS %lld KiB", calls, elapsed,
              calls * 1000.0 / qMax<qint64>(1, elapsed), LoadFigures::peakRssKib());
    }
};

QTEST_GUILESS_MAIN(TestLoadTrayCalls)
#include "test_load_traycalls.moc"
