#include "Notifier.h"
#include "SystemTrayIcon.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

using UiTest::countRecords;

namespace {
// Records of a balloon that reached the desktop, with or without the error flag.
int shownRecords()
{
    int count = 0;
    for (const QJsonObject& record : Logger::instance()->readLogRecords())
        count +=
            record.value(QStringLiteral("msg")).toString().startsWith(QLatin1String("Notificatie text naar Windows"));
    return count;
}
} // namespace

// Without the program's application object there is no tray icon to reach: the notifier only logs.
class TestNotifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::setApplicationIdentity(); }

    void withoutApplication_onlyLogs_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("overload"); // 0: (text), 1: (text, false), 2: (text, true), 3: showNotificationWin
        const QStringList texts{QString(), QStringLiteral("Inkomende oproep van 0612 op 020.\r\nJan"),
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
        const int notShownBefore = countRecords(QStringLiteral("Notifier"), notShown, Logger::Info);
        const int noAppBefore = countRecords(QString(), noApp, Logger::Debug);
        const int shownBefore = shownRecords();

        switch (overload) {
        case 0:
            notifier.showNotification(text);
            break;
        case 1:
            notifier.showNotification(text, false);
            break;
        case 2:
            notifier.showNotification(text, true);
            break;
        default:
            notifier.showNotificationWin(text);
            break;
        }

        const bool twoArguments = overload == 1 || overload == 2;
        QCOMPARE(countRecords(QStringLiteral("Notifier"), notShown, Logger::Info),
                 notShownBefore + (twoArguments ? 0 : 1));
        QCOMPARE(countRecords(QString(), noApp, Logger::Debug), noAppBefore + (twoArguments ? 1 : 0));
        QCOMPARE(shownRecords(), shownBefore);
        QCOMPARE(balloons.count(), 0);
    }
};

QTEST_MAIN(TestNotifier)
#include "test_notifier.moc"
