#include "NotificationChannel.h"

#include "Clock.h"
#include "KarvelonApi.h"
#include "Logger.h"
#include "PendingReply.h"
#include "SecretStore.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SocketIO.h"
#include "UrlHelper.h"
#include "WakeWatcher.h"
#include "WanIpResolver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <utility>

namespace {

const QString kComponent = QStringLiteral("Notifier");
const QString kRegisterScript = QStringLiteral("krpopnotify.php");

QString notificationSetting(const QString& key)
{
    return Settings().get(SettingsKeys::kNotificationsGroup, key).toString();
}

// The service answered, and said no.
bool refusedByService(const QJsonObject& response)
{
    for (const QString& part : {QStringLiteral("head"), QStringLiteral("body")}) {
        if (!response.value(part).toObject().value(QStringLiteral("error_message")).toString().isEmpty())
            return true;
    }
    return false;
}

void log(Logger::Severity severity, const QString& msg)
{
    Logger::instance()->log(severity, kComponent, msg);
}

} // namespace

NotificationChannel::NotificationChannel(const ServiceConfig& config, SecretStore* secrets,
                                         std::function<double()> unit, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_secrets(secrets)
    , m_unit(std::move(unit))
{
    qRegisterMetaType<IncomingCall>();
    qRegisterMetaType<ConnectionSupervisor::State>("ConnectionSupervisor::State");
}

NotificationChannel::~NotificationChannel()
{
    cancelAttempt();
    delete m_wakeWatcher;
    delete m_supervisor;
    if (m_socketIO) {
        // The handlers point back at this object, which is going away: cut them
        // before the socket closes.
        m_socketIO->clearHandlers();
        delete m_socketIO;
    }
}

QNetworkAccessManager* NotificationChannel::manager()
{
    if (!m_networkAccessManager)
        m_networkAccessManager = new QNetworkAccessManager(this);
    return m_networkAccessManager;
}

// Made at first use, on the thread the channel works on.
void NotificationChannel::ensureParts()
{
    if (m_socketIO)
        return;
    m_socketIO = new SocketIO(m_config.pingIntervalMsecs);
    m_socketIO->on(QStringLiteral("serveroutput"), [this](const QJsonObject&) { onGreeting(); });
    m_socketIO->on(QStringLiteral("notify"), [this](const QJsonObject& data) { onNotification(data); });
    m_socketIO->on(QStringLiteral("disconnected"), [this](const QJsonObject&) { onDisconnected(); });
    // The client's own reconnections ran out, or it could not connect at all:
    // from here on the supervisor's delays take over.
    for (const QString& event : {QStringLiteral("ErrorLimitReached"), QStringLiteral("failed")})
        m_socketIO->on(event, [this](const QJsonObject&) { m_supervisor->failed(true); });
    m_socketIO->on(QStringLiteral("registererror"), [this](const QJsonObject& data) {
        log(Logger::Error, QStringLiteral("Websocket registratie geweigerd: %1")
                               .arg(data.value(QStringLiteral("error_message")).toString()));
        // A key just issued and refused is final; an older one, sent again by
        // the client's own reconnection, may simply be unknown to a restarted
        // server: a fresh registration sorts that out.
        const bool transient = m_wsKeyUses > 1;
        m_socketIO->disconnect();
        m_supervisor->failed(transient);
    });

    m_supervisor = new ConnectionSupervisor(m_config, m_unit, this);
    connect(m_supervisor, &ConnectionSupervisor::attempt, this, &NotificationChannel::beginAttempt);
    connect(m_supervisor, &ConnectionSupervisor::stateChanged, this,
            [this](ConnectionSupervisor::State state) { onSupervisorStateChanged(state); });
    connect(m_supervisor, &ConnectionSupervisor::outageNoticed, this, [this]() {
        emit showUserNotification(
            true, QStringLiteral("Geen verbinding met de notificatiedienst. Karvelon probeert het automatisch opnieuw."));
    });
    connect(m_supervisor, &ConnectionSupervisor::recovered, this,
            [this]() { emit showUserNotification(false, QStringLiteral("Notificaties zijn weer actief.")); });

    m_wakeWatcher = new WakeWatcher(m_config, this);
    connect(m_wakeWatcher, &WakeWatcher::sleeping, this, [this]() {
        log(Logger::Info, QStringLiteral("Systeem gaat slapen; notificatie verbinding wordt gesloten."));
        cancelAttempt();
        m_supervisor->sleep();
        m_socketIO->disconnect();
    });
    connect(m_wakeWatcher, &WakeWatcher::awake, m_supervisor, &ConnectionSupervisor::wake);
    connect(m_wakeWatcher, &WakeWatcher::awake, this, &NotificationChannel::awake);
}

bool NotificationChannel::startNotificationSocket()
{
    // Just after start-up the keyring may still be reading; the store ends that wait within its bound.
    if (!m_secrets->isLoaded()) {
        if (!std::exchange(m_startWhenLoaded, true)) {
            m_secrets->whenLoaded(this, [this]() {
                if (std::exchange(m_startWhenLoaded, false))
                    startNotificationSocket();
            });
        }
        return true;
    }
    ensureParts();
    log(Logger::Info, QStringLiteral("Inschakelen"));
    m_supervisor->start();
    return true;
}

bool NotificationChannel::stopNotificationSocket()
{
    m_startWhenLoaded = false;
    log(Logger::Info, QStringLiteral("Uitschakelen"));
    cancelAttempt();
    if (m_supervisor)
        m_supervisor->stop();
    if (m_socketIO)
        m_socketIO->disconnect();
    return false;
}

void NotificationChannel::onSettingsUpdated()
{
    const bool enabled = Settings().get(SettingsKeys::kNotificationsGroup, SettingsKeys::kEnabled, false).toBool();
    if (enabled)
        startNotificationSocket();
    else if (m_socketIO || m_startWhenLoaded)
        stopNotificationSocket();
}

void NotificationChannel::reportState()
{
    const State state = m_supervisor ? m_supervisor->state() : ConnectionSupervisor::Stopped;
    emit stateChanged(state, m_supervisor ? (m_supervisor->waitMsecs() + 999) / 1000 : 0);
}

void NotificationChannel::cancelAttempt()
{
    ++m_attempt;
    delete m_resolver;
    if (m_registration)
        m_registration->cancel();
}

void NotificationChannel::beginAttempt(bool replace)
{
    cancelAttempt();
    // Never a registration with an empty password: that waits for the user, until the settings are saved.
    const QString missing = m_secrets->whyMissing(SettingsKeys::kNotificationsGroup, SettingsKeys::kPassword);
    if (!missing.isEmpty()) {
        log(Logger::Error, QStringLiteral("Kon niet registreren bij notificatie service. Fout: %1").arg(missing));
        m_supervisor->failed(false);
        return;
    }
    if (m_socketIO->isConnected()) {
        // The client healed the connection by itself in the meantime: keep it.
        if (!replace) {
            m_supervisor->succeeded();
            return;
        }
        m_socketIO->disconnect();
    }
    // The address is looked up first: it may take a while, and "ts" must be
    // fresh when the service sees the registration.
    const quint64 attempt = m_attempt;
    m_resolver = new WanIpResolver(manager(), m_config.wanIpHtmlUrl, m_config.wanIpTextUrl, m_config.wanIpTimeoutMsecs,
                                   this);
    connect(m_resolver, &WanIpResolver::resolved, this, [this, attempt](const QString& wanIp) {
        m_resolver->deleteLater();
        if (attempt == m_attempt)
            register_(attempt, wanIp);
    });
    m_resolver->start();
}

void NotificationChannel::register_(quint64 attempt, const QString& wanIp)
{
    const QString login = notificationSetting(SettingsKeys::kUsername);
    const QString digest = KarvelonApi::hashPassword(
        m_secrets->secret(SettingsKeys::kNotificationsGroup, SettingsKeys::kPassword), 1);
    const QString ts = QString::number(Clock::currentSecsSinceEpoch());
    const QString appId =
        QStringLiteral("Xv9bQ2%1").arg(Clock::currentDateTime().toString(QStringLiteral("yyyyMMddHHmm")));

    UrlHelper params;
    params.addKeyValue(QStringLiteral("appID"), appId);
    params.addKeyValue(QStringLiteral("appLogin"), login);
    params.addKeyValue(QStringLiteral("appPasswd"), digest);
    params.addKeyValue(QStringLiteral("action"), QStringLiteral("login"));
    params.addKeyValue(QStringLiteral("item"), login);
    params.addKeyValue(QStringLiteral("data"), digest);
    params.addKeyValue(QStringLiteral("options"), wanIp);
    params.addKeyValue(QStringLiteral("f"), QStringLiteral("json"));
    params.addKeyValue(QStringLiteral("ts"), ts);
    // Signed over the raw values, keyed with the application id; login and
    // password digest are signed but never sent.
    params.addKeyValue(QStringLiteral("hash"), KarvelonApi::hashUriString(params.toConcatenatedString(),
                                                                          params.value(QStringLiteral("appID"))));
    const QByteArray body = params.toUrl({QStringLiteral("appLogin"), QStringLiteral("appPasswd")}).toLatin1();

    QNetworkRequest request(QUrl(m_config.apiBaseUrl + kRegisterScript, QUrl::TolerantMode));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    QNetworkReply* reply = manager()->post(request, body);
    m_registration = PendingReply::start(
        reply, m_config.requestTimeoutMsecs, kComponent,
        [this, attempt, login, wanIp](const PendingReply::Outcome& outcome) {
            // A stop, a sleep or a newer attempt that came in meanwhile wins.
            if (attempt != m_attempt || m_supervisor->state() != ConnectionSupervisor::Connecting) {
                log(Logger::Info, QStringLiteral("Registratie voltooid na uitschakelen; er wordt geen verbinding gemaakt."));
                return;
            }
            if (outcome.ok) {
                // The digest is as good as the password to the notification
                // service, and log files get exported: keep it out of the log.
                log(Logger::Info, QStringLiteral("Registreren notificatie verbinding. Parameters: login: %1, "
                                                 "password: ***, IP: %2")
                                      .arg(login, wanIp));
                m_wsKey = outcome.response.value(QStringLiteral("wskey")).toString();
                m_wsUsername = outcome.response.value(QStringLiteral("username")).toString();
                m_wsKeyUses = 0;
                m_supervisor->registered();
                // Up once the server greets us ("serveroutput").
                m_socketIO->connect(m_config.notifyUrl);
                return;
            }
            const bool transient = ConnectionSupervisor::isTransient(
                outcome.error, outcome.httpStatus, refusedByService(outcome.response), outcome.sslErrors);
            log(Logger::Error, QStringLiteral("Kon niet registreren bij notificatie service. Fout: %1").arg(outcome.failure));
            if (transient)
                log(Logger::Info, QStringLiteral("Er zal automatisch worden geprobeerd opnieuw te registeren"));
            m_supervisor->failed(transient);
        });
}

void NotificationChannel::onSupervisorStateChanged(ConnectionSupervisor::State state)
{
    if (state == ConnectionSupervisor::Disabled) {
        cancelAttempt();
        m_socketIO->disconnect();
    }
    emit stateChanged(state, (m_supervisor->waitMsecs() + 999) / 1000);
    if (state == ConnectionSupervisor::Disabled)
        emit showUserNotification(true, QStringLiteral("Notificaties uitgeschakeld. Kon verbinding niet automatisch "
                                                       "herstellen, controleer het netwerk en uw instellingen."));
}

void NotificationChannel::onGreeting()
{
    // A greeting on a connection we no longer want (switched off, refused, asleep).
    const State state = m_supervisor->state();
    if (state != ConnectionSupervisor::Connecting && state != ConnectionSupervisor::Waiting &&
        state != ConnectionSupervisor::Connected) {
        m_socketIO->disconnect();
        return;
    }
    ++m_wsKeyUses;
    m_socketIO->send(QStringLiteral("register"),
                     QJsonObject{{QStringLiteral("username"), m_wsUsername}, {QStringLiteral("wskey"), m_wsKey}});
    m_supervisor->succeeded();
}

void NotificationChannel::onNotification(const QJsonObject& data)
{
    static const QStringList known = {QStringLiteral("callerID"), QStringLiteral("did"), QStringLiteral("contact"),
                                      QStringLiteral("callid")};
    IncomingCall call;
    const QStringList keys = data.keys();
    for (const QString& key : keys) {
        if (known.contains(key))
            continue;
        if (!call.details.isEmpty())
            call.details += QStringLiteral("\r\n");
        call.details += QStringLiteral("%1: %2").arg(key, data.value(key).toString());
    }
    call.number = data.value(QStringLiteral("callerID")).toString();
    call.contact = data.value(QStringLiteral("contact")).toString();
    call.did = data.value(QStringLiteral("did")).toString();
    call.callId = data.value(QStringLiteral("callid")).toVariant().toString();

    Logger::instance()->log(Logger::Debug, QString(),
                            QStringLiteral("Inkomende oproep via websocket ontvangen. Text: %1").arg(call.details));
    emit incomingCall(call);
}

void NotificationChannel::onDisconnected()
{
    if (m_supervisor->state() == ConnectionSupervisor::Connected) {
        log(Logger::Warning, QStringLiteral("Websocket verbinding verbroken."));
        log(Logger::Info, QStringLiteral("De websocket verbinding zal geprobeerd worden te hersteld."));
    }
    // The client may heal a drop by itself; the supervisor registers again only if it does not.
    m_supervisor->lost();
}
