// Test peer built on SingleApplication. Modes:
//   serve           become the running instance; print "READY <server>" and
//                   "MSG <base64>" per message; ends on the message "quit"
//                   (prints "RUNNING" and exits 3 when another instance runs)
//   send            send the message read (base64) from standard input with a
//                   5 s limit; exit 0 when delivered
#include "SingleApplication.h"

#include <QFile>

#include <cstdio>

namespace {
void printLine(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    SingleApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString mode = arguments.value(1);

    if (mode == QLatin1String("send")) {
        QFile input;
        if (!input.open(stdin, QIODevice::ReadOnly))
            return 2;
        const QByteArray bytes = QByteArray::fromBase64(input.readAll());
        const QString message = QString::fromUtf8(bytes.constData(), bytes.size());
        return app.sendMessage(message, 5000) ? 0 : 1;
    }
    if (mode != QLatin1String("serve"))
        return 2;

    if (app.isRunning()) {
        printLine("RUNNING");
        return 3;
    }
    QObject::connect(&app, &SingleApplication::messageReceived, &app, [](const QString& message) {
        printLine("MSG " + message.toUtf8().toBase64());
        if (message == QLatin1String("quit"))
            QCoreApplication::quit();
    });
    printLine("READY " + app.serverName().toUtf8());
    return app.exec();
}
