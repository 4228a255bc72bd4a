#include "InstanceMessage.h"

namespace InstanceMessage {

Message parse(const QString& message)
{
    const int bar = message.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return Message{message, QString()};
    return Message{message.left(bar), message.mid(bar + 1)};
}

} // namespace InstanceMessage
