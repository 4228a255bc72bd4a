// The controller's decisions, in process: the balloon of an incoming call,
// and when a call request first asks for settings.
#include "KarvelonApplication.h"
#include "MessageBox.h"
#include "Settings.h"
#include "SystemTrayIcon.h"

#include <QDialog>
#include <QSignalSpy>
#include <QtTest>

class TestController : public QObject
{
    Q_OBJECT

private slots:
    void incomingCall_showsCallerThenDialledNumber()
    {
        QSignalSpy balloons(app()->systemTrayIcon(), &SystemTrayIcon::balloonShown);
        app()->onIncomingCall("0201234567", "0307654321", QString::fromUtf8("Klant: Zoë"));
        QCOMPARE(balloons.value(0).value(1), QString::fromUtf8("Inkomende oproep van 0201234567 op 0307654321.\r\nKlant: Zoë"));
    }

    void showCallDialog_asksForSettingsWithoutCredentials_data()
    {
        QTest::addColumn<SourceType::Type>("type");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("answer"); // -1: no question expected
        QTest::addColumn<QStringList>("dialogs");
        QTest::newRow("no key, no") << SourceType::MsOutlook << "" << int(QMessageBox::No) << QStringList();
        QTest::newRow("no key, yes") << SourceType::Thunderbird << "" << int(QMessageBox::Yes)
                                     << QStringList{"SettingsDialog", "CallDialog"};
        QTest::newRow("complete") << SourceType::Thunderbird << "sleutel" << -1 << QStringList{"CallDialog"};
        QTest::newRow("click-to-dial asks anyway") << SourceType::ClickToDial << "sleutel" << int(QMessageBox::No)
                                                   << QStringList();
    }

    void showCallDialog_asksForSettingsWithoutCredentials()
    {
        QFETCH(SourceType::Type, type);
        QFETCH(QString, key);
        QFETCH(int, answer);
        QFile::remove(Settings().fileName());
        Settings().set(SourceType::settingsGroup(type), "Id", "api-id");
        Settings().set(SourceType::settingsGroup(type), "Key", key);
        MessageBox::clearAnswers();
        if (answer >= 0)
            MessageBox::setNextAnswer(QMessageBox::StandardButton(answer));
        QStringList dialogs; // each dialog, in a loop of its own, is noted and closed
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&dialogs]() {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                dialogs << dialog->metaObject()->className(), dialog->reject();
        });
        closer.start(20);
        app()->onShowCallDialog(type, "Helpdesk", {"0123 (Werk)"});
        QCOMPARE(MessageBox::shownCount(), answer >= 0 ? 1 : 0);
        QTEST(dialogs, "dialogs");
    }

private:
    static KarvelonApplication* app() { return qobject_cast<KarvelonApplication*>(qApp); }
};

int main(int argc, char** argv)
{
    KarvelonApplication app(argc, argv);
    TestController test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_controller.moc"
