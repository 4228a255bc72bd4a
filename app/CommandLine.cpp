#include "CommandLine.h"

#include <QCommandLineParser>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>

namespace CommandLine {

QStringList convertArguments(int argc, char** argv)
{
    QStringList arguments;
    arguments.reserve(argc);
    for (int i = 0; i < argc; ++i)
        arguments.append(argv[i] ? QString::fromLocal8Bit(argv[i]) : QString());
    return arguments;
}

Options options()
{
    return Options{QCommandLineOption(QStringLiteral("call"), QString(), QStringLiteral("call")),
                   QCommandLineOption(QStringLiteral("debug"), QString())};
}

void addOptions(QCommandLineParser& parser, const Options& options)
{
    parser.addOption(options.call);
    parser.addOption(options.debug);
}

QString debugLogFilePath()
{
    const QString fileName = QStringLiteral("zurorarlog.txt");
    const QString dir = QStandardPaths::locate(QStandardPaths::TempLocation, QString(), QStandardPaths::LocateDirectory);
    if (dir.isEmpty())
        return fileName;
    return dir.endsWith(QLatin1Char('/')) ? dir + fileName : dir + QLatin1Char('/') + fileName;
}

void debugLog(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    Q_UNUSED(type)
    Q_UNUSED(context)
    // Messages come from every thread; keep each record whole.
    static QMutex mutex;
    QMutexLocker locker(&mutex);

    // Opened per message, so the file can be read, moved or removed while the
    // program runs; a message that cannot be written is dropped.
    QFile file(debugLogFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(message.toUtf8() + QByteArrayLiteral("\r\n"));
    file.close();
}

QString notRunningMessage(const QString& applicationName)
{
    return QStringLiteral("%1 is niet actief: het belverzoek kon niet worden doorgegeven.").arg(applicationName);
}

} // namespace CommandLine
