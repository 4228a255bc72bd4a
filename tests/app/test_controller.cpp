// The program put together, in process: the roads of a call from its windows to the service simulator and back, and
// a call request that first asks for settings (the balloon of an incoming call is checked on a real tray, end to end).
#include "CallDialog.h"
#include "DialWindow.h"
#include "E2eSupport.h"
#include "KarvelonApplication.h"
#include "MessageBox.h"
#include "PbxSimulator.h"
#include "Settings.h"
#include "TestSupport.h"
#include "Windows.h"

#include <QtTest>
#include <QtWidgets>

class TestController : public QObject
{
    Q_OBJECT

private slots:
    void showCallDialog_asksForSettingsWithoutCredentials()
    {
        const struct { SourceType::Type type; const char* key; int answer; QStringList dialogs; } table[] = {
            // the answer to "open the settings?", -1: no question; each dialog that opened, noted and closed
            {SourceType::MsOutlook, "", QMessageBox::No, {}},
            {SourceType::Thunderbird, "", QMessageBox::Yes, {"SettingsDialog", "CallDialog"}},
            {SourceType::Thunderbird, "sleutel", -1, {"CallDialog"}},
            {SourceType::ClickToDial, "sleutel", QMessageBox::No, {}}}; // click-to-dial asks anyway
        for (const auto& row : table) {
            QFile::remove(Settings().fileName());
            Settings().set(SourceType::settingsGroup(row.type), "Id", "api-id");
            Settings().set(SourceType::settingsGroup(row.type), "Key", row.key);
            MessageBox::clearAnswers();
            if (row.answer >= 0)
                MessageBox::setNextAnswer(QMessageBox::StandardButton(row.answer));
            QStringList dialogs;
            QTimer closer;
            connect(&closer, &QTimer::timeout, [&dialogs]() {
                if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    dialogs << dialog->metaObject()->className(), dialog->reject();
            });
            closer.start(20);
            app()->windows()->showCallDialog(row.type, "Helpdesk", {"0123 (Werk)"});
            QCOMPARE(MessageBox::shownCount(), row.answer >= 0 ? 1 : 0);
            QTest::qWait(200);
            QCOMPARE(dialogs, row.dialogs);
        }
    }

    // A call shows its outcome as soon as the service gives it, in the window that started it, while the
    // notification channel's registration waits for the service much longer; two calls from two windows at once
    // each show their own. Runs in a child whose program talks to the simulator this process started.
    void callOutcome_inItsOwnWindow_neverBehindTheChannel()
    {
        if (qEnvironmentVariableIsEmpty("KARVELON_TEST_SIM")) {
            PbxSimulator sim;
            QVERIFY2(sim.start(), sim.output().constData());
            E2e::seedDemoCustomer(true, {"201", "202"});
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("KARVELON_TEST_SIM", sim.ports());
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(QTest::currentTestFunction())});
            QVERIFY(child.waitForFinished(60000));
            QCOMPARE(child.exitCode(), 0);
            return;
        }
        PbxSimulator sim;
        sim.attach(qEnvironmentVariable("KARVELON_TEST_SIM"));
        const QJsonObject slow{{"delayMs", 2000}};
        QVERIFY(sim.setBehaviour({{"endpoints", QJsonObject{{"/api/krpopnotify.php", QJsonObject{{"delayMs", 8000}}},
                                                            {"/api/cltodlapp.php", slow},
                                                            {"/api/ouctdpl.php", QJsonObject{{"delayMs", 2500}, {"status", 500}}}}}}));
        app()->init();
        QTest::qWait(500); // the channel's registration is on its way

        QElapsedTimer clock;
        clock.start();
        DialWindow* dial = app()->windows()->openDialWindow();
        QTest::keyClicks(dial->findChild<QLineEdit*>("txtDialNumber"), "0201234567");
        QTest::mouseClick(dial->findChild<QPushButton*>("btnDial"), Qt::LeftButton);
        app()->windows()->showCallDialog(SourceType::Thunderbird, "Jan", {"0612345678 (Mobiel)"});
        CallDialog* dialog = nullptr;
        QTRY_VERIFY(dialog = qobject_cast<CallDialog*>(QApplication::activeModalWidget()));
        QTest::mouseClick(dialog->findChild<QPushButton*>("btnCall"), Qt::LeftButton);

        auto* dialStatus = dial->findChild<QLabel*>("lblDialStatus");
        QTRY_VERIFY_WITH_TIMEOUT(!dialStatus->text().isEmpty(), 6000);
        QVERIFY2(clock.elapsed() <= 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(dialStatus->text(), CallDialog::statusText(true));
        auto* dialogStatus = dialog->findChild<QLabel*>("lblStatus");
        QTRY_COMPARE_WITH_TIMEOUT(QTextDocumentFragment::fromHtml(dialogStatus->text()).toPlainText(),
                                  CallDialog::statusText(false), 6000);
        // Both outcomes came while the registration still waited for its answer.
        QStringList endpoints;
        for (const QJsonValue request : sim.requests())
            endpoints << request["endpoint"].toString();
        QCOMPARE(endpoints.filter("krpopnotify").size(), 0);
    }

private:
    static KarvelonApplication* app() { return qobject_cast<KarvelonApplication*>(qApp); }
};

int main(int argc, char** argv)
{
    PbxSimulator sim;
    sim.attach(qEnvironmentVariable("KARVELON_TEST_SIM"));
    ServiceConfig config = sim.config();
    config.commandServerName = TestSupport::uniqueSocketPath("cmd");
    config.serviceStartDelayMsecs = 0; // the channel registers at once
    KarvelonApplication app(argc, argv, config);
    TestController test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_controller.moc"
