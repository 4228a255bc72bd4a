// The program in process with the desktop's keyring on a bus of the test's own: a real gnome-keyring-daemon, then a
// Secret Service that never answers. Every start of the program runs in a child (libsecret keeps the bus it met
// first) that talks to the simulator and the bus this process started.
#include "CallRouter.h"
#include "E2eSupport.h"
#include "KarvelonApplication.h"
#include "KeyringDaemon.h"
#include "LogExporter.h"
#include "MessageBox.h"
#include "PbxSimulator.h"
#include "SecretStore.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "TestSupport.h"

#include <QtTest>
#include <QtWidgets>

namespace {
QString step() { return qEnvironmentVariable("KARVELON_TEST_STEP"); }
KarvelonApplication* app() { return qobject_cast<KarvelonApplication*>(qApp); }
QString nameOf(const SecretStore::Name& name) { return name.group + '/' + name.key; }
} // namespace

class TestKeyring : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;
    PbxSimulator m_sim;

    // The current test function again in a child, at this step; true when it passed.
    bool child(const QString& step, int keyringWaitMsecs = 30000)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KARVELON_TEST_SIM", m_sim.ports()), env.insert("KARVELON_TEST_STEP", step);
        env.insert("KARVELON_TEST_KEYRING_WAIT", QString::number(keyringWaitMsecs));
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_bus.address());
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(QTest::currentTestFunction())});
        return child.waitForFinished(60000) && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    }
    // The simulator's web-API requests: "<script> <telnr> <verdict>".
    QStringList apiRequests()
    {
        QStringList seen;
        for (const QJsonValue request : m_sim.requests())
            if (request["endpoint"].toString().startsWith("/api/"))
                seen << request["endpoint"].toString().mid(5) + ' ' + request["params"]["telnr"].toString() + ' '
                            + request["verdict"].toString();
        return seen;
    }

