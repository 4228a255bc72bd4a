// Runs the controller as the program does (both worker threads, a call on
// its way) and quits it from the event loop, as the tray menu's quit entry
// does. Argument: the command server's socket path.
#include "KarvelonApplication.h"
#include "SipAccount.h"
#include "SourceType.h"

#include <QTimer>

int main(int argc, char** argv)
{
    KarvelonApplication app(argc, argv);
    app.setCommandServerNameForTesting(QCoreApplication::arguments().value(1));
    SipAccount::registerMetaType();
    SourceType::registerMetaType();
    app.init();
    QTimer::singleShot(0, &app, [&app]() { app.onCallNumber(QStringLiteral("0201234567"), QString()); });
    QTimer::singleShot(300, &app, &KarvelonApplication::onQuitApplication);
    return app.exec();
}
