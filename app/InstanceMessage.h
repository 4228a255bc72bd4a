#pragma once

#include <QString>

// What a second start hands to the running instance: "kind|rest".
namespace InstanceMessage {

// The message split at its first "|": the kind before it, the rest after it.
// Without a "|" the whole message is the kind.
struct Message
{
    QString kind;
    QString rest;
};
Message parse(const QString& message);

} // namespace InstanceMessage
