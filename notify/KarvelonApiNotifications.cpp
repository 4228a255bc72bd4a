// The notification-channel half of KarvelonApi: registration with the
// notification service, the Socket.IO connection, and its recovery, which
// ConnectionSupervisor times and WakeWatcher hurries after a sleep.
#include "KarvelonApi.h"

#include "Clock.h"
#include "ConnectionSupervisor.h"
#include "Logger.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SocketIO.h"
#include "UrlHelper.h"
#include "WakeWatcher.h"
#include "WanIpResolver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

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

void log(Logger::Severity severity, const QString& component, const QString& msg)
{
    Logger::instance()->log(severity, component, msg);
}

} // namespace

bool KarvelonApi::startNotificationSocket()
{
    if (!m_socketIO)
        initNotificationSocket();
    log(Logger::Info, kComponent, QStringLiteral("Inschakelen"));
    m_supervisor->start();
    return true;
}

// Runs from the supervisor's timer only, so one registration at a time.
void KarvelonApi::registerNotificationChannel(bool replace)
{
    if (m_socketIO->isConnected()) {
        // The client healed the connection by itself in the meantime: keep it.
        if (!replace) {
            m_supervisor->succeeded();
            return;
        }
        m_socketIO->disconnect();
    }

    const QString login = notificationSetting(SettingsKeys::kUsername);
    const QString digest = hashPassword(notificationSetting(SettingsKeys::kPassword), 1);
    // Looked up first: it may take a while, and "ts" must be fresh when the service sees it.
    const QString wanIp = WanIpResolver::resolveWanIp(m_config.wanIpHtmlUrl, m_config.wanIpTextUrl, m_config.wanIpTimeoutMsecs);
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
    params.addKeyValue(QStringLiteral("hash"),
                       hashUriString(params.toConcatenatedString(), params.value(QStringLiteral("appID"))));
    const QByteArray body = params.toUrl({QStringLiteral("appLogin"), QStringLiteral("appPasswd")}).toLatin1();

    QNetworkRequest request(QUrl(m_config.apiBaseUrl + kRegisterScript, QUrl::TolerantMode));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    QNetworkReply* reply = m_networkAccessManager->post(request, body);
    QList<QSslError::SslError> sslErrors;
    const QMetaObject::Connection sslWatch =
        connect(reply, &QNetworkReply::sslErrors, this, [&sslErrors](const QList<QSslError>& errors) {
            for (const QSslError& error : errors)
                sslErrors << error.error();
        });

    bool ok = false;
    const QJsonObject response = awaitResponse(reply, ok, kComponent);
    disconnect(sslWatch);
    reply->deleteLater();

    // The wait above lets other calls run; a stop, a sleep or a newer attempt that came in meanwhile wins.
    if (m_supervisor->state() != ConnectionSupervisor::Connecting) {
        log(Logger::Info, kComponent,
            QStringLiteral("Registratie voltooid na uitschakelen; er wordt geen verbinding gemaakt."));
        return;
    }
    if (ok) {
        // The digest is as good as the password to the notification service,
        // and log files get exported: keep it out of the log.
        log(Logger::Info, kComponent,
            QStringLiteral("Registreren notificatie verbinding. Parameters: login: %1, password: ***, IP: %2")
                .arg(params.value(QStringLiteral("appLogin")), params.value(QStringLiteral("options"))));
        m_wsKey = response.value(QStringLiteral("wskey")).toString();
        m_wsUsername = response.value(QStringLiteral("username")).toString();
        m_wsKeyUses = 0;
        // Up once the server greets us ("serveroutput").
        m_socketIO->connect(m_config.notifyUrl);
        return;
    }

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool transient = ConnectionSupervisor::isTransient(reply->error(), status, refusedByService(response), sslErrors);
    log(Logger::Error, kComponent,
        QStringLiteral("Kon niet registreren bij notificatie service. Fout: %1")
            .arg(errorDescription(reply, response)));
    if (transient)
        log(Logger::Info, kComponent, QStringLiteral("Er zal automatisch worden geprobeerd opnieuw te registeren"));
    m_supervisor->failed(transient);
}

bool KarvelonApi::stopNotificationSocket()
{
    log(Logger::Info, kComponent, QStringLiteral("Uitschakelen"));
    if (m_supervisor)
        m_supervisor->stop();
    if (m_socketIO)
        m_socketIO->disconnect();
    return false;
}

void KarvelonApi::onSettingsUpdated()
{
    const bool enabled = Settings().get(SettingsKeys::kNotificationsGroup, SettingsKeys::kEnabled, false).toBool();
    if (enabled)
        startNotificationSocket();
    else if (m_socketIO)
        stopNotificationSocket();
}

bool KarvelonApi::isNotificationSocketConnected() const
{
    return m_socketConnected.loadAcquire() != 0;
}

