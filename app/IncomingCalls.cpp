#include "IncomingCalls.h"

#include "CallHistory.h"
#include "Clock.h"
#include "Logger.h"
#include "Notifier.h"

IncomingCalls::IncomingCalls(Notifier* notifier, CallHistory* history, QObject* parent)
    : QObject(parent)
    , m_notifier(notifier)
    , m_history(history)
{
    qRegisterMetaType<IncomingCall>();
}

IncomingCalls::~IncomingCalls() = default;

QString IncomingCalls::messageText(const IncomingCall& call)
{
    QString text = QStringLiteral("Inkomende oproep van %1 op %2.").arg(call.caller(), call.did);
    if (!call.details.isEmpty())
        text += QStringLiteral("\r\n") + call.details;
    return text;
}

void IncomingCalls::onIncomingCall(const IncomingCall& call)
{
    const QString text = messageText(call);
    Logger::instance()->log(Logger::Info, QStringLiteral("Notifier"), text);
    m_notifier->showIncomingCall(text, call.number);

    CallRecord record;
    record.direction = CallRecord::Incoming;
    record.msecsSinceEpoch = Clock::currentMSecsSinceEpoch();
    record.number = call.number;
    record.name = call.contact;
    record.line = call.did;
    m_history->add(record);
}
