#pragma once

#include <QCommandLineOption>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class QCommandLineParser;

namespace CommandLine {

// The process arguments as text, decoded with the locale's 8-bit codec so a
// contact name from "--call" keeps its accents. Exactly argc entries; a null
// argument becomes a null string.
QStringList convertArguments(int argc, char** argv);

// The options of the program: "--call <request>" and "--debug". No help or
// version option, so those switches are rejected like any unknown one.
struct Options
{
    QCommandLineOption call;
    QCommandLineOption debug;
};
Options options();
void addOptions(QCommandLineParser& parser, const Options& options);

// Qt message handler of "--debug": appends each message, bare, as UTF-8 with
// "\r\n" to "zurorarlog.txt" in the temporary directory.
void debugLog(QtMsgType type, const QMessageLogContext& context, const QString& message);
QString debugLogFilePath();

// The Dutch line printed when a call request found no running instance.
QString notRunningMessage(const QString& applicationName);

} // namespace CommandLine
