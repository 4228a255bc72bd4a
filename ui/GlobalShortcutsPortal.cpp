#include "GlobalShortcutsPortal.h"

#include "Logger.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUuid>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kComponent = QStringLiteral("Sneltoets");

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};
using PortalShortcuts = QList<PortalShortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

QString pathOf(const QVariant& value)
{
    return value.userType() == qMetaTypeId<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path()
                                                              : value.toString();
}

} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

const QString GlobalShortcutsPortal::ShortcutId = QStringLiteral("dial-selection");

GlobalShortcutsPortal::GlobalShortcutsPortal(const QDBusConnection& bus, QObject* parent) : QObject(parent), m_bus(bus)
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcuts>();
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this, SLOT(onActivated(QDBusMessage)));
}

GlobalShortcutsPortal::~GlobalShortcutsPortal()
{
    closeSession();
}

QString GlobalShortcutsPortal::triggerFor(const QString& modifier, const QString& key)
{
    if (modifier.isEmpty() || key.isEmpty())
        return QString();
    return (modifier == QLatin1String("Control") ? QStringLiteral("CTRL") : modifier.toUpper()) + QLatin1Char('+') +
           key;
}

void GlobalShortcutsPortal::probe()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({kInterface, QStringLiteral("version")});
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher]() {
        watcher->deleteLater();
        const bool offered = !watcher->isError();
        if (!offered)
            setState(Unavailable);
        else if (m_state < Available)
            setState(Available);
    });
}

void GlobalShortcutsPortal::bind(const QString& preferredTrigger)
{
    if (!isAvailable()) {
        Logger::instance()->log(Logger::Warning, kComponent,
                                QStringLiteral("Het bureaublad biedt geen sneltoetsen voor programma's aan."));
        return;
    }
    // A session binds once: a new choice gets a new session.
    closeSession();
    m_preferredTrigger = preferredTrigger;
    m_trigger.clear();
    setState(Binding);
    request(Step::CreateSession, QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"),
              QStringLiteral("karvelon_") + QUuid::createUuid().toString(QUuid::Id128)}});
}

void GlobalShortcutsPortal::release()
{
    closeSession();
    m_trigger.clear();
    if (isAvailable())
        setState(Available);
}

void GlobalShortcutsPortal::request(Step step, const QString& method, QVariantList arguments, QVariantMap options)
{
    const quint64 generation = ++m_generation;
    const QString token = QStringLiteral("karvelon_") + QUuid::createUuid().toString(QUuid::Id128);
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;
    // Listen before asking: the answer may overtake the reply to the call.
    const QString sender = m_bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    m_step = step;
    m_requestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    m_bus.connect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap, QDBusMessage)));

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation, method]() {
        watcher->deleteLater();
        if (generation != m_generation)
            return;
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError()) {
            Logger::instance()->log(
                Logger::Warning, kComponent,
                QStringLiteral("Sneltoets via het bureaublad: %1 mislukt: %2").arg(method, reply.error().message()));
            m_step = Step::None;
            setState(Refused);
        } else if (reply.value().path() != m_requestPath) {
            // Portals before version 0.9 chose the request's path themselves.
            m_requestPath = reply.value().path();
            m_bus.connect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                          SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
        }
    });
}

void GlobalShortcutsPortal::onResponse(uint response, const QVariantMap& results, const QDBusMessage& message)
{
    if (message.path() != m_requestPath || m_step == Step::None)
        return;
    const Step step = m_step;
    m_step = Step::None;
    m_bus.disconnect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
    if (response != 0) { // 1: the user cancelled, 2: anything else
        Logger::instance()->log(Logger::Warning, kComponent,
                                QStringLiteral("Het bureaublad heeft de sneltoets geweigerd (%1).").arg(response));
        closeSession();
        setState(Refused);
        return;
    }
    if (step == Step::CreateSession) {
        m_sessionPath = pathOf(results.value(QStringLiteral("session_handle")));
        bindShortcuts();
        return;
    }
    const PortalShortcuts bound = qdbus_cast<PortalShortcuts>(results.value(QStringLiteral("shortcuts")));
    for (const PortalShortcut& shortcut : bound) {
        if (shortcut.id == ShortcutId)
            m_trigger = shortcut.properties.value(QStringLiteral("trigger_description")).toString();
    }
    Logger::instance()->log(Logger::Info, kComponent,
                            QStringLiteral("Sneltoets ingesteld via het bureaublad: %1").arg(m_trigger));
    setState(Bound);
}

void GlobalShortcutsPortal::bindShortcuts()
{
    QVariantMap properties{{QStringLiteral("description"), QStringLiteral("Nummer uit selectie bellen")}};
    if (!m_preferredTrigger.isEmpty())
        properties.insert(QStringLiteral("preferred_trigger"), m_preferredTrigger);
    const PortalShortcuts shortcuts{{ShortcutId, properties}};
    request(Step::BindShortcuts, QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_sessionPath)), QVariant::fromValue(shortcuts), QString()}, {});
}

void GlobalShortcutsPortal::onActivated(const QDBusMessage& message)
{
    const QVariantList arguments = message.arguments();
    if (m_state == Bound && !m_sessionPath.isEmpty() && pathOf(arguments.value(0)) == m_sessionPath &&
        arguments.value(1).toString() == ShortcutId)
        emit activated();
}

void GlobalShortcutsPortal::closeSession()
{
    ++m_generation;
    if (m_step != Step::None) {
        m_bus.disconnect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
        m_step = Step::None;
    }
    if (m_sessionPath.isEmpty())
        return;
    m_bus.send(QDBusMessage::createMethodCall(kService, m_sessionPath, QStringLiteral("org.freedesktop.portal.Session"),
                                              QStringLiteral("Close")));
    m_sessionPath.clear();
}

void GlobalShortcutsPortal::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(state);
}
