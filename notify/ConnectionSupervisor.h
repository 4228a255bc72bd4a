#pragma once

#include "ServiceConfig.h"

#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QSslError>
#include <QTimer>

#include <functional>

// Keeps the notification channel alive for as long as the user wants it:
// decides when the next registration is due and whether a failure is worth
// another one, and holds the channel's state, which everyone else follows.
// One timer drives everything, so attempts never overlap: while waiting it
// counts down to the next attempt, while connecting it bounds the attempt.
// Every failure doubles the wait; a connection that came up and answered
// starts the next outage from the first delay again.
class ConnectionSupervisor : public QObject
{
    Q_OBJECT

public:
    enum State {
        Stopped,    // the user switched notifications off
        Connecting, // an attempt is under way
        Connected,
        Waiting,  // the next attempt is due in waitMsecs()
        Disabled, // refused for good: waits for the user
        Asleep,   // the machine is about to sleep or sleeps
    };
    Q_ENUM(State)

    // unit: where the jitter of each wait comes from, a value in [0, 1) per
    // call (default: random).
    explicit ConnectionSupervisor(const ServiceConfig& config, std::function<double()> unit = {},
                                  QObject* parent = nullptr);
    ~ConnectionSupervisor() override;

    // Whether a failed registration can go away by itself. Refusals by the
    // service (an error message, 401/403 and the like) and certificates we do
    // not trust cannot.
    static bool isTransient(QNetworkReply::NetworkError error, int httpStatus, bool serviceRefused,
                            const QList<QSslError::SslError>& sslErrors);
    // The wait before attempt number `failures` (1: after the first failure);
    // unit in [0, 1) spreads it over 50..150 % of the doubling delay.
    static int backoffMsecs(int failures, int initialMsecs, int maxMsecs, double unit);

    State state() const { return m_state; }
    int waitMsecs() const;

    // The user asked for the channel: forget earlier failures, try at once.
    void start();
    void stop();
    // The service took the registration: the connection has the request
    // time-out to come up and answer.
    void registered();
    // The connection came up and answered: the channel is up.
    void succeeded();
    void failed(bool transient);
    // The connection went; the client may still heal it by itself, so the
    // next registration only follows after the usual delay.
    void lost();
    void sleep();
    // Back from sleep, or the network is back: try soon, from the first delay.
    void wake();

signals:
    // Time for a registration; the receiver reports back with registered(),
    // then succeeded() or failed(), and drops an attempt it had under way.
    // replace: a connection that looks alive is not to be trusted (after a
    // resume, or the user asked).
    void attempt(bool replace);
    void stateChanged(ConnectionSupervisor::State state, int waitMsecs);
    // Once per outage that outlasts the notice time, and once at its end.
    void outageNoticed();
    void recovered();

private:
    Q_DISABLE_COPY(ConnectionSupervisor)

    void setState(State state);
    void scheduleIn(int msecs);
    void onTimeout();

    const ServiceConfig m_config;
    State m_state = Stopped;
    int m_failures = 0;
    QTimer m_timer;
    QTimer m_outageTimer;
    bool m_outageNoticed = false;
    bool m_replace = false;
    const std::function<double()> m_unit;
};
