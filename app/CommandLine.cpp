#include "CommandLine.h"

#include "KarvelonApplication.h"
#include "PhoneNumber.h"
#include "PrivateFiles.h"
#include "SipAccount.h"
#include "SourceType.h"

#include <QCommandLineParser>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
                   QCommandLineOption(QStringLiteral("debug"), QString()),
                   QCommandLineOption(QStringLiteral("dial-selection"), QString())};
}

void addOptions(QCommandLineParser& parser, const Options& options)
{
    parser.addOption(options.call);
    parser.addOption(options.debug);
    parser.addOption(options.dialSelection);
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
    // program runs; a message that cannot be written is dropped. The file sits
    // in a shared temporary directory and may hold what the program talks
    // about: it is made for its owner only, never followed through a symbolic
    // link, and never appended to when another user made it.
    const int fd = PrivateFiles::openOwnFile(debugLogFilePath(), O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0)
        return;
    // A file left by an older version may still be readable by others.
    ::fchmod(fd, 0600);
    const QByteArray line = message.toUtf8() + QByteArrayLiteral("\r\n");
    [[maybe_unused]] const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    ::close(fd);
}

QString notRunningMessage(const QString& applicationName)
{
    return QStringLiteral("%1 is niet actief: het belverzoek kon niet worden doorgegeven.").arg(applicationName);
}

QStringList withoutEmptyLinkOption(const QStringList& arguments)
{
    QStringList result = arguments;
    if (result.size() > 1 && result.constLast() == QLatin1String("--call"))
        result.removeLast();
    return result;
}

namespace {
const QLatin1String telScheme("tel:");
const QLatin1String calltoScheme("callto:");
} // namespace

bool isPhoneLink(const QString& value)
{
    return value.startsWith(telScheme, Qt::CaseInsensitive) || value.startsWith(calltoScheme, Qt::CaseInsensitive);
}

QString phoneLinkNumber(const QString& link)
{
    QString rest;
    if (link.startsWith(telScheme, Qt::CaseInsensitive))
        rest = link.mid(telScheme.size());
    else if (link.startsWith(calltoScheme, Qt::CaseInsensitive))
        rest = link.mid(calltoScheme.size());
    else
        return QString();
    // "callto://number" is as common as "callto:number".
    if (rest.startsWith(QLatin1String("//")))
        rest = rest.mid(2);

    // Parameters (";ext=", ";phone-context=") and a query are not part of the
    // number; cut them before decoding, so an encoded ";" cannot end it early.
    const int end = rest.indexOf(QRegularExpression(QStringLiteral("[;?]")));
    if (end >= 0)
        rest.truncate(end);
    return PhoneNumber::normalized(PhoneNumber::percentDecoded(rest));
}

QString callRequestFromPhoneLink(const QString& link)
{
    const QString number = phoneLinkNumber(link);
    if (number.isEmpty())
        return QString();
    return number + QLatin1Char(';') + number + QStringLiteral("=tel");
}

QString invalidLinkMessage(const QString& applicationName, const QString& link)
{
    return QStringLiteral("%1: de link %2 bevat geen telefoonnummer dat gebeld kan worden.").arg(applicationName, link);
}

namespace {
void printLine(const QString& text)
{
    const QByteArray line = text.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}
} // namespace

int runProgram(int argc, char** argv, const ServiceConfig& config)
{
    const QStringList arguments = withoutEmptyLinkOption(convertArguments(argc, argv));
    QCommandLineParser parser;
    const Options opts = options();
    addOptions(parser, opts);
    // Ends the process with the parser's own message on a bad command line.
    parser.process(arguments);

    if (parser.isSet(opts.debug))
        qInstallMessageHandler(debugLog);

    // The program draws nothing with OpenGL, but on X11 Qt would load the GL
    // driver stack (tens of megabytes, a good part of the start-up time) for
    // the first balloon or menu window. Someone who asked for a GL
    // integration explicitly keeps it.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");

    KarvelonApplication app(argc, argv, config);

    // A telephone link (a click in a browser) or --dial-selection that finds
    // no running instance starts the program, which then does it itself.
    QString pendingMessage;
    if (parser.isSet(opts.call)) {
        const QString value = parser.value(opts.call);
        if (!isPhoneLink(value)) {
            if (app.sendMessage(QStringLiteral("ShowCallDialog|") + value, 5000))
                return 0;
            // The request would be lost silently otherwise: tell the caller.
            printLine(notRunningMessage(QCoreApplication::applicationName()));
            return 1;
        }
        const QString request = callRequestFromPhoneLink(value);
        if (request.isEmpty()) {
            printLine(invalidLinkMessage(QCoreApplication::applicationName(), value));
            return 1;
        }
        pendingMessage = QStringLiteral("ShowCallDialog|") + request;
    } else if (parser.isSet(opts.dialSelection)) {
        pendingMessage = QStringLiteral("DialSelection|");
    } else if (app.isRunning()) {
        app.sendMessage(QStringLiteral("AlreadyStarted|") + QCoreApplication::applicationName()
                            + QStringLiteral(" is al actief"),
                        1000);
        return 0;
    }
    if (!pendingMessage.isEmpty() && app.isRunning()) {
        if (app.sendMessage(pendingMessage, 5000))
            return 0;
        printLine(notRunningMessage(QCoreApplication::applicationName()));
        return 1;
    }

    app.showInformationBalloon(false, QCoreApplication::applicationName() + QStringLiteral(" is actief!"));
    SipAccount::registerMetaType();
    SourceType::registerMetaType();
    app.init();
    app.onApplicationStarted();
    if (!pendingMessage.isEmpty()) {
        // From the event loop, as the message of a second start would arrive.
        QTimer::singleShot(0, &app, [&app, pendingMessage]() { app.onMessageReceived(pendingMessage); });
    }
    return app.exec();
}

} // namespace CommandLine