private slots:
    void initTestCase()
    {
        if (!step().isEmpty())
            return m_sim.attach(qEnvironmentVariable("KARVELON_TEST_SIM"));
        TestSupport::setApplicationIdentity();
        QVERIFY(m_bus.start());
        QVERIFY2(m_sim.start(), m_sim.output().constData());
    }

    // The seeded settings file moves into the keyring at the first start, where the settings dialog replaces and
    // removes secrets. At the next start a call made at once, before the keyring has answered, and the channel's
    // registration are signed with the secrets from the keyring, and nobody is asked for settings. Then no file under
    // the throw-away home, XDG and runtime directories (the keyring's own aside), nor the log export, holds a secret.
    void realKeyring_signsWithItsSecretsAndLeaksNone()
    {
        if (step() == "first") {
            app()->init();
            QTRY_VERIFY(app()->secrets()->isLoaded());
            QCOMPARE(app()->secrets()->mode(), SecretStore::Mode::Keyring);
            SettingsDialog dialog(nullptr, app()->secrets(), nullptr);
            dialog.findChild<QLineEdit*>("txtThunderbirdPluginKey")->setText(" tb-nieuw-geheim ");
            dialog.findChild<QLineEdit*>("txtOutlookPluginKey")->clear();
            QTest::mouseClick(dialog.findChild<QPushButton*>("btnSave"), Qt::LeftButton);
            QTRY_COMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(dialog.findChild<QLabel*>("lblSettingsStatus")->text(), QString());
            return;
        }
        if (step() == "next") {
            MessageBox::setNextAnswer(QMessageBox::No); // so that a question, wrongly asked, fails rather than waits
            app()->init();
            app()->onApplicationStarted();
            QVERIFY(!app()->secrets()->isLoaded());
            QSignalSpy finished(app()->calls(), &CallRouter::finished);
            app()->calls()->start(OutgoingCall::make(OutgoingCall::TrayMenu, "0201234567"));
            QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
            QVERIFY(finished[0][1].toBool());
            QTRY_VERIFY_WITH_TIMEOUT(m_sim.control("GET", "notify-state")["registered"].toInt() == 1, 15000);
            QCOMPARE(MessageBox::shownCount(), 0);
            return;
        }
        KeyringDaemon keyring;
        QVERIFY(keyring.start(m_bus));
        E2e::seedDemoCustomer(true, {"201"});
        QStringList secrets{"tb-nieuw-geheim"}, expected;
        for (const SecretStore::Name& name : SecretStore::names()) {
            secrets << Settings().get(name.group, name.key).toString();
            expected << (name.group == "ThunderbirdPlugin" ? "tb-nieuw-geheim"
                         : name.group == "OutlookPlugin"   ? QString()
                                                           : secrets.last());
        }
        QVERIFY(child("first"));
        QStringList inKeyring;
        for (const SecretStore::Name& name : SecretStore::names()) {
            QVERIFY2(!Settings().contains(name.group, name.key), qPrintable(nameOf(name)));
            inKeyring << keyring.lookup(nameOf(name));
        }
        QCOMPARE(inKeyring, expected);
        QVERIFY(TestSupport::logged().contains("Wachtwoorden en sleutels zijn naar de sleutelbos van het bureaublad "
                                               "verplaatst."));

        QVERIFY(m_sim.reset());
        QVERIFY(child("next"));
        const QStringList requests = apiRequests();
        QVERIFY2(requests.contains("cltodlapp.php 0201234567 ok") && requests.contains("krpopnotify.php  ok")
                     && requests.filter(QRegularExpression(" (?!ok$)\\w+$")).isEmpty(),
                 qPrintable(requests.join('|')));

        QString error;
        const QString archive = TestSupport::testHome() + "/export.zip";
        QVERIFY2(LogExporter::exportDirectory(Logger::instance()->logLocation(), archive, error), qPrintable(error));
        QProcess unzip;
        unzip.start("unzip", {"-p", archive});
        QVERIFY(unzip.waitForFinished(30000) && unzip.exitCode() == 0);
        const QByteArray exported = unzip.readAllStandardOutput();
        QVERIFY(exported.contains("Gesprek initieren naar: 0201234567"));
        QDirIterator it(TestSupport::testHome(), QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        QStringList found;
        while (it.hasNext()) {
            const QString path = it.next();
            const QByteArray content = path == archive ? exported : TestSupport::readFile(path);
            for (const QString& secret : secrets)
                if (!secret.isEmpty() && !path.endsWith(".keyring") && content.contains(secret.toUtf8()))
                    found << path + ": " + secret;
        }
        QCOMPARE(found, QStringList());
    }

    // A keyring that takes the calls and never answers, with the secrets already moved there: the start-up question,
    // a call made at once and the channel wait for it up to the (short) bound. Then the call fails with a line that
    // says why, nothing reaches the service without its password, and the question is asked.
    void keyringNeverAnswering_failsClearlyAtTheBound()
    {
        if (step() == "never") {
            MessageBox::setNextAnswer(QMessageBox::No);
            app()->init();
            app()->onApplicationStarted();
            QSignalSpy finished(app()->calls(), &CallRouter::finished);
            QElapsedTimer clock;
            clock.start();
            app()->calls()->start(OutgoingCall::make(OutgoingCall::TrayMenu, "0201234567"));
            QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
            QVERIFY(!finished[0][1].toBool() && clock.elapsed() >= 1000); // waited (a coarse timer may be early)
            QTRY_COMPARE(MessageBox::shownCount(), 1);
            const QString why = "Kon %1. Fout: %2 is niet ingesteld, of staat in een sleutelbos die niet beschikbaar "
                                "is (geen antwoord binnen 2 seconden)";
            for (const QString& line : {why.arg("gesprek niet starten", "CustomerGroup/Password"),
                                        why.arg("niet registreren bij notificatie service", "Notifications/Password")})
                QTRY_VERIFY2(TestSupport::logged().contains(line), qPrintable(line));
            return;
        }
        QVERIFY(m_bus.startMock(KARVELON_MOCK_DIR "/secret_service.py", "org.freedesktop.secrets",
                                {{"answer", "never"}}));
        E2e::seedDemoCustomer(true, {"201"});
        QVector<QPair<QString, QString>> names;
        for (const SecretStore::Name& name : SecretStore::names())
            names.append({name.group, name.key});
        QVERIFY(Settings().remove(names));
        QVERIFY(m_sim.reset());
        QVERIFY(child("never", 1500));
        QCOMPARE(apiRequests(), QStringList());
    }
};

int main(int argc, char** argv)
{
    PbxSimulator sim;
    sim.attach(qEnvironmentVariable("KARVELON_TEST_SIM"));
    ServiceConfig config = sim.config();
    config.commandServerName = TestSupport::uniqueSocketPath("cmd");
    config.serviceStartDelayMsecs = 0;
    config.keyringWaitMsecs = qEnvironmentVariableIntValue("KARVELON_TEST_KEYRING_WAIT");
    KarvelonApplication app(argc, argv, config);
    TestKeyring test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_keyring.moc"
