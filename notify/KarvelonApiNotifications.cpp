// The notification-channel half of KarvelonApi: registration with the
// notification service, the Socket.IO connection and its bounded recovery.
#include "KarvelonApi.h"

#include "Clock.h"
#include "Logger.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SocketIO.h"
#include "UrlHelper.h"
#include "WanIpResolver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

const QString kComponent = QStringLiteral("Notifier");
const QString kRegisterScript = QStringLiteral("krpopnotify.php");
// Six failed registrations in a row (the first and five retries) end the attempts.
constexpr int kMaxRegistrationRetries = 5;

QString notificationSetting(const QString& key)
{
    return Settings().get(SettingsKeys::kNotificationsGroup, key).toString();
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
    if (m_socketIO->isConnected())
        stopNotificationSocket();
    m_stopRequested = false;

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

    bool ok = false;
    const QJsonObject response = awaitResponse(reply, ok, kComponent);

    if (ok) {
        reply->deleteLater();
        // The wait above lets other calls run; a stop that came in meanwhile wins.
        if (m_stopRequested) {
            log(Logger::Info, kComponent,
                QStringLiteral("Registratie voltooid na uitschakelen; er wordt geen verbinding gemaakt."));
            return false;
        }
        // The digest is as good as the password to the notification service,
        // and log files get exported: keep it out of the log.
        log(Logger::Info, kComponent,
            QStringLiteral("Registreren notificatie verbinding. Parameters: login: %1, password: ***, IP: %2")
                .arg(params.value(QStringLiteral("appLogin")), params.value(QStringLiteral("options"))));
        m_wsKey = response.value(QStringLiteral("wskey")).toString();
        m_wsUsername = response.value(QStringLiteral("username")).toString();
        m_socketIO->connect(m_config.notifyUrl);
        return true;
    }

    log(Logger::Error, kComponent,
        QStringLiteral("Kon niet registreren bij notificatie service. Fout: %1")
            .arg(errorDescription(reply, response)));
    reply->deleteLater();
    retryRegisteringNotificationSocket();
    log(Logger::Info, kComponent, QStringLiteral("Er zal automatisch worden geprobeerd opnieuw te registeren"));
    return false;
}

bool KarvelonApi::stopNotificationSocket()
{
    log(Logger::Info, kComponent, QStringLiteral("Uitschakelen"));
    m_stopRequested = true;
    if (m_socketIO)
        m_socketIO->disconnect();
    return false;
}

void KarvelonApi::onSettingsUpdated()
{
    m_retryCount = 0;
    const bool enabled = Settings().get(SettingsKeys::kNotificationsGroup, SettingsKeys::kEnabled, false).toBool();
    if (enabled) {
        if (!m_socketIO)
            initNotificationSocket();
        startNotificationSocket();
    } else if (m_socketIO) {
        stopNotificationSocket();
    }
}

bool KarvelonApi::isNotificationSocketConnected() const
{
    return m_socketConnected.loadAcquire() != 0;
}

void KarvelonApi::retryRegisteringNotificationSocket()
{
    if (m_retryCount > kMaxRegistrationRetries - 1) {
        if (!m_userNotified) {
            emit showUserNotification(true,
                                      QStringLiteral("Notificaties uitgeschakeld. Kon verbinding niet automatisch "
                                                     "herstellen, controleer het netwerk en uw instellingen."));
        }
        m_userNotified = true;
        return;
    }
    m_userNotified = false;
    ++m_retryCount;
    m_retryTimer.stop();
    startNotificationSocket();
}

void KarvelonApi::queueRegisteringNotificationSocket()
{
    if (m_retryTimer.isActive()) {
        log(Logger::Debug, QString(),
            QStringLiteral("Someone tried to queue a ws reconnect event while it was already queued. So we discard "
                           "this request."));
        return;
    }
    QObject::disconnect(&m_retryTimer, nullptr, nullptr, nullptr);
    connect(&m_retryTimer, &QTimer::timeout, this, &KarvelonApi::retryRegisteringNotificationSocket);
    m_retryTimer.setSingleShot(false);
    m_retryTimer.start();
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
    m_socketIO->on(QStringLiteral("ErrorLimitReached"), [this](const QJsonObject&) {
        emit showUserNotification(true, QStringLiteral("Notificaties uitgeschakeld. Kon geen verbinding tot stand "
                                                       "brengen met de notificatie services. Controleer het logboek "
                                                       "op foutcodes."));
    });
    return true;
}

void KarvelonApi::notificationSocketAuthentication(const QJsonObject&)
{
    m_socketIO->send(QStringLiteral("register"),
                     QJsonObject{{QStringLiteral("username"), m_wsUsername}, {QStringLiteral("wskey"), m_wsKey}});
    m_retryCount = 0;
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
    if (m_retryCount <= kMaxRegistrationRetries && !m_stopRequested) {
        log(Logger::Warning, kComponent,
            QStringLiteral("Websocket verbinding verbroken. Notificaties zullen niet (meer) werken."));
        queueRegisteringNotificationSocket();
        log(Logger::Info, kComponent, QStringLiteral("De websocket verbinding zal geprobeerd worden te hersteld."));
    }
    emit notificationSocketConnectionChanged(false);
}

void KarvelonApi::setNotificationSocketConnected(bool connected)
{
    m_socketConnected.storeRelease(connected ? 1 : 0);
}

void KarvelonApi::destroyNotificationChannel()
{
    m_retryTimer.stop();
    QObject::disconnect(&m_retryTimer, nullptr, this, nullptr);
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
