#pragma once

#include "ConnectionSupervisor.h"
#include "IncomingCall.h"
#include "ServiceConfig.h"

#include <QObject>
#include <QPointer>
#include <QString>

class PendingReply;
class QNetworkAccessManager;
class SecretStore;
class SocketIO;
class WakeWatcher;
class WanIpResolver;

// The incoming-call notification channel: registration with the notification
// service (from the public address), the Socket.IO connection, and its
// recovery, which ConnectionSupervisor times and WakeWatcher hurries after a
// sleep. Lives on a worker thread of its own; nothing it does waits, so a
// registration never holds up anything else and the reverse. Its state is the
// supervisor's, reported through stateChanged. The password comes from the
// secret store: the channel starts once that has loaded.
class NotificationChannel : public QObject
{
    Q_OBJECT

public:
    using State = ConnectionSupervisor::State;

    // secrets: not owned, outlives this object; unit: the jitter source handed
    // to the supervisor (default: random).
    NotificationChannel(const ServiceConfig& config, SecretStore* secrets, std::function<double()> unit = {},
                        QObject* parent = nullptr);
    ~NotificationChannel() override;

signals:
    // retryInSecs: while Waiting, the seconds until the next attempt.
    void stateChanged(ConnectionSupervisor::State state, int retryInSecs);
    void incomingCall(const IncomingCall& call);
    void showUserNotification(bool isError, const QString& msg);
    // The machine woke or the network came back (WakeWatcher), for others
    // that look at the wall clock.
    void awake();

public slots:
    // The user asked for the channel: any earlier failures are forgotten.
    bool startNotificationSocket();
    bool stopNotificationSocket();
    // Follows "Notifications"/"Enabled".
    void onSettingsUpdated();
    // Tells the current state again, for a view that has just opened.
    void reportState();

private:
    Q_DISABLE_COPY(NotificationChannel)

    void ensureParts();
    QNetworkAccessManager* manager();
    void beginAttempt(bool replace);
    void register_(quint64 attempt, const QString& wanIp);
    void cancelAttempt();
    void onSupervisorStateChanged(ConnectionSupervisor::State state);
    void onGreeting();
    void onNotification(const QJsonObject& data);
    void onDisconnected();

    const ServiceConfig m_config;
    SecretStore* const m_secrets;
    bool m_startWhenLoaded = false; // asked for before the secrets were there
    std::function<double()> m_unit;
    QNetworkAccessManager* m_networkAccessManager = nullptr;
    SocketIO* m_socketIO = nullptr;
    ConnectionSupervisor* m_supervisor = nullptr;
    WakeWatcher* m_wakeWatcher = nullptr;
    // The attempt under way; answers of an older one are dropped.
    quint64 m_attempt = 0;
    QPointer<WanIpResolver> m_resolver;
    QPointer<PendingReply> m_registration;
    QString m_wsKey;
    QString m_wsUsername;
    int m_wsKeyUses = 0; // "register" frames sent with the current key
};
