#include "KarvelonApi.h"

#include "Clock.h"
#include "Logger.h"
#include "PendingReply.h"
#include "PhoneNumber.h"
#include "SecretStore.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "UrlHelper.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QMetaType>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>

#include <algorithm>

namespace {

using namespace SettingsKeys;

const QString kOptions = QStringLiteral("options");

QString settingString(const QString& group, const QString& key)
{
    return Settings().get(group, key).toString();
}

// Why a request with the key of this group cannot be signed, empty when it can:
// nothing goes out with an empty password or key.
QString missingSecret(const SecretStore& secrets, const QString& group)
{
    const QString password = secrets.whyMissing(kCustomerGroup, kPassword);
    return password.isEmpty() ? secrets.whyMissing(group, kKey) : password;
}

// The customer part that every call and list request shares, in the service's order.
void addRequestParameters(UrlHelper& params, const SecretStore& secrets, const QString& options,
                          const QString& apiId, const QString& sipAccount, const QString& telnr)
{
    params.addKeyValue(kOptions, options);
    params.addKeyValue(QStringLiteral("apiID"), apiId);
    params.addKeyValue(QStringLiteral("knummer"), settingString(kCustomerGroup, kNumber));
    params.addKeyValue(QStringLiteral("pwd"), KarvelonApi::hashPassword(secrets.secret(kCustomerGroup, kPassword), 2));
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

KarvelonApi::KarvelonApi(const ServiceConfig& config, SecretStore* secrets, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_secrets(secrets)
{
    SourceType::registerMetaType();
    qRegisterMetaType<SipAccountList>("SipAccountList");
}

KarvelonApi::~KarvelonApi() = default;

QNetworkAccessManager* KarvelonApi::manager()
{
    if (!m_networkAccessManager) {
        m_networkAccessManager = new QNetworkAccessManager(this);
        connect(m_networkAccessManager, &QNetworkAccessManager::sslErrors, this, &KarvelonApi::onSslError);
    }
    return m_networkAccessManager;
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

SipAccountList KarvelonApi::parseSipAccounts(const QJsonObject& response)
{
    QStringList names = response.keys();
    // Member names order as text ("10" before "2"), whatever the service numbers them.
    std::sort(names.begin(), names.end());
    SipAccountList accounts;
    for (const QString& name : qAsConst(names)) {
        const QJsonObject account = response.value(name).toObject();
        accounts.append(qMakePair(jsonString(account, QStringLiteral("logname")),
                                  jsonString(account, QStringLiteral("SIPusername"))));
    }
    return accounts;
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

void KarvelonApi::call(quint64 callId, const QString& number, SourceType::Type source, const QString& sipAccountId)
{
    // Just after start-up the keyring may still be reading (or asking the user
    // to unlock it); the store ends that wait within its bound.
    if (!m_secrets->isLoaded())
        return m_secrets->whenLoaded(this, [=]() { call(callId, number, source, sipAccountId); });
    const SourceType::Row& src = SourceType::row(source);
    // A source without credentials of its own dials with the click-to-dial ones.
    const QString group = src.group.isEmpty() ? kClickToDialGroup : src.group;
    const QString digits = PhoneNumber::dialledDigits(number);
    Logger* log = Logger::instance();
    const QString missing = missingSecret(*m_secrets, group);
    if (!missing.isEmpty()) {
        log->log(Logger::Error, src.component, QStringLiteral("Kon gesprek niet starten. Fout: %1").arg(missing));
        emit callFinished(callId, false);
        return;
    }

    UrlHelper params;
    addRequestParameters(params, *m_secrets, src.options, settingString(group, kId), sipAccountId, digits);
    const QString url =
        signedRequestUrl(m_config.apiBaseUrl, params, src.script, m_secrets->secret(group, kKey), {kOptions});

    log->log(Logger::Debug, QString(), UrlHelper::maskedForLog(url));
    log->log(Logger::Info, src.component, QStringLiteral("Gesprek initieren naar: %1").arg(digits));

    QNetworkReply* reply = manager()->get(QNetworkRequest(QUrl(url, QUrl::TolerantMode)));
    const QString component = src.component;
    PendingReply::start(reply, m_config.requestTimeoutMsecs, component,
                        [this, callId, component](const PendingReply::Outcome& outcome) {
                            if (!outcome.ok)
                                Logger::instance()->log(
                                    Logger::Error, component,
                                    QStringLiteral("Kon gesprek niet starten. Fout: %1").arg(outcome.failure));
                            emit callFinished(callId, outcome.ok);
                        });
}

void KarvelonApi::fetchSipAccounts(SourceType::Type source)
{
    if (!m_secrets->isLoaded())
        return m_secrets->whenLoaded(this, [=]() { fetchSipAccounts(source); });
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
    const QString options = used->options;
    // A plug-in's requests are logged under its "options" value.
    const QString component = options.isEmpty() ? used->component : options;

    Logger* log = Logger::instance();
    log->log(Logger::Info, component, QStringLiteral("SIP accounts ophalen voor '%1' met key '%2'").arg(component, apiId));
    const QString missing = missingSecret(*m_secrets, used->group);
    if (!missing.isEmpty()) {
        log->log(Logger::Error, component, QStringLiteral("Kon SIP accounts niet ophalen, fout: %1").arg(missing));
        emit sipAccountsFetched(source, false, SipAccountList());
        return;
    }

    UrlHelper params;
    addRequestParameters(params, *m_secrets, options, apiId, QStringLiteral("0"), QStringLiteral("0"));
    const QString url = signedRequestUrl(m_config.apiBaseUrl, params, used->script, m_secrets->secret(used->group, kKey),
                                         {QStringLiteral("filter"), kOptions});
    log->log(Logger::Debug, QString(), UrlHelper::maskedForLog(url));

    QNetworkReply* reply = manager()->get(QNetworkRequest(QUrl(url, QUrl::TolerantMode)));
    PendingReply::start(reply, m_config.requestTimeoutMsecs, component,
                        [this, source, component](const PendingReply::Outcome& outcome) {
        Logger* log = Logger::instance();
        SipAccountList accounts;
        bool ok = outcome.ok;
        if (ok && !outcome.bodyIsObject) {
            // A list always comes as a JSON object (an empty one for no accounts).
            // Anything else is a broken answer, not "no accounts": the stored
            // ones must not be dropped for it.
            ok = false;
            log->log(Logger::Error, component,
                     QStringLiteral("Kon SIP accounts niet ophalen, fout: %1").arg(QStringLiteral("ongeldig antwoord")));
        } else if (!ok) {
            log->log(Logger::Error, component,
                     QStringLiteral("Kon SIP accounts niet ophalen, fout: %1").arg(outcome.failure));
        } else {
            accounts = parseSipAccounts(outcome.response);
            QString names;
            for (const auto& account : qAsConst(accounts))
                names += account.first + QStringLiteral(", ");
            log->log(Logger::Info, component, QStringLiteral("SIP accounts opgehaald: %1").arg(names));
        }
        emit sipAccountsFetched(source, ok, accounts);
    });
}
