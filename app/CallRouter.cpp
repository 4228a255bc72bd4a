#include "CallRouter.h"

#include "CallHistory.h"
#include "Clock.h"
#include "Logger.h"
#include "PhoneNumber.h"
#include "SipAccountManager.h"

#include <QTimer>

CallRouter::CallRouter(CallHistory* history, QObject* parent)
    : QObject(parent)
    , m_history(history)
{
    qRegisterMetaType<OutgoingCall>();
    SourceType::registerMetaType();
}

CallRouter::~CallRouter() = default;

QString CallRouter::originName(OutgoingCall::Origin origin)
{
    switch (origin) {
    case OutgoingCall::TrayMenu:
        return QStringLiteral("ClickToDial menu");
    case OutgoingCall::DialWindow:
        return QStringLiteral("belvenster");
    case OutgoingCall::CallDialog:
        return QStringLiteral("beldialoog");
    case OutgoingCall::RecentCalls:
        return QStringLiteral("recente gesprekken");
    case OutgoingCall::Journal:
        return QStringLiteral("gesprekkenlijst");
    case OutgoingCall::Notification:
        return QStringLiteral("melding");
    case OutgoingCall::Selection:
        return QStringLiteral("selectie");
    }
    return QString();
}

bool CallRouter::start(const OutgoingCall& call)
{
    const QString component = SourceType::row(call.source).component;
    Logger* log = Logger::instance();
    log->log(Logger::Info, component,
             QStringLiteral("Bel nummer: %1 via %2 opdracht ontvangen").arg(call.number, originName(call.origin)));
    if (!PhoneNumber::isDialable(call.number)) {
        log->log(Logger::Warning, component,
                 QStringLiteral("Kon gesprek niet starten: '%1' is geen telefoonnummer").arg(call.number));
        const quint64 id = call.id;
        QTimer::singleShot(0, this, [this, id]() { emit finished(id, false); });
        return false;
    }
    m_pending.insert(call.id, call);
    emit requested(call.id, call.number, call.source, SipAccountManager::accountForCall(call.source, call.sipId));
    return true;
}

void CallRouter::onCallFinished(quint64 id, bool success)
{
    const auto it = m_pending.constFind(id);
    if (it == m_pending.constEnd())
        return;
    const OutgoingCall call = it.value();
    m_pending.erase(it);
    if (m_history) {
        CallRecord record;
        record.direction = CallRecord::Outgoing;
        record.msecsSinceEpoch = Clock::currentMSecsSinceEpoch();
        record.number = call.number.trimmed();
        record.name = call.contactName;
        record.source = SourceType::settingsGroup(call.source);
        record.accepted = success;
        m_history->add(record);
    }
    emit finished(id, success);
}
