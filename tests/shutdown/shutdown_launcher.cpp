// Runs the program's controller against a local service and quits it, as the
// tray menu's "&Afsluiten" does, in the middle of something.
// Arguments: scenario, command socket path, API base URL, notification URL.
// Scenarios: calldialog, settings, logviewer, pending, reconnect, and leak (an
// object left behind on purpose, for the leak check to find).
#include "KarvelonApi.h"
#include "KarvelonApplication.h"
#include "Settings.h"
#include "SipAccount.h"
#include "SourceType.h"

#include <QTimer>
#include <QUrl>

int main(int argc, char** argv)
{
    KarvelonApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString scenario = args.value(1);
    const QString apiUrl = args.value(3);
    const QUrl notifyUrl(args.value(4));
    app.setCommandServerNameForTesting(args.value(2));
    app.setApiSetUpForTesting([apiUrl, notifyUrl](KarvelonApi* api) {
        api->setServiceUrlsForTesting({apiUrl, notifyUrl, QUrl(), QUrl()});
        api->setRetryIntervalForTesting(200);
    });
    SipAccount::registerMetaType();
    SourceType::registerMetaType();

    Settings settings;
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("100234"));
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), QStringLiteral("demo-wachtwoord"));
    settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Id"), QStringLiteral("c2d-demo"));
    settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Key"), QStringLiteral("c2d-demo-sleutel-7f3a"));
    settings.set(QStringLiteral("OutlookPlugin"), QStringLiteral("Id"), QStringLiteral("outlook-demo"));
    settings.set(QStringLiteral("OutlookPlugin"), QStringLiteral("Key"), QStringLiteral("outlook-demo-sleutel-91bc"));
    const bool notifications = scenario == QLatin1String("reconnect");
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Enabled"), notifications);
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Username"), QStringLiteral("demo"));
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Password"), QStringLiteral("demo-popup"));

    app.init();
    QTimer::singleShot(0, &app, [&app, scenario]() {
        if (scenario == QLatin1String("calldialog")) {
            app.onShowCallDialog(SourceType::MsOutlook, QStringLiteral("Jan"), {QStringLiteral("0201234567 (Werk)")});
        } else if (scenario == QLatin1String("settings")) {
            app.onOpenSettings(QString());
        } else if (scenario == QLatin1String("logviewer")) {
            app.onOpenLogViewer();
        } else if (scenario == QLatin1String("pending")) {
            app.onCallNumber(QStringLiteral("0201234567"), QString());
        } else if (scenario == QLatin1String("leak")) {
            auto* leaked = new QObject;
            leaked->setObjectName(QStringLiteral("left behind"));
        }
    });
    // Long enough for a dialog to be up, a request to be on its way, or the
    // notification channel to be registering again after the server dropped it.
    QTimer::singleShot(1500, &app, &KarvelonApplication::onQuitApplication);
    return app.exec();
}
