#include "KarvelonApplication.h"
#include "Notifier.h"
#include "SystemTrayIcon.h"
#include "UiTestSupport.h"

#include <QSignalSpy>
#include <QTest>

// With the program's application object every way to a balloon reaches its tray icon.
class TestNotifierApp : public QObject
{
    Q_OBJECT

public:
    explicit TestNotifierApp(KarvelonApplication* app) : m_app(app) {}

private:
    KarvelonApplication* m_app;

private slots:
    void initTestCase() { QVERIFY(m_app->systemTrayIcon()); }

    void balloon_showsTextWithIcon_data()
    {
        QTest::addColumn<QString>("text");
        // 0: (text), 1: (text, false), 2: (text, true), 3: showNotificationWin, 4: incoming call, 5/6: information
        // balloon without/with error
        QTest::addColumn<int>("way");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("logged"); // debug record left behind, if any

        const QString shown = QStringLiteral("Notificatie text naar Windows gestuurd.");
        const QString two = QStringLiteral("Notificatie text naar Windows gestuurd. Error? %1, text: %2");
        const int info = QSystemTrayIcon::Information;
        const int warning = QSystemTrayIcon::Warning;
        const QString call = QStringLiteral("Inkomende oproep van 0612 op 020.\r\nJan");

        QTest::newRow("one argument") << call << 0 << info << shown;
        QTest::newRow("one argument, empty") << QString() << 0 << info << shown;
        QTest::newRow("information path") << call << 3 << info << shown;
        QTest::newRow("no error") << QStringLiteral("Karvelon is actief!") << 1 << info
                                  << two.arg(QStringLiteral("0"), QStringLiteral("Karvelon is actief!"));
        QTest::newRow("error") << QStringLiteral("Verbinding verbroken") << 2 << warning
                               << two.arg(QStringLiteral("1"), QStringLiteral("Verbinding verbroken"));
        QTest::newRow("error, empty") << QString() << 2 << warning << two.arg(QStringLiteral("1"), QString());
        QTest::newRow("placeholders in text")
            << QStringLiteral("%2 en %1") << 1 << info
            << QStringLiteral("Notificatie text naar Windows gestuurd. Error? 0, text: %2 en %1");
        QTest::newRow("incoming call") << QStringLiteral("Inkomende oproep van 0612345678 op 0201234567.") << 4 << info
                                       << QString();
        QTest::newRow("incoming call, display text")
            << QStringLiteral("Inkomende oproep van 0612345678 op 0201234567.\r\nJan Jansen") << 4 << info << QString();
        QTest::newRow("information balloon") << QStringLiteral("Karvelon is al actief") << 5 << info << QString();
        QTest::newRow("information balloon, error")
            << QStringLiteral("Kon niet registreren") << 6 << warning << QString();
    }

    void balloon_showsTextWithIcon()
    {
        QFETCH(QString, text);
        QFETCH(int, way);
        QFETCH(int, icon);
        QFETCH(QString, logged);

        Notifier notifier(nullptr);
        QSignalSpy balloons(m_app->systemTrayIcon(), &SystemTrayIcon::balloonShown);
        const int before = UiTest::countRecords(QString(), logged, Logger::Debug);
        const QStringList lines = text.split(QStringLiteral("\r\n"));

        switch (way) {
        case 0:
            notifier.showNotification(text);
            break;
        case 1:
            notifier.showNotification(text, false);
            break;
        case 2:
            notifier.showNotification(text, true);
            break;
        case 3:
            notifier.showNotificationWin(text);
            break;
        case 4:
            m_app->onIncomingCall(QStringLiteral("0612345678"), QStringLiteral("0201234567"), lines.value(1));
            break;
        default:
            m_app->showInformationBalloon(way == 6, text);
            break;
        }

        QCOMPARE(balloons.count(), 1);
        QCOMPARE(balloons.at(0).at(0).toString(), QStringLiteral("Karvelon"));
        QCOMPARE(balloons.at(0).at(1).toString(), text);
        QCOMPARE(balloons.at(0).at(2).value<QSystemTrayIcon::MessageIcon>(), QSystemTrayIcon::MessageIcon(icon));
        QCOMPARE(balloons.at(0).at(3).toInt(), 10000);
        if (!logged.isEmpty())
            QCOMPARE(UiTest::countRecords(QString(), logged, Logger::Debug), before + 1);
    }
};

int main(int argc, char** argv)
{
    KarvelonApplication app(argc, argv);
    TestNotifierApp test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_notifier_app.moc"
