#include "DesktopNotifications.h"

#include "Logger.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QVariantMap>

#include <utility>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kCallBack = QStringLiteral("call-back");
const QString kCopyNumber = QStringLiteral("copy-number");
const QString kOpenPage = QStringLiteral("open-page");

void logWarning(const QString& message)
{
    Logger::instance()->log(Logger::Warning, QStringLiteral("Notifier"), message);
}
} // namespace

DesktopNotifications::DesktopNotifications(const QDBusConnection& bus, int timeoutMsecs, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_timeoutMsecs(timeoutMsecs)
    , m_watcher(new QDBusServiceWatcher(kService, bus, QDBusServiceWatcher::WatchForOwnerChange, this))
{
    qRegisterMetaType<DesktopNotification>();
    qRegisterMetaType<ScreenPop::Caller>();
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) { onOwnerChanged(newOwner); });
    // Matched on the well-known name: QtDBus follows it to whichever process owns it.
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
    if (!m_bus.isConnected())
        return;
    // Asked without waiting; messages wait for both answers.
    m_unanswered = 2;
    askBus(QStringLiteral("NameHasOwner"), {kService}, [this](const QDBusMessage& reply) {
        m_running = m_running || reply.arguments().value(0).toBool();
    });
    askBus(QStringLiteral("ListActivatableNames"), {}, [this](const QDBusMessage& reply) {
        m_activatable = reply.arguments().value(0).toStringList().contains(kService);
    });
}

DesktopNotifications::~DesktopNotifications() = default;

void DesktopNotifications::askBus(const QString& method, const QVariantList& arguments,
                                  std::function<void(const QDBusMessage&)> answer)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                       QStringLiteral("/org/freedesktop/DBus"),
                                                       QStringLiteral("org.freedesktop.DBus"), method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, m_timeoutMsecs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, answer]() {
        watcher->deleteLater();
        if (!watcher->isError())
            answer(watcher->reply());
        if (--m_unanswered == 0)
            onBusAnswered();
    });
}

void DesktopNotifications::onBusAnswered()
{
    // A running server is asked what it can do at once; an activatable one is
    // only started when there is something to show.
    if (m_running || (m_activatable && !m_waiting.isEmpty())) {
        readCapabilities();
        return;
    }
    if (m_activatable)
        return;
    const QList<DesktopNotification> waiting = std::exchange(m_waiting, {});
    for (const DesktopNotification& n : waiting)
        emit fallback(n);
}

bool DesktopNotifications::isAvailable() const
{
    return m_bus.isConnected() && (m_running || m_activatable);
}

bool DesktopNotifications::supportsActions() const
{
    return m_capabilities.contains(QStringLiteral("actions"));
}

void DesktopNotifications::notify(const DesktopNotification& n)
{
    if (m_bus.isConnected() && m_unanswered > 0) {
        m_waiting.append(n);
        return;
    }
    if (!isAvailable()) {
        emit fallback(n);
        return;
    }
    if (m_capabilitiesState == Capabilities::Known) {
        send(n);
        return;
    }
    m_waiting.append(n);
    if (m_capabilitiesState == Capabilities::Unknown)
        readCapabilities();
}

void DesktopNotifications::onOwnerChanged(const QString& newOwner)
{
    // The ids of the old server mean nothing to the new one.
    ++m_generation;
    m_withActions.clear();
    m_capabilities.clear();
    m_running = !newOwner.isEmpty();
    m_capabilitiesState = Capabilities::Unknown;
    if (m_unanswered == 0 && (m_running || !m_waiting.isEmpty()))
        readCapabilities();
}

void DesktopNotifications::readCapabilities()
{
    m_capabilitiesState = Capabilities::Pending;
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, m_timeoutMsecs), this);
    const quint64 generation = m_generation;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation]() {
        watcher->deleteLater();
        if (generation != m_generation)
            return;
        const QDBusPendingReply<QStringList> reply = *watcher;
        if (reply.isError())
            logWarning(QStringLiteral("Mogelijkheden van de meldingenserver konden niet worden gelezen: %1")
                           .arg(reply.error().message()));
        else
            m_capabilities = reply.value();
        m_capabilitiesState = Capabilities::Known;
        const QList<DesktopNotification> waiting = std::exchange(m_waiting, {});
        for (const DesktopNotification& n : waiting)
            send(n);
    });
}

void DesktopNotifications::send(const DesktopNotification& n)
{
    QStringList actions;
    if (n.incomingCall && supportsActions()) {
        if (!n.callerNumber.isEmpty())
            actions << kCallBack << QStringLiteral("Terugbellen") << kCopyNumber << QStringLiteral("Nummer kopiëren");
        if (!n.pageKey.isEmpty())
            actions << kOpenPage << QStringLiteral("Openen");
    }
    const bool withActions = !actions.isEmpty();
    QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("karvelon")},
                      {QStringLiteral("urgency"), QVariant::fromValue(uchar(n.error ? 2 : 1))}};
    if (n.incomingCall)
        hints.insert(QStringLiteral("category"), QStringLiteral("call.incoming"));
    // Names and numbers come from the service: a server that reads markup must see them as text.
    const QString body = m_capabilities.contains(QStringLiteral("body-markup")) ? n.text.toHtmlEscaped() : n.text;

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call.setArguments({QCoreApplication::applicationName(), uint(0), QStringLiteral("karvelon"), n.title, body,
                       actions, hints, n.expireMsecs});
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, m_timeoutMsecs), this);
    const quint64 generation = m_generation;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, generation, withActions, n]() {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            logWarning(QStringLiteral("Melding kon niet via de meldingenserver worden getoond: %1")
                           .arg(reply.error().message()));
            emit fallback(n);
            return;
        }
        if (withActions && generation == m_generation)
            m_withActions.insert(reply.value(), n);
        emit shown(reply.value());
    });
}

void DesktopNotifications::onActionInvoked(uint id, const QString& actionKey)
{
    const auto it = m_withActions.constFind(id);
    if (it == m_withActions.constEnd())
        return;
    const DesktopNotification& n = it.value();
    if (actionKey == kCallBack && !n.callerNumber.isEmpty())
        emit callBackRequested(n.callerNumber);
    else if (actionKey == kCopyNumber && !n.callerNumber.isEmpty())
        QGuiApplication::clipboard()->setText(n.callerNumber);
    else if (actionKey == kOpenPage && !n.pageKey.isEmpty())
        emit pageRequested(n.pageKey, n.page);
}

void DesktopNotifications::onNotificationClosed(uint id, uint)
{
    m_withActions.remove(id);
}
