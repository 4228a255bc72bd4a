// The real program's refusals; the launcher quit mid-way ends with 0, a quiet stderr and (under ASan) no leak.
#include "E2eSupport.h"
#include "PbxSimulator.h"
#include "TestSupport.h"

#include <QtTest>

class TestShutdown : public QObject
{
    Q_OBJECT

private slots:
    void refusal()
    {
        const char* const table[][2] = {{"Jan;0201=Werk", "Karvelon is niet actief: het belverzoek"}, // nothing runs
                                        {"callto:jan.jansen", "geen telefoonnummer"}};
        for (const auto& row : table) {
            QProcess program;
            program.start(QStringLiteral(KARVELON_PROGRAM), {"--call", row[0]});
            QVERIFY(program.waitForFinished(30000));
            QCOMPARE(program.exitCode(), 1);
            QVERIFY2(program.readAllStandardError().contains(row[1]), row[1]);
        }
    }

    void quit_endsCleanly_data()
    {
        QTest::addColumn<QString>("scenario");
        for (const char* scenario : {"calldialog", "settings", "logviewer", "pending", "reconnect", "leak"})
            QTest::newRow(scenario) << scenario;
    }

    void quit_endsCleanly()
    {
        QFETCH(QString, scenario);
        const bool leak = scenario == "leak";
#ifndef __SANITIZE_ADDRESS__
        if (leak)
            QSKIP("leaks are checked in the AddressSanitizer build");
#endif
        QVERIFY(m_sim.start());
        E2e::seedDemoCustomer(scenario == "reconnect");
        m_sim.setBehaviour({{"delayMs", scenario == "pending" ? 8000 : 0}});
        ServiceConfig config = m_sim.config();
        config.commandServerName = TestSupport::uniqueSocketPath("cmd");
        config.backoffInitialMsecs = 200;
        QProcessEnvironment env = E2e::launcherEnvironment(QProcessEnvironment::systemEnvironment(), config);
        env.insert("KARVELON_E2E_SCENARIO", scenario);
        env.insert("KARVELON_E2E_QUIT_MSECS", "1500");
        env.insert("QT_LOGGING_RULES", "*.debug=false;qt.qpa.*=false");
        // Leak checking on, with whole stacks so the suppressions can name the library that leaks.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=1:fast_unwind_on_malloc=0");
        env.insert("LSAN_OPTIONS", "suppressions=" KARVELON_SHUTDOWN_SOURCE_DIR "/lsan-suppressions.txt:print_suppressions=0");
        QProcess launcher;
        launcher.setProcessEnvironment(env);
        launcher.start(E2e::launcherPath(), QStringList());
        // Reconnecting: the server drops the channel whenever it is up.
        for (int i = 0; i < 1200 && launcher.state() != QProcess::NotRunning; ++i, QTest::qWait(50))
            if (scenario == "reconnect" && m_sim.control("GET", "notify-state")["registered"].toInt() > 0)
                m_sim.control("POST", "notify-drop");
        // The offscreen platform says these of itself whatever the program does.
        QByteArray errors;
        for (const QByteArray& line : launcher.readAllStandardError().split('\n'))
            if (!line.isEmpty() && !line.contains("systemTrayWindowChanged") && !line.contains("propagateSizeHints"))
                errors += line + '\n';
        QCOMPARE(launcher.state(), QProcess::NotRunning);
        QCOMPARE(launcher.exitStatus() == QProcess::NormalExit && launcher.exitCode() == 0, !leak);
        QVERIFY2(leak ? errors.contains("LeakSanitizer") && errors.contains("karvelon_e2e.cpp") : errors.isEmpty(),
                 errors.constData());
    }

private:
    PbxSimulator m_sim;
};

QTEST_GUILESS_MAIN(TestShutdown)
#include "test_shutdown.moc"
