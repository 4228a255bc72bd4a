#include "OutgoingCall.h"

#include <atomic>

OutgoingCall OutgoingCall::make(Origin origin, const QString& number, const QString& sipId, SourceType::Type source,
                                const QString& contactName)
{
    static std::atomic<quint64> lastId{0};
    OutgoingCall call;
    call.id = ++lastId;
    call.number = number;
    call.source = source;
    call.sipId = sipId;
    call.contactName = contactName;
    call.origin = origin;
    return call;
}
