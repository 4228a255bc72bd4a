// Quitting the program in the middle of something: with the call dialog, the
// settings dialog or the log viewer open, during a request the service is slow
// to answer, and while notifications reconnect. Each run is a real process
// that must end with exit code 0 and nothing on standard error: no Qt warning,
// and (in the AddressSanitizer build) no leak or error report.
#include "PbxSimulator.h"
#include "TestSupport.h"

#include <QJsonDocument>
#include <QProcess>
#include <QtTest>

class TestShutdown : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QJsonObject config =
            QJsonDocument::fromJson(TestSupport::readFile(QStringLiteral(KARVELON_SIM_DIR "/demo-config.json")))
                .object();
        QVERIFY2(m_sim.start(config), m_sim.output().constData());
    }

    void quit_endsCleanly_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("call dialog open") << QStringLiteral("calldialog");
        QTest::newRow("settings dialog open") << QStringLiteral("settings");
        QTest::newRow("log viewer open") << QStringLiteral("logviewer");
        QTest::newRow("request pending") << QStringLiteral("pending");
        QTest::newRow("notifications reconnecting") << QStringLiteral("reconnect");
    }

    void quit_endsCleanly()
    {
        QFETCH(QString, scenario);
        QVERIFY(m_sim.reset());
        m_sim.control("POST", QStringLiteral("notify-reset"));
        if (scenario == QLatin1String("pending"))
            QVERIFY(m_sim.setBehaviour(QJsonObject{{QStringLiteral("delayMs"), 8000}}));

        QProcess process;
        process.setProcessEnvironment(launcherEnvironment());
        if (scenario == QLatin1String("reconnect")) {
            // Drop the connection as soon as the channel is up, so the quit finds it re-registering.
            QTimer dropper;
            connect(&dropper, &QTimer::timeout, this, [this]() {
                if (m_sim.control("GET", QStringLiteral("notify-state")).toObject().value(QStringLiteral("registered")).toInt() > 0)
                    m_sim.control("POST", QStringLiteral("notify-drop"));
            });
            dropper.start(100);
            startLauncher(process, scenario);
            QVERIFY(process.waitForStarted(10000));
            QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 60000);
        } else {
            startLauncher(process, scenario);
            QVERIFY(process.waitForFinished(60000));
        }
        const QByteArray standardError = process.readAllStandardError();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == 0, standardError.constData());
        // The headless (offscreen) platform says these of itself whatever the program does:
        // it has no tray window and ignores size hints.
        static const QList<QByteArray> platformNoise{
            "QObject::connect: No such signal QPlatformNativeInterface::systemTrayWindowChanged(QScreen*)",
            "This plugin does not support propagateSizeHints()"};
        QList<QByteArray> warnings;
        for (const QByteArray& line : standardError.split('\n')) {
            if (!line.trimmed().isEmpty() && !platformNoise.contains(line.trimmed()))
                warnings.append(line);
        }
        QVERIFY2(warnings.isEmpty(), standardError.constData());
    }

    // The leak check above is real: a program that leaves an object behind fails it.
    void leakCheck_reportsALeak()
    {
#ifndef __SANITIZE_ADDRESS__
        QSKIP("leaks are checked in the AddressSanitizer build");
#endif
        QProcess process;
        process.setProcessEnvironment(launcherEnvironment());
        startLauncher(process, QStringLiteral("leak"));
        QVERIFY(process.waitForFinished(60000));
        const QByteArray standardError = process.readAllStandardError();
        QVERIFY(process.exitCode() != 0);
        QVERIFY2(standardError.contains("LeakSanitizer: detected memory leaks"), standardError.constData());
        // Traced to where it was made.
        QVERIFY2(standardError.contains("shutdown_launcher.cpp"), standardError.constData());
    }

private:
    static QProcessEnvironment launcherEnvironment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Debug output is chatter; whatever is left on standard error is a warning.
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false;qt.qpa.*=false"));
#ifdef __SANITIZE_ADDRESS__
        // The program must leave nothing behind when it quits: leak checking
        // on (whatever the rest of the suite does), with whole allocation
        // stacks so that the suppressions can name the library that leaks.
        QStringList asan = env.value(QStringLiteral("ASAN_OPTIONS")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
        asan << QStringLiteral("detect_leaks=1") << QStringLiteral("fast_unwind_on_malloc=0");
        env.insert(QStringLiteral("ASAN_OPTIONS"), asan.join(QLatin1Char(':')));
        env.insert(QStringLiteral("LSAN_OPTIONS"),
                   QStringLiteral("suppressions=" KARVELON_SHUTDOWN_SOURCE_DIR "/lsan-suppressions.txt"
                                  ":print_suppressions=0"));
#endif
        return env;
    }

    void startLauncher(QProcess& process, const QString& scenario)
    {
        process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/shutdown_launcher"),
                      {scenario, TestSupport::uniqueSocketPath(QStringLiteral("cmd")), m_sim.apiBaseUrl(),
                       m_sim.notifyUrl().toString()});
    }

    PbxSimulator m_sim;
};

QTEST_GUILESS_MAIN(TestShutdown)
#include "test_shutdown.moc"
