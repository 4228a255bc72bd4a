// The request side of KarvelonApi: signing, executing and judging web-API
// requests, call set-up and SIP account retrieval.
#include "KarvelonApi.h"

#include "Clock.h"
#include "Logger.h"
#include "PhoneNumber.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "UrlHelper.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QEventLoop>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QMetaType>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>

#include <algorithm>

std::atomic<KarvelonApi*> KarvelonApi::m_instance{nullptr};

namespace {

using namespace SettingsKeys;

const QString kOptions = QStringLiteral("options");

QString settingString(const QString& group, const QString& key)
{
    return Settings().get(group, key).toString();
}

// The customer part that every call and list request shares, in the service's order.
void addRequestParameters(UrlHelper& params, const QString& options, const QString& apiId,
                          const QString& sipAccount, const QString& telnr)
{
    params.addKeyValue(kOptions, options);
    params.addKeyValue(QStringLiteral("apiID"), apiId);
    params.addKeyValue(QStringLiteral("knummer"), settingString(kCustomerGroup, kNumber));
    params.addKeyValue(QStringLiteral("pwd"), KarvelonApi::hashPassword(settingString(kCustomerGroup, kPassword), 2));
    params.addKeyValue(QStringLiteral("sipacc"), sipAccount);
    params.addKeyValue(QStringLiteral("telnr"), telnr);
    params.addKeyValue(QStringLiteral("f"), QStringLiteral("json"));
    params.addKeyValue(QStringLiteral("ts"), QString::number(Clock::currentSecsSinceEpoch()));
}

// Signs the parameters (nothing of "excluded" enters the signature), drops
// "options" for the click-to-dial script and renders the whole request URL.
QString signedRequestUrl(const QString& baseUrl, UrlHelper params, const QString& script, const QString& key,
                         const QStringList& excluded)
{
    const QString signature = KarvelonApi::hashUriString(params.toConcatenatedString(excluded), key);
    if (script == SourceType::row(SourceType::ClickToDial).script)
        params.removeKey(kOptions);
    return baseUrl + script + params.toUrl() + QStringLiteral("&pass=") + signature;
}

QString jsonString(const QJsonObject& object, const QString& key)
{
    return object.value(key).toString();
}

} // namespace

// Made and deleted on the web-service thread, never a child of anything there.
KarvelonApi::KarvelonApi(const ServiceConfig& config, QObject* /*parent*/)
    : QObject(nullptr)
    , m_config(config)
{
    m_networkAccessManager = new QNetworkAccessManager(this);
    connect(m_networkAccessManager, &QNetworkAccessManager::sslErrors, this, &KarvelonApi::onSslError);

    qRegisterMetaType<QList<QPair<QString, QString>>>("QList<QPair<QString, QString>>&");

    qRegisterMetaType<KarvelonApi::NotificationState>("KarvelonApi::NotificationState");

    m_instance.store(this, std::memory_order_release);
}

