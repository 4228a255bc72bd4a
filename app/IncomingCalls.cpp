#include "IncomingCalls.h"

#include "AddressBook.h"
#include "CallHistory.h"
#include "Clock.h"
#include "DoNotDisturb.h"
#include "Logger.h"
#include "Notifier.h"
#include "ScreenPopOpener.h"

namespace {
// One call however often it is announced: the service's id with the caller, or
// else the caller and the moment it came in.
QString pageKeyOf(const IncomingCall& call, qint64 msecs)
{
    return call.callId.isEmpty() ? QStringLiteral("%1@%2").arg(call.number).arg(msecs)
                                 : QStringLiteral("%1#%2").arg(call.number, call.callId);
}
} // namespace

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

void IncomingCalls::useDesk(DoNotDisturb* doNotDisturb, ScreenPopOpener* screenPop)
{
    m_doNotDisturb = doNotDisturb;
    m_screenPop = screenPop;
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

    const qint64 now = Clock::currentMSecsSinceEpoch();
    const QString text = messageText(call);
    Logger::instance()->log(Logger::Info, QStringLiteral("Notifier"), text);

    // At the desk: a browser window is a pop-up too, so "Niet storen" holds
    // both back; the call is still recorded, and so counted.
    const bool quiet = m_doNotDisturb && m_doNotDisturb->isOn();
    const ScreenPop::Setup setup = m_screenPop ? ScreenPop::readSetup() : ScreenPop::Setup();
    const QString pageKey = pageKeyOf(call, now);
    const ScreenPop::Caller page{call.number, call.contact, call.did};
    if (quiet) {
        Logger::instance()->log(Logger::Info, QStringLiteral("Notifier"),
                                QStringLiteral("Niet storen staat aan: de oproep is niet getoond."));
    } else {
        const bool button = setup.mode == ScreenPop::Mode::Button && !setup.urlTemplate.trimmed().isEmpty() &&
                            ScreenPop::templateProblem(setup.urlTemplate).isEmpty();
        m_notifier->showIncomingCall(text, call.number, button ? pageKey : QString(), page);
    }

    CallRecord record;
    record.direction = CallRecord::Incoming;
    record.msecsSinceEpoch = now;
    record.number = call.number;
    record.name = call.contact;
    record.line = call.did;
    record.nameFromAddressBook = !found.isEmpty();
    m_history->add(record);

    // The opener tells the log when a stored address is refused.
    if (!quiet && m_screenPop && setup.mode == ScreenPop::Mode::Automatic)
        m_screenPop->openForCall(pageKey, setup.urlTemplate, page);
}

void IncomingCalls::openPage(const QString& pageKey, const ScreenPop::Caller& page)
{
    if (m_screenPop)
        m_screenPop->openForCall(pageKey, ScreenPop::readSetup().urlTemplate, page);
}
