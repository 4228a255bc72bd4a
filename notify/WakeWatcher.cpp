#include "WakeWatcher.h"

#include "Clock.h"
#include "Logger.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace {
const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kNetworkManager = QStringLiteral("org.freedesktop.NetworkManager");
constexpr uint kNetworkConnectedGlobal = 70; // NM_STATE_CONNECTED_GLOBAL
} // namespace

WakeWatcher::WakeWatcher(const ServiceConfig& config, QObject* parent)
    : QObject(parent)
    , m_checkMsecs(qMax(1, config.resumeCheckMsecs))
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (bus.isConnected() && bus.interface()) {
        if (bus.interface()->isServiceRegistered(kLogind).value()) {
            m_onBus |= bus.connect(kLogind, QStringLiteral("/org/freedesktop/login1"),
                                   QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                                   this, SLOT(onPrepareForSleep(bool)));
        }
        if (bus.interface()->isServiceRegistered(kNetworkManager).value()) {
            m_onBus |= bus.connect(kNetworkManager, QStringLiteral("/org/freedesktop/NetworkManager"),
                                   kNetworkManager, QStringLiteral("StateChanged"), this,
                                   SLOT(onNetworkStateChanged(uint)));
        }
    }
    if (m_onBus)
        return;
    Logger::instance()->log(Logger::Debug, QString(),
                            QStringLiteral("Geen logind of NetworkManager op de systeembus; hervatten wordt aan de "
                                           "klok herkend."));
    m_monotonic.start();
    m_wallMSecs = Clock::currentMSecsSinceEpoch();
    m_clockCheck.setInterval(m_checkMsecs);
    connect(&m_clockCheck, &QTimer::timeout, this, &WakeWatcher::checkClocks);
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
