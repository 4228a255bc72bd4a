#pragma once

#include <QString>
#include <QStringList>

// Parsing of call requests: the messages a second start hands to the running
// instance, and the contact payload that both a second start and the
// plug-ins' command socket carry.
namespace CallRequest {

// A single-instance message split at its first "|": the kind before it, the
// rest after it. Without a "|" the whole message is the kind.
struct Message
{
    QString kind;
    QString rest;
};
Message parseMessage(const QString& message);

// Who sent the payload. The two differ where the plug-ins' fixed format does:
// - SecondStart: a name alone still yields one (empty) entry; a piece without
//   "=" is used as both number and label; "a=b=c" splits at the first "=".
// - PluginSocket: a name alone yields no entry at all; a field that is not
//   exactly "number=label" is passed on as received.
enum Origin
{
    SecondStart,
    PluginSocket,
};

// "name;number=label;..." with each number entry turned into "number (label)",
// the form the call dialog shows.
struct Contact
{
    QString name;
    QStringList numbers;
};
Contact parseContact(const QString& rest, Origin origin);

} // namespace CallRequest
