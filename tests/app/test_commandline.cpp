#include "CommandLine.h"
#include "TestSupport.h"

#include <QCommandLineParser>
#include <QDir>
#include <QProcess>
#include <QtTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void convertArguments_decodesUtf8AndKeepsNull();
    void parser_data();
    void parser();
    void debugLog_writesBareRecordsWithCrLf();
    void debugLog_appendsAcrossCalls();
    void debugLogFilePath_isInTheTemporaryDirectory();
};

void TestCommandLine::convertArguments_decodesUtf8AndKeepsNull()
{
    QByteArray program("karvelon");
    QByteArray call("--call");
    QByteArray value("Zo\xc3\xab M\xc3\xbcller;+31 20=Priv\xc3\xa9");
    char* argv[] = {program.data(), call.data(), value.data(), nullptr};

    const QStringList arguments = CommandLine::convertArguments(4, argv);
    QCOMPARE(arguments.size(), 4);
    QCOMPARE(arguments.at(2), QString::fromUtf8("Zoë Müller;+31 20=Privé"));
    QVERIFY(arguments.at(3).isNull());
}

void TestCommandLine::parser_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("call");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("debug");

    QTest::newRow("none") << QStringList{"karvelon"} << true << false << "" << false;
    QTest::newRow("call, next argument") << QStringList{"karvelon", "--call", "+31 20 123;1=x"} << true << true
                                         << "+31 20 123;1=x" << false;
    QTest::newRow("call with equals sign") << QStringList{"karvelon", "--call=Jan;0123=Werk"} << true << true
                                           << "Jan;0123=Werk" << false;
    QTest::newRow("empty call value") << QStringList{"karvelon", "--call", ""} << true << true << "" << false;
    QTest::newRow("debug") << QStringList{"karvelon", "--debug"} << true << false << "" << true;
    QTest::newRow("call without value") << QStringList{"karvelon", "--call"} << false << false << "" << false;
    QTest::newRow("help is unknown") << QStringList{"karvelon", "--help"} << false << false << "" << false;
    QTest::newRow("version is unknown") << QStringList{"karvelon", "--version"} << false << false << "" << false;
    QTest::newRow("debug takes no value") << QStringList{"karvelon", "--debug=1"} << false << false << "" << false;
}

void TestCommandLine::parser()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, ok);
    QFETCH(bool, call);
    QFETCH(QString, value);
    QFETCH(bool, debug);

    QCommandLineParser parser;
    const CommandLine::Options options = CommandLine::options();
    CommandLine::addOptions(parser, options);
    QCOMPARE(parser.parse(arguments), ok);
    if (!ok)
        return;
    QCOMPARE(parser.isSet(options.call), call);
    QCOMPARE(parser.value(options.call), value);
    QCOMPARE(parser.isSet(options.debug), debug);
}

void TestCommandLine::debugLog_writesBareRecordsWithCrLf()
{
    const QString path = CommandLine::debugLogFilePath();
    QFile::remove(path);

    qInstallMessageHandler(CommandLine::debugLog);
    qDebug("eerste bericht");
    qWarning("tweede: %s", "Zoë");
    qInstallMessageHandler(nullptr);

    QCOMPARE(TestSupport::readFile(path), QByteArray("eerste bericht\r\ntweede: Zo\xc3\xab\r\n"));
}

void TestCommandLine::debugLog_appendsAcrossCalls()
{
    const QString path = CommandLine::debugLogFilePath();
    QFile::remove(path);
    const QMessageLogContext context;
    CommandLine::debugLog(QtDebugMsg, context, QStringLiteral("een"));
    // Someone empties the file meanwhile: the next message starts it again.
    QFile::remove(path);
    CommandLine::debugLog(QtCriticalMsg, context, QStringLiteral("twee"));
    CommandLine::debugLog(QtInfoMsg, context, QStringLiteral("drie"));
    QCOMPARE(TestSupport::readFile(path), QByteArray("twee\r\ndrie\r\n"));
}

void TestCommandLine::debugLogFilePath_isInTheTemporaryDirectory()
{
    const QString path = CommandLine::debugLogFilePath();
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("zurorarlog.txt"));
    QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