bool KarvelonApi::initNotificationSocket()
{
    if (m_socketIO)
        return false;
    m_socketIO = new SocketIO(m_config.pingIntervalMsecs);
    // The GUI thread asks for the state directly: it reads this flag, never the socket.
    connect(m_socketIO, &SocketIO::connectedStateChanged, this, &KarvelonApi::setNotificationSocketConnected,
            Qt::DirectConnection);
    m_socketIO->on(QStringLiteral("serveroutput"),
                   [this](const QJsonObject& data) { notificationSocketAuthentication(data); });
    m_socketIO->on(QStringLiteral("notify"), [this](const QJsonObject& data) { notificationSocketNotification(data); });
    m_socketIO->on(QStringLiteral("disconnected"),
                   [this](const QJsonObject& data) { notificationSocketDisconnected(data); });
    // The client's own reconnections ran out, or it could not connect at all:
    // from here on the supervisor's delays take over.
    for (const QString& event : {QStringLiteral("ErrorLimitReached"), QStringLiteral("failed")})
        m_socketIO->on(event, [this](const QJsonObject&) { m_supervisor->failed(true); });
    m_socketIO->on(QStringLiteral("registererror"), [this](const QJsonObject& data) {
        log(Logger::Error, kComponent,
            QStringLiteral("Websocket registratie geweigerd: %1").arg(data.value(QStringLiteral("error_message")).toString()));
        // A key just issued and refused is final; an older one, sent again by
        // the client's own reconnection, may simply be unknown to a restarted
        // server: a fresh registration sorts that out.
        const bool transient = m_wsKeyUses > 1;
        m_socketIO->disconnect();
        m_supervisor->failed(transient);
    });

    m_supervisor = new ConnectionSupervisor(m_config, this);
    connect(m_supervisor, &ConnectionSupervisor::attempt, this, &KarvelonApi::registerNotificationChannel);
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
        log(Logger::Info, kComponent, QStringLiteral("Systeem gaat slapen; notificatie verbinding wordt gesloten."));
        m_supervisor->sleep();
        m_socketIO->disconnect();
    });
    connect(m_wakeWatcher, &WakeWatcher::awake, m_supervisor, &ConnectionSupervisor::wake);
    return true;
}

void KarvelonApi::onSupervisorStateChanged(int state)
{
    switch (state) {
    case ConnectionSupervisor::Stopped:
        emit notificationStateChanged(NotificationsOff, 0);
        break;
    case ConnectionSupervisor::Connected:
        emit notificationStateChanged(NotificationsConnected, 0);
        break;
    case ConnectionSupervisor::Waiting:
        emit notificationStateChanged(NotificationsRetrying, (m_supervisor->waitMsecs() + 999) / 1000);
        break;
    case ConnectionSupervisor::Disabled:
        m_socketIO->disconnect();
        emit notificationStateChanged(NotificationsDisabled, 0);
        emit showUserNotification(true, QStringLiteral("Notificaties uitgeschakeld. Kon verbinding niet automatisch "
                                                       "herstellen, controleer het netwerk en uw instellingen."));
        break;
    default: // an attempt under way, or asleep: the last word stands
        break;
    }
}

void KarvelonApi::notificationSocketAuthentication(const QJsonObject&)
{
    // A greeting on a connection we no longer want (switched off, refused, asleep).
    const ConnectionSupervisor::State state = m_supervisor->state();
    if (state != ConnectionSupervisor::Connecting && state != ConnectionSupervisor::Waiting &&
        state != ConnectionSupervisor::Connected) {
        m_socketIO->disconnect();
        return;
    }
    ++m_wsKeyUses;
    m_socketIO->send(QStringLiteral("register"),
                     QJsonObject{{QStringLiteral("username"), m_wsUsername}, {QStringLiteral("wskey"), m_wsKey}});
    m_supervisor->succeeded();
    emit notificationSocketConnectionChanged(true);
}

void KarvelonApi::notificationSocketNotification(const QJsonObject& data)
{
    static const QStringList known = {QStringLiteral("callerID"), QStringLiteral("did"), QStringLiteral("contact"),
                                      QStringLiteral("callid")};
    QString extra;
    const QStringList keys = data.keys();
    for (const QString& key : keys) {
        if (known.contains(key))
            continue;
        if (!extra.isEmpty())
            extra += QStringLiteral("\r\n");
        extra += QStringLiteral("%1: %2").arg(key, data.value(key).toString());
    }

    const QString callerId = data.value(QStringLiteral("callerID")).toString();
    const QString contact = data.value(QStringLiteral("contact")).toString();
    const QString caller = contact.isEmpty() ? callerId : QStringLiteral("%1 (%2)").arg(contact, callerId);

    log(Logger::Debug, QString(), QStringLiteral("Inkomende oproep via websocket ontvangen. Text: %1").arg(extra));
    emit incomingCall(caller, data.value(QStringLiteral("did")).toString(), extra, callerId, contact);
}

void KarvelonApi::notificationSocketDisconnected(const QJsonObject&)
{
    if (m_supervisor->state() == ConnectionSupervisor::Connected) {
        log(Logger::Warning, kComponent, QStringLiteral("Websocket verbinding verbroken."));
        log(Logger::Info, kComponent, QStringLiteral("De websocket verbinding zal geprobeerd worden te hersteld."));
    }
    // The client may heal a drop by itself; the supervisor registers again only if it does not.
    m_supervisor->lost();
    emit notificationSocketConnectionChanged(false);
}

void KarvelonApi::setNotificationSocketConnected(bool connected)
{
    m_socketConnected.storeRelease(connected ? 1 : 0);
}

void KarvelonApi::destroyNotificationChannel()
{
    delete std::exchange(m_wakeWatcher, nullptr);
    delete std::exchange(m_supervisor, nullptr);
    if (!m_socketIO)
        return;
    // The handlers and the state signal point back at this object, which is
    // going away: cut them before the socket closes.
    m_socketIO->clearHandlers();
    QObject::disconnect(m_socketIO, nullptr, this, nullptr);
    delete m_socketIO;
    m_socketIO = nullptr;
    setNotificationSocketConnected(false);
}
