#include "ConnectionSupervisor.h"

#include <QRandomGenerator>

#include <utility>

ConnectionSupervisor::ConnectionSupervisor(const ServiceConfig& config, std::function<double()> unit, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_unit(unit ? std::move(unit) : [] { return QRandomGenerator::global()->generateDouble(); })
{
    qRegisterMetaType<ConnectionSupervisor::State>("ConnectionSupervisor::State");
    m_timer.setSingleShot(true);
    // The wait told to the user is the wait kept.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ConnectionSupervisor::onTimeout);
    m_outageTimer.setSingleShot(true);
    m_outageTimer.setInterval(m_config.outageNoticeMsecs);
    connect(&m_outageTimer, &QTimer::timeout, this, [this]() {
        m_outageNoticed = true;
        emit outageNoticed();
    });
}

ConnectionSupervisor::~ConnectionSupervisor() = default;

bool ConnectionSupervisor::isTransient(QNetworkReply::NetworkError error, int httpStatus, bool serviceRefused,
                                       const QList<QSslError::SslError>& sslErrors)
{
    // A certificate we do not trust stays untrusted however often we ask.
    for (QSslError::SslError sslError : sslErrors) {
        if (sslError != QSslError::NoError)
            return false;
    }
    if (serviceRefused)
        return false;
    // Servers that are restarting or overloaded, and proxies that time out, say so in these.
    if (httpStatus >= 500 || httpStatus == 408 || httpStatus == 429)
        return true;
    if (httpStatus >= 400)
        return false;
    // Without an HTTP answer: the network, the name service or the TLS handshake failed on the way.
    return error != QNetworkReply::NoError || httpStatus == 0;
}

int ConnectionSupervisor::backoffMsecs(int failures, int initialMsecs, int maxMsecs, double unit)
{
    qint64 delay = qMax(1, initialMsecs);
    for (int i = 1; i < failures && delay < maxMsecs; ++i)
        delay *= 2;
    delay = qMin<qint64>(delay, maxMsecs);
    const qint64 spread = qint64(double(delay) * (0.5 + qBound(0.0, unit, 1.0)));
    return int(qBound<qint64>(0, spread, maxMsecs));
}

int ConnectionSupervisor::waitMsecs() const
{
    return m_state == Waiting && m_timer.isActive() ? m_timer.remainingTime() : 0;
}

void ConnectionSupervisor::start()
{
    m_failures = 0;
    m_outageNoticed = false;
    m_outageTimer.start();
    m_replace = true;
    scheduleIn(0);
}

void ConnectionSupervisor::stop()
{
    m_timer.stop();
    m_outageTimer.stop();
    m_outageNoticed = false;
    setState(Stopped);
}

void ConnectionSupervisor::registered()
{
    if (m_state == Connecting)
        m_timer.start(m_config.requestTimeoutMsecs);
}

void ConnectionSupervisor::succeeded()
{
    if (m_state != Connecting && m_state != Waiting)
        return;
    // The service answered on the connection: the next outage starts over.
    m_failures = 0;
    m_timer.stop();
    m_outageTimer.stop();
    setState(Connected);
    if (std::exchange(m_outageNoticed, false))
        emit recovered();
}

void ConnectionSupervisor::failed(bool transient)
{
    if (m_state == Stopped || m_state == Disabled || m_state == Asleep)
        return;
    if (!transient) {
        m_timer.stop();
        m_outageTimer.stop();
        setState(Disabled);
        return;
    }
    // A retry already due is not pushed back by more news of the same outage.
    if (m_state == Waiting && m_timer.isActive())
        return;
    if (!m_outageTimer.isActive() && !m_outageNoticed)
        m_outageTimer.start();
    ++m_failures;
    scheduleIn(backoffMsecs(m_failures, m_config.backoffInitialMsecs, m_config.backoffMaxMsecs, m_unit()));
}

void ConnectionSupervisor::lost()
{
    if (m_state == Connected)
        failed(true);
}

void ConnectionSupervisor::sleep()
{
    if (m_state == Stopped || m_state == Disabled)
        return;
    m_timer.stop();
    m_outageTimer.stop();
    setState(Asleep);
}

void ConnectionSupervisor::wake()
{
    if (m_state == Stopped || m_state == Disabled)
        return;
    m_failures = 0;
    m_replace = true;
    if (!m_outageTimer.isActive() && !m_outageNoticed)
        m_outageTimer.start();
    scheduleIn(int(m_unit() * m_config.wakeJitterMsecs));
}

void ConnectionSupervisor::setState(State state)
{
    m_state = state;
    emit stateChanged(state, waitMsecs());
}

void ConnectionSupervisor::scheduleIn(int msecs)
{
    m_timer.start(msecs);
    setState(Waiting);
}

void ConnectionSupervisor::onTimeout()
{
    switch (m_state) {
    case Connecting:
        // The attempt took too long: the registration or the connection never came.
        failed(true);
        return;
    case Waiting:
        break;
    default:
        return;
    }
    setState(Connecting);
    // A bound for the whole attempt: both address look-ups and the registration.
    m_timer.start(2 * m_config.wanIpTimeoutMsecs + 2 * m_config.requestTimeoutMsecs);
    emit attempt(std::exchange(m_replace, false));
}
