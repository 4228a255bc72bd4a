#pragma once

#include <QString>
#include <QStringList>

// Parsing of the messages that a second start hands to the running instance.
namespace CallRequest {

// A single-instance message split at its first "|": the kind before it, the
// rest after it. Without a "|" the whole message is the kind.
struct Message
{
    QString kind;
    QString rest;
};
Message parseMessage(const QString& message);

// The rest of a "ShowCallDialog" message: a contact name, then ";"-separated
// "number=label" pieces, each turned into the entry "number (label)" that the
// call dialog shows. A piece without "=" is used as both number and label.
struct Contact
{
    QString name;
    QStringList numbers;
};
Contact parseContact(const QString& rest);

} // namespace CallRequest
