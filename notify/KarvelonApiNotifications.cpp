// The notification-channel half of KarvelonApi.
#include "KarvelonApi.h"

bool KarvelonApi::startNotificationSocket()
{
    return false;
}

bool KarvelonApi::stopNotificationSocket()
{
    return false;
}

void KarvelonApi::onSettingsUpdated() {}

bool KarvelonApi::isNotificationSocketConnected() const
{
    return m_socketConnected.loadAcquire() != 0;
}

void KarvelonApi::setRetryIntervalForTesting(int msecs)
{
    m_retryTimer.setInterval(msecs);
}

void KarvelonApi::setPingIntervalForTesting(int msecs)
{
    m_pingIntervalMsecs = msecs;
}

void KarvelonApi::setWanIpTimeoutForTesting(int msecs)
{
    m_wanIpTimeoutMsecs = msecs;
}

void KarvelonApi::retryRegisteringNotificationSocket() {}

void KarvelonApi::queueRegisteringNotificationSocket() {}

bool KarvelonApi::initNotificationSocket()
{
    return false;
}

void KarvelonApi::notificationSocketAuthentication(const QJsonObject&) {}

void KarvelonApi::notificationSocketNotification(const QJsonObject&) {}

void KarvelonApi::notificationSocketDisconnected(const QJsonObject&) {}

void KarvelonApi::setNotificationSocketConnected(bool connected)
{
    m_socketConnected.storeRelease(connected ? 1 : 0);
}

void KarvelonApi::destroyNotificationChannel() {}
