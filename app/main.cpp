#include "CommandLine.h"
#include "KarvelonApplication.h"
#include "SipAccount.h"
#include "SourceType.h"

#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char** argv)
{
    const QStringList arguments = CommandLine::convertArguments(argc, argv);
    QCommandLineParser parser;
    const CommandLine::Options options = CommandLine::options();
    CommandLine::addOptions(parser, options);
    // Ends the process with the parser's own message on a bad command line.
    parser.process(arguments);

    if (parser.isSet(options.debug))
        qInstallMessageHandler(CommandLine::debugLog);

    KarvelonApplication app(argc, argv);

    if (parser.isSet(options.call)) {
        const QString message = QStringLiteral("ShowCallDialog|") + parser.value(options.call);
        if (app.sendMessage(message, 5000))
            return 0;
        // The request would be lost silently otherwise: tell the caller.
        const QByteArray line = CommandLine::notRunningMessage(QCoreApplication::applicationName()).toLocal8Bit() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        return 1;
    }

    if (app.isRunning()) {
        app.sendMessage(QStringLiteral("AlreadyStarted|") + QCoreApplication::applicationName()
                            + QStringLiteral(" is al actief"),
                        1000);
        return 0;
    }

    app.showInformationBalloon(false, QCoreApplication::applicationName() + QStringLiteral(" is actief!"));
    SipAccount::registerMetaType();
    SourceType::registerMetaType();
    app.init();
    app.onApplicationStarted();
    return app.exec();
}
