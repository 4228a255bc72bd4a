#include "Logger.h"
#include "Notifier.h"
#include "SystemTrayIcon.h"
#include "TestSupport.h"

#include <QApplication>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

// Without the program's application object there is no tray icon to reach:
// the notifier only leaves log records behind.
class TestNotifier : public QObject
{
    Q_OBJECT

private:
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

    static int countShownRecords()
    {
        int count = 0;
        for (const QJsonObject& record : Logger::instance()->readLogRecords()) {
            if (record.value(QStringLiteral("msg")).toString().startsWith(QLatin1String("Notificatie text naar Windows")))
                ++count;
        }
        return count;
    }

private slots:
    void initTestCase() { TestSupport::setApplicationIdentity(); }

    void withoutApplication_onlyLogs_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("overload"); // 0: showNotification(text), 1: (text, false), 2: (text, true), 3: showNotificationWin
        const QStringList texts{QString(), QStringLiteral("Karvelon is actief!"),
                                QStringLiteral("Inkomende oproep van 0612 op 020.\r\nJan"),
                                QStringLiteral("50% korting op %1 en %2")};
        for (int overload = 0; overload < 4; ++overload) {
            for (int i = 0; i < texts.size(); ++i)
                QTest::addRow("overload %d, text %d", overload, i) << texts.at(i) << overload;
        }
    }

    void withoutApplication_onlyLogs()
    {
        QFETCH(QString, text);
        QFETCH(int, overload);

        // A tray icon that exists but is not the program's must not be used either.
        SystemTrayIcon tray(nullptr);
        QSignalSpy balloons(&tray, &SystemTrayIcon::balloonShown);
        Notifier notifier(nullptr);

        const QString notShown = QStringLiteral("Kon notificatie met tekst '%1' niet tonen").arg(text);
        const QString noApp = QStringLiteral("Kon geen melding tonen, qApp is null");
        const int notShownBefore = countRecords(Logger::Info, QStringLiteral("Notifier"), notShown);
        const int noAppBefore = countRecords(Logger::Debug, QString(), noApp);
        const int shownBefore = countShownRecords();

        switch (overload) {
        case 0: notifier.showNotification(text); break;
        case 1: notifier.showNotification(text, false); break;
        case 2: notifier.showNotification(text, true); break;
        default: notifier.showNotificationWin(text); break;
        }

        const bool twoArguments = overload == 1 || overload == 2;
        QCOMPARE(countRecords(Logger::Info, QStringLiteral("Notifier"), notShown), notShownBefore + (twoArguments ? 0 : 1));
        QCOMPARE(countRecords(Logger::Debug, QString(), noApp), noAppBefore + (twoArguments ? 1 : 0));
        QCOMPARE(countShownRecords(), shownBefore);
        QCOMPARE(balloons.count(), 0);
    }
};

QTEST_MAIN(TestNotifier)
#include "test_notifier.moc"
