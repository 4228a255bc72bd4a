#pragma once

#include "ServiceConfig.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Tells when the machine is about to sleep and when it, or the network, is
// back: from systemd-logind and NetworkManager on the system bus where they
// are, otherwise from the wall clock jumping ahead of the monotonic one (which
// stands still while the machine sleeps). Without any of these the channel's
// own backoff still recovers, only later.
class WakeWatcher : public QObject
{
    Q_OBJECT

public:
    explicit WakeWatcher(const ServiceConfig& config, QObject* parent = nullptr);
    ~WakeWatcher() override;


signals:
    void sleeping();
    void awake();

private slots:
    void onPrepareForSleep(bool sleeping);
    void onNetworkStateChanged(uint state);

private:
    Q_DISABLE_COPY(WakeWatcher)

    void useClocks();
    void checkClocks();

    bool m_onBus = false; // logind or NetworkManager runs
    int m_unanswered = 0;
    QTimer m_clockCheck;
    QElapsedTimer m_monotonic;
    qint64 m_wallMSecs = 0;
    const int m_checkMsecs;
};