KarvelonApi::~KarvelonApi()
{
    destroyNotificationChannel();
    // Once the web-service thread has let go of its client, nobody may reach
    // it through instance() any more (a newer client stays registered).
    KarvelonApi* self = this;
    m_instance.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

KarvelonApi* KarvelonApi::instance()
{
    return m_instance.load(std::memory_order_acquire);
}

QString KarvelonApi::hashPassword(const QString& password, int mode)
{
    const QByteArray bytes = password.toLatin1();
    if (mode == 2) {
        const QByteArray md5Hex = QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
        return QString::fromLatin1(QCryptographicHash::hash(md5Hex, QCryptographicHash::Sha256).toHex());
    }
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString KarvelonApi::hashUriString(const QString& text, const QString& key)
{
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(text.toLatin1(), key.toLatin1(), QCryptographicHash::Sha256).toHex());
}

QList<QPair<QString, QString>> KarvelonApi::parseSipAccounts(const QJsonObject& response)
{
    QStringList names = response.keys();
    // Member names order as text ("10" before "2"), whatever the service numbers them.
    std::sort(names.begin(), names.end());
    QList<QPair<QString, QString>> accounts;
    for (const QString& name : qAsConst(names)) {
        const QJsonObject account = response.value(name).toObject();
        accounts.append(qMakePair(jsonString(account, QStringLiteral("logname")),
                                  jsonString(account, QStringLiteral("SIPusername"))));
    }
    return accounts;
}

QJsonObject KarvelonApi::awaitResponse(QNetworkReply* reply, bool& ok, const QString& componentName)
{
    return awaitResponse(reply, ok, componentName, nullptr);
}

QJsonObject KarvelonApi::awaitResponse(QNetworkReply* reply, bool& ok, const QString& componentName,
                                       bool* bodyIsObject)
{
    if (bodyIsObject)
        *bodyIsObject = false;
    QJsonObject result;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setInterval(m_config.requestTimeoutMsecs);

    bool aborted = false;
    auto finish = [&loop, &timer, reply, &ok, &result, &aborted, bodyIsObject]() {
        loop.quit();
        if (!timer.isActive()) {
            // Timed out, or already judged: the reply's late news changes nothing.
            // Aborting re-enters these handlers, so it is done once only.
            if (!aborted) {
                aborted = true;
                reply->abort();
            }
            ok = false;
            return;
        }
        timer.stop();
        // A reported error fails the request whatever the body says, even when
        // the reply's own "finished" comes later than our loop waits for.
        if (reply->error() != QNetworkReply::NoError) {
            ok = false;
            return;
        }
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // Above 400 the body is not read at all.
        bool isObject = false;
        ok = judgeEnvelope(status, status > 400 ? QByteArray() : reply->readAll(), result, isObject);
        if (bodyIsObject)
            *bodyIsObject = isObject;
    };
    auto onError = [reply, componentName, finish](QNetworkReply::NetworkError code) {
        Logger::instance()->log(Logger::Error, componentName,
                                QStringLiteral("Fout opgetreden tijdens aanroepen API: %1 (%2)")
                                    .arg(reply->errorString())
                                    .arg(static_cast<int>(code)));
        finish();
    };
    auto onTimeout = [componentName, finish]() {
        Logger::instance()->log(Logger::Info, componentName, QStringLiteral("Timeout"));
        finish();
    };

    const QMetaObject::Connection timeoutConnection =
        connect(&timer, &QTimer::timeout, &loop, onTimeout, Qt::DirectConnection);
    const QMetaObject::Connection finishedConnection =
        connect(reply, &QNetworkReply::finished, &loop, finish, Qt::DirectConnection);
    const QMetaObject::Connection errorConnection =
        connect(reply, &QNetworkReply::errorOccurred, &loop, onError, Qt::DirectConnection);

    timer.start();
    if (reply->isFinished()) {
        // Finished before we could listen (e.g. refused at once): judge it now.
        if (reply->error() != QNetworkReply::NoError)
            onError(reply->error());
        finish();
    } else {
        const int exitCode = loop.exec();
        qDebug() << "awaitResponse: event loop ended with" << exitCode;
    }
    Logger::instance()->log(Logger::Debug, QString(), QStringLiteral("Done"));

    disconnect(timeoutConnection);
    disconnect(finishedConnection);
    disconnect(errorConnection);
    return result;
}

bool KarvelonApi::judgeEnvelope(int httpStatus, const QByteArray& body, QJsonObject& response, bool& bodyIsObject)
{
    response = QJsonObject();
    bodyIsObject = false;
    if (httpStatus > 400)
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(body);
    response = document.object();
    bodyIsObject = document.isObject();
    if (!response.contains(QStringLiteral("head")))
        return true;
    const QJsonObject head = response.value(QStringLiteral("head")).toObject();
    const QJsonObject payload = response.value(QStringLiteral("body")).toObject();
    if (!jsonString(head, QStringLiteral("error_message")).isEmpty())
        return false;
    return jsonString(payload, QStringLiteral("error_message")).isEmpty();
}

QString KarvelonApi::errorDescription(QNetworkReply* reply, const QJsonObject& response) const
{
    if (reply->error() != QNetworkReply::NoError)
        return reply->errorString();
    return describeFailure(QString(), response);
}

QString KarvelonApi::describeFailure(const QString& networkError, const QJsonObject& response)
{
    if (!networkError.isEmpty())
        return networkError;
    const QJsonObject head = response.value(QStringLiteral("head")).toObject();
    const QJsonObject body = response.value(QStringLiteral("body")).toObject();
    const QString headMessage = jsonString(head, QStringLiteral("error_message"));
    if (!headMessage.isEmpty())
        return QStringLiteral("%1: %2").arg(jsonString(head, QStringLiteral("error_number")), headMessage);
    return QStringLiteral("%1: %2").arg(jsonString(body, QStringLiteral("error_number")),
                                       jsonString(body, QStringLiteral("error_message")));
}

void KarvelonApi::onSslError(QNetworkReply* /*reply*/, const QList<QSslError>& e)
{
    // Never ignored: the request goes on to fail; the reason is what the user's log needs.
    QString reasons;
    for (const QSslError& error : e)
        reasons += error.errorString();
    Logger::instance()->log(Logger::Warning, QStringLiteral("API"),
                            QStringLiteral("Kon geen verbinding met API maken. Foutmelding: %1").arg(reasons));
}

void KarvelonApi::call(const QString& number, SourceType::Type source, const QString& sipAccountId)
{
    const SourceType::Row& src = SourceType::row(source);
    // A source without credentials of its own dials with the click-to-dial ones.
    const QString group = src.group.isEmpty() ? kClickToDialGroup : src.group;
    const QString apiId = settingString(group, kId);
    const QString key = settingString(group, kKey);
    const QString defaultSip = settingString(group, kDefaultSip);
    const QString sipAccount = sipAccountId.isEmpty() ? defaultSip : sipAccountId;
    const QString digits = PhoneNumber::dialledDigits(number);

    UrlHelper params;
    addRequestParameters(params, src.options, apiId, sipAccount, digits);
    const QString url = signedRequestUrl(m_config.apiBaseUrl, params, src.script, key, {kOptions});

    Logger* log = Logger::instance();
    log->log(Logger::Debug, QString(), UrlHelper::maskedForLog(url));
    log->log(Logger::Info, src.component, QStringLiteral("Gesprek initieren naar: %1").arg(digits));

    QNetworkReply* reply = m_networkAccessManager->get(QNetworkRequest(QUrl(url, QUrl::TolerantMode)));
    bool ok = false;
    const QJsonObject response = awaitResponse(reply, ok, src.component);
    if (ok) {
        emit callInitiated(true);
    } else {
        emit callInitiated(false);
        log->log(Logger::Error, src.component,
                 QStringLiteral("Kon gesprek niet starten. Fout: %1").arg(errorDescription(reply, response)));
    }
    emit callAttempted(number, source, ok);
    reply->deleteLater();
}

QList<QPair<QString, QString>> KarvelonApi::listSipAccounts(SourceType::Type source)
{
    bool ok = false;
    return listSipAccounts(source, ok);
}

QList<QPair<QString, QString>> KarvelonApi::listSipAccounts(SourceType::Type source, bool& ok)
{
    const SourceType::Row* used = &SourceType::row(SourceType::ClickToDial);
    if (source != SourceType::ClickToDial) {
        // The plug-ins from the requested one on stand in for it; the last one
        // tried is used when none has an id.
        bool started = source == SourceType::AnyPlugin;
        for (SourceType::Type plugin : SourceType::plugins()) {
            started = started || plugin == source;
            if (!started)
                continue;
            used = &SourceType::row(plugin);
            if (!settingString(used->group, kId).isEmpty())
                break;
        }
    }
    const QString apiId = settingString(used->group, kId);
    const QString key = settingString(used->group, kKey);
    const QString options = used->options;
    // A plug-in's requests are logged under its "options" value.
    const QString component = options.isEmpty() ? used->component : options;
    const QString script = used->script;

    Logger* log = Logger::instance();
    log->log(Logger::Info, component, QStringLiteral("SIP accounts ophalen voor '%1' met key '%2'").arg(component, apiId));

    UrlHelper params;
    addRequestParameters(params, options, apiId, QStringLiteral("0"), QStringLiteral("0"));
    const QString url = signedRequestUrl(m_config.apiBaseUrl, params, script, key,
                                         {QStringLiteral("filter"), kOptions});
    log->log(Logger::Debug, QString(), UrlHelper::maskedForLog(url));

    // Runs in the caller's thread: a manager of its own there, and the TLS
    // report logged directly (it touches no state of this object).
    QNetworkAccessManager manager;
    connect(&manager, &QNetworkAccessManager::sslErrors, this, &KarvelonApi::onSslError, Qt::DirectConnection);
    QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(url, QUrl::TolerantMode)));
    ok = false;
    bool bodyIsObject = false;
    const QJsonObject response = awaitResponse(reply, ok, component, &bodyIsObject);

    QList<QPair<QString, QString>> accounts;
    if (ok && !bodyIsObject) {
        // A list always comes as a JSON object (an empty one for no accounts).
        // Anything else is a broken answer, not "no accounts": callers must not
        // take it as a reason to drop the stored ones.
        ok = false;
        log->log(Logger::Error, component,
                 QStringLiteral("Kon SIP accounts niet ophalen, fout: %1").arg(QStringLiteral("ongeldig antwoord")));
    } else if (!ok) {
        log->log(Logger::Error, component,
                 QStringLiteral("Kon SIP accounts niet ophalen, fout: %1").arg(errorDescription(reply, response)));
    } else {
        accounts = parseSipAccounts(response);
        QString names;
        for (const auto& account : qAsConst(accounts))
            names += account.first + QStringLiteral(", ");
        log->log(Logger::Info, component, QStringLiteral("SIP accounts opgehaald: %1").arg(names));
    }
    delete reply;
    return accounts;
}
