#pragma once

#include "ServiceConfig.h"
#include "SipAccountList.h"
#include "SourceType.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslError>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class SecretStore;

// The program's client of the hosted telephone service's web API: signed
// requests that set up calls and fetch the SIP account lists. Lives on a
// worker thread of its own; every request runs side by side with the others
// and reports through a signal once it is judged, so nothing waits behind
// anything else. The password and keys come from the secret store; a request
// made before it has loaded waits for it.
class KarvelonApi : public QObject
{
    Q_OBJECT

public:
    // secrets: not owned; outlives this object.
    KarvelonApi(const ServiceConfig& config, SecretStore* secrets, QObject* parent = nullptr);
    ~KarvelonApi() override;

    static QString hashPassword(const QString& password, int mode);
    static QString hashUriString(const QString& text, const QString& key);

    const ServiceConfig& config() const { return m_config; }

    // The customer's SIP accounts in a successful list reply, as (display name, id),
    // ordered by member name compared as text.
    static SipAccountList parseSipAccounts(const QJsonObject& response);
    // The verdict on a reply that reported no network error: its HTTP status (0 when
    // there is none) and body. Fills response with the body's top-level JSON object
    // (empty when it is none) and bodyIsObject with whether it was one; false when the
    // status is above 400 or the envelope's "head" (or, failing that, "body") carries
    // an "error_message".
    static bool judgeEnvelope(int httpStatus, const QByteArray& body, QJsonObject& response, bool& bodyIsObject);
    // The text for a failure log line: the network error when there is one (non-empty
    // networkError), otherwise "number: message" from the envelope.
    static QString describeFailure(const QString& networkError, const QJsonObject& response);

signals:
    // Once per call(), when the service has answered or the request failed.
    void callFinished(quint64 callId, bool success);
    // Once per fetchSipAccounts(). ok is false when no usable list came back:
    // an empty list is then no reason to drop the accounts kept so far.
    void sipAccountsFetched(SourceType::Type source, bool ok, const SipAccountList& accounts);

public slots:
    // Asks the service to ring the SIP account sipAccountId and then number,
    // with the credentials of source. callId comes back with the outcome.
    void call(quint64 callId, const QString& number, SourceType::Type source, const QString& sipAccountId);
    void fetchSipAccounts(SourceType::Type source);
    void onSslError(QNetworkReply* reply, const QList<QSslError>& e);

private:
    Q_DISABLE_COPY(KarvelonApi)

    // Made on first use, so that it belongs to the thread the client works on.
    QNetworkAccessManager* manager();

    QNetworkAccessManager* m_networkAccessManager = nullptr;
    const ServiceConfig m_config;
    SecretStore* const m_secrets;
};
