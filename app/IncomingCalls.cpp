#include "IncomingCalls.h"

#include "AddressBook.h"
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

// The name the user's own address books have for a caller the service's phone book does not know; a name the
// service sent is never replaced.
QString IncomingCalls::addressBookName(const IncomingCall& call) const
{
    if (!call.contact.isEmpty() || !m_addressBook)
        return QString();
    return m_addressBook->lookup(call.number);
}

void IncomingCalls::onIncomingCall(const IncomingCall& announced)
{
    // Shown, logged and kept as if the service had sent it, and marked in the history.
    IncomingCall call = announced;
    const QString found = addressBookName(call);
    if (!found.isEmpty())
        call.contact = found;

    const QString text = messageText(call);
    Logger::instance()->log(Logger::Info, QStringLiteral("Notifier"), text);
    m_notifier->showIncomingCall(text, call.number);

    CallRecord record;
    record.direction = CallRecord::Incoming;
    record.msecsSinceEpoch = Clock::currentMSecsSinceEpoch();
    record.number = call.number;
    record.name = call.contact;
    record.line = call.did;
    record.nameFromAddressBook = !found.isEmpty();
    m_history->add(record);
}
