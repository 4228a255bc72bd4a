#include "WakeWatcher.h"

#include "Clock.h"
#include "Logger.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {
const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kNetworkManager = QStringLiteral("org.freedesktop.NetworkManager");
constexpr uint kNetworkConnectedGlobal = 70; // NM_STATE_CONNECTED_GLOBAL
} // namespace

WakeWatcher::WakeWatcher(const ServiceConfig& config, QObject* parent)
    : QObject(parent)
    , m_checkMsecs(qMax(1, config.resumeCheckMsecs))
{
    m_monotonic.start();
    m_wallMSecs = Clock::currentMSecsSinceEpoch();
    m_clockCheck.setInterval(m_checkMsecs);
    connect(&m_clockCheck, &QTimer::timeout, this, &WakeWatcher::checkClocks);

    // Listened to whether or not the services run yet; whether the clocks are
    // needed as well is asked without waiting for the answer.
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        useClocks();
        return;
    }
    bus.connect(kLogind, QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
                QStringLiteral("PrepareForSleep"), this, SLOT(onPrepareForSleep(bool)));
    bus.connect(kNetworkManager, QStringLiteral("/org/freedesktop/NetworkManager"), kNetworkManager,
                QStringLiteral("StateChanged"), this, SLOT(onNetworkStateChanged(uint)));
    m_unanswered = 2;
    for (const QString& service : {kLogind, kNetworkManager}) {
        const QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                                QStringLiteral("/org/freedesktop/DBus"),
                                                                QStringLiteral("org.freedesktop.DBus"),
                                                                QStringLiteral("NameHasOwner"));
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(QDBusMessage(ask) << service), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher]() {
            watcher->deleteLater();
            const QDBusPendingReply<bool> owned = *watcher;
            m_onBus |= owned.isValid() && owned.value();
            if (--m_unanswered == 0 && !m_onBus)
                useClocks();
        });
    }
}

void WakeWatcher::useClocks()
{
    Logger::instance()->log(Logger::Debug, QString(),
                            QStringLiteral("Geen logind of NetworkManager op de systeembus; hervatten wordt aan de "
                                           "klok herkend."));
    m_monotonic.restart();
    m_wallMSecs = Clock::currentMSecsSinceEpoch();
    m_clockCheck.start();
}

WakeWatcher::~WakeWatcher() = default;

void WakeWatcher::onPrepareForSleep(bool sleeping)
{
    if (sleeping)
        emit this->sleeping();
    else
        emit awake();
}

void WakeWatcher::onNetworkStateChanged(uint state)
{
    if (state == kNetworkConnectedGlobal)
        emit awake();
}

void WakeWatcher::checkClocks()
{
    const qint64 monotonic = m_monotonic.restart();
    const qint64 wall = Clock::currentMSecsSinceEpoch();
    const qint64 wallElapsed = wall - m_wallMSecs;
    m_wallMSecs = wall;
    // More wall-clock time went by than a whole check period beyond what the
    // monotonic clock saw: the machine slept in between.
    if (wallElapsed - monotonic > m_checkMsecs)
        emit awake();
}
