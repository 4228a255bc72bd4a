// "serve": become the instance, print "READY <socket>" and "MSG <base64>" per message, end on "quit" (exit 3
// with "RUNNING" when another instance runs). "send": hand stdin (UTF-8) over, exit 0 when it was acknowledged.
#include "SingleApplication.h"

#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    SingleApplication app(argc, argv);
    QFile input;
    if (QCoreApplication::arguments().value(1) == QLatin1String("send") && input.open(stdin, QIODevice::ReadOnly)) {
        const QByteArray bytes = input.readAll(); // may hold NUL
        return app.sendMessage(QString::fromUtf8(bytes.constData(), bytes.size()), 5000) ? 0 : 1;
    }
    const auto print = [](const QByteArray& line) { std::printf("%s\n", line.constData()), std::fflush(stdout); };
    if (app.isRunning())
        return print("RUNNING"), 3;
    QObject::connect(&app, &SingleApplication::messageReceived, &app, [print](const QString& message) {
        print("MSG " + message.toUtf8().toBase64());
        if (message == QLatin1String("quit"))
            QCoreApplication::quit();
    });
    print("READY " + app.serverName().toUtf8());
    return app.exec();
}
