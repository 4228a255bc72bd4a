#pragma once

#include <QCommandLineOption>
#include <QString>
#include <QStringList>
#include <QtGlobal>


class QCommandLineParser;
struct ServiceConfig;

namespace CommandLine {

// The process arguments as text, decoded with the locale's 8-bit codec so a
// contact name from "--call" keeps its accents. Exactly argc entries; a null
// argument becomes a null string.
QStringList convertArguments(int argc, char** argv);

// The options of the program: "--call <request>", "--dial-selection" and
// "--debug". No help or version option, so those switches are rejected like
// any unknown one.
struct Options
{
    QCommandLineOption call;
    QCommandLineOption debug;
    // What the hot key does, for a shortcut set in the desktop's own settings.
    QCommandLineOption dialSelection;
};
Options options();
void addOptions(QCommandLineParser& parser, const Options& options);

// Qt message handler of "--debug": appends each message, bare, as UTF-8 with
// "\r\n" to "zurorarlog.txt" in the temporary directory.
void debugLog(QtMsgType type, const QMessageLogContext& context, const QString& message);
QString debugLogFilePath();

// The Dutch line printed when a call request found no running instance.
QString notRunningMessage(const QString& applicationName);

// A desktop launcher runs "karvelon --call %u" and drops the "%u" when it has
// no link to pass (a start from the menu). Such a trailing bare "--call" is
// removed, so that start is an ordinary one instead of a parser error.
QStringList withoutEmptyLinkOption(const QStringList& arguments);

// Whether a "--call" value is a telephone link ("tel:" or "callto:", any case).
bool isPhoneLink(const QString& value);

// The dialable number of a telephone link: percent-decoded, parameters after
// ";" (and a query after "?") dropped, then read as every number is
// (PhoneNumber::normalized). Empty when the link holds no dialable number.
QString phoneLinkNumber(const QString& link);

// The call request for a telephone link, in the form a plug-in sends: the
// number as the contact name, then the number with the label "tel", e.g.
// "tel:+31%2020-123%204567;ext=12" -> "+31201234567;+31201234567=tel".
// Empty when the link holds no dialable number.
QString callRequestFromPhoneLink(const QString& link);

// The Dutch line printed when a link holds no dialable number.
QString invalidLinkMessage(const QString& applicationName, const QString& link);

// The whole program, as main() runs it: parse the command line, then hand a
// request to the running instance or become it, talking to the service that
// config describes.
int runProgram(int argc, char** argv, const ServiceConfig& config);

} // namespace CommandLine
