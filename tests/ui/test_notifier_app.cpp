#include "KarvelonApplication.h"
#include "Logger.h"
#include "Notifier.h"
#include "SystemTrayIcon.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

// With the program's application object the notifier reaches its tray icon.
class TestNotifierApp : public QObject
{
    Q_OBJECT

public:
    explicit TestNotifierApp(KarvelonApplication* app)
        : m_app(app)
    {
    }

private:
    KarvelonApplication* m_app;

    static int countRecords(int severity, const QString& component, const QString& msg)
    {
        int count = 0;
        for (const QJsonObject& record : Logger::instance()->readLogRecords()) {
            if (record.value(QStringLiteral("severity")).toInt(-1) == severity
                && record.value(QStringLiteral("component")).toString() == component
                && record.value(QStringLiteral("msg")).toString() == msg)
                ++count;
        }
        return count;
    }

private slots:
    void initTestCase() { QVERIFY(m_app->systemTrayIcon()); }

    void balloon_showsTextWithIcon_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("overload"); // 0: showNotification(text), 1: (text, false), 2: (text, true), 3: showNotificationWin
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("logged");

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
        QTest::newRow("placeholders in text") << QStringLiteral("%2 en %1") << 1 << info
                                              << QStringLiteral("Notificatie text naar Windows gestuurd. Error? 0, text: %2 en %1");
    }

    void balloon_showsTextWithIcon()
    {
        QFETCH(QString, text);
        QFETCH(int, overload);
        QFETCH(int, icon);
        QFETCH(QString, logged);

        Notifier notifier(nullptr);
        QSignalSpy balloons(m_app->systemTrayIcon(), &SystemTrayIcon::balloonShown);
        const int before = countRecords(Logger::Debug, QString(), logged);

        switch (overload) {
        case 0: notifier.showNotification(text); break;
        case 1: notifier.showNotification(text, false); break;
        case 2: notifier.showNotification(text, true); break;
        default: notifier.showNotificationWin(text); break;
        }

        QCOMPARE(balloons.count(), 1);
        QCOMPARE(balloons.at(0).at(0).toString(), QStringLiteral("Karvelon"));
        QCOMPARE(balloons.at(0).at(1).toString(), text);
        QCOMPARE(balloons.at(0).at(2).value<QSystemTrayIcon::MessageIcon>(), QSystemTrayIcon::MessageIcon(icon));
        QCOMPARE(balloons.at(0).at(3).toInt(), 10000);
        QCOMPARE(countRecords(Logger::Debug, QString(), logged), before + 1);
    }

    void incomingCall_showsOneOrTwoLines_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("body");
        QTest::newRow("no display text") << QString() << QStringLiteral("Inkomende oproep van 0612345678 op 0201234567.");
        QTest::newRow("display text") << QStringLiteral("Jan Jansen")
                                      << QStringLiteral("Inkomende oproep van 0612345678 op 0201234567.\r\nJan Jansen");
    }

    void incomingCall_showsOneOrTwoLines()
    {
        QFETCH(QString, display);
        QFETCH(QString, body);
        QSignalSpy balloons(m_app->systemTrayIcon(), &SystemTrayIcon::balloonShown);
        m_app->onIncomingCall(QStringLiteral("0612345678"), QStringLiteral("0201234567"), display);
        QCOMPARE(balloons.count(), 1);
        QCOMPARE(balloons.at(0).at(1).toString(), body);
        QCOMPARE(balloons.at(0).at(2).value<QSystemTrayIcon::MessageIcon>(), QSystemTrayIcon::Information);
    }

    void informationBalloon_errorFlagPicksIcon()
    {
        QSignalSpy balloons(m_app->systemTrayIcon(), &SystemTrayIcon::balloonShown);
        m_app->showInformationBalloon(true, QStringLiteral("Kon niet registreren"));
        m_app->showInformationBalloon(false, QStringLiteral("Karvelon is al actief"));
        QCOMPARE(balloons.count(), 2);
        QCOMPARE(balloons.at(0).at(2).value<QSystemTrayIcon::MessageIcon>(), QSystemTrayIcon::Warning);
        QCOMPARE(balloons.at(1).at(1).toString(), QStringLiteral("Karvelon is al actief"));
        QCOMPARE(balloons.at(1).at(2).value<QSystemTrayIcon::MessageIcon>(), QSystemTrayIcon::Information);
    }
};

int main(int argc, char** argv)
{
    KarvelonApplication app(argc, argv);
    TestNotifierApp test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_notifier_app.moc"
