#pragma once

#include "ServiceConfig.h"
#include "SourceType.h"

#include <QAtomicInteger>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslError>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <atomic>

class QNetworkAccessManager;
class QNetworkReply;
class ConnectionSupervisor;
class SocketIO;
class WakeWatcher;

// The program's single client of the hosted telephone service: signed web-API
// requests (call set-up, SIP account lists) and the incoming-call
// notification channel. Lives on its own worker thread.
class KarvelonApi : public QObject
{
    Q_OBJECT

public:
    // What the user is told about the notification channel.
    enum NotificationState {
        NotificationsOff,
        NotificationsConnected,
        NotificationsRetrying, // the next attempt follows by itself
        NotificationsDisabled, // refused: waits for the settings or "Verbinden"
    };
    Q_ENUM(NotificationState)

    explicit KarvelonApi(const ServiceConfig& config = ServiceConfig(), QObject* parent = nullptr);
    ~KarvelonApi() override;

    static KarvelonApi* instance();

    static QString hashPassword(const QString& password, int mode);
    static QString hashUriString(const QString& text, const QString& key);

    // Runs in the caller's thread with an access manager of its own.
    QList<QPair<QString, QString>> listSipAccounts(SourceType::Type source);
    // Same, and tells whether the service answered successfully (an empty list
    // can then mean "no accounts" rather than "failed").
    QList<QPair<QString, QString>> listSipAccounts(SourceType::Type source, bool& ok);

    // Safe to call from any thread.
    bool isNotificationSocketConnected() const;

    const ServiceConfig& config() const { return m_config; }

    // --- request side (api/) ---
    // The customer's SIP accounts in a successful list reply, as (display name, id),
    // ordered by member name compared as text.
    static QList<QPair<QString, QString>> parseSipAccounts(const QJsonObject& response);
    // The verdict on a reply that reported no network error: its HTTP status (0 when
    // there is none) and body. Fills response with the body's top-level JSON object
    // (empty when it is none) and bodyIsObject with whether it was one; false when the
    // status is above 400 or the envelope's "head" (or, failing that, "body") carries
    // an "error_message".
    static bool judgeEnvelope(int httpStatus, const QByteArray& body, QJsonObject& response, bool& bodyIsObject);
    // The text for a failure log line: the network error when there is one (non-empty
    // networkError), otherwise "number: message" from the envelope.
    static QString describeFailure(const QString& networkError, const QJsonObject& response);
    // --- end of request side ---

signals:
    void callInitiated(bool success);
    // Right after callInitiated: which call it was (the number as it was asked for).
    void callAttempted(const QString& number, SourceType::Type source, bool success);
    // callerId is the caller as shown ("contact (number)" or the number);
    // callerNumber and contact are the service's "callerID" and "contact".
    void incomingCall(const QString& callerId, const QString& dId, const QString& displayText,
                      const QString& callerNumber, const QString& contact);
    void showUserNotification(bool isError, const QString& msg);
    void notificationSocketConnectionChanged(bool connected);
    // retryInSecs: when NotificationsRetrying, the seconds until the next attempt.
    void notificationStateChanged(KarvelonApi::NotificationState state, int retryInSecs);

public slots:
    bool startNotificationSocket();
    bool stopNotificationSocket();
    void onSettingsUpdated();
    void call(const QString& number, SourceType::Type source, const QString& sipAccountId = QString());
    void onSslError(QNetworkReply* reply, const QList<QSslError>& e);

private:
    Q_DISABLE_COPY(KarvelonApi)

    QJsonObject awaitResponse(QNetworkReply* reply, bool& ok, const QString& componentName);
    // Same; bodyIsObject tells whether the body was a JSON object at all.
    QJsonObject awaitResponse(QNetworkReply* reply, bool& ok, const QString& componentName, bool* bodyIsObject);
    QString errorDescription(QNetworkReply* reply, const QJsonObject& response) const;

    bool initNotificationSocket();
    void registerNotificationChannel(bool replace);
    void onSupervisorStateChanged(int state);
    void notificationSocketAuthentication(const QJsonObject& data);
    void notificationSocketNotification(const QJsonObject& data);
    void notificationSocketDisconnected(const QJsonObject& data);
    void setNotificationSocketConnected(bool connected);
    // Releases the notification client; called by the destructor.
    void destroyNotificationChannel();

    QNetworkAccessManager* m_networkAccessManager = nullptr;
    SocketIO* m_socketIO = nullptr;
    ConnectionSupervisor* m_supervisor = nullptr;
    WakeWatcher* m_wakeWatcher = nullptr;
    QString m_wsKey;
    QString m_wsUsername;
    int m_wsKeyUses = 0; // "register" frames sent with the current key

    const ServiceConfig m_config;
    QAtomicInteger<int> m_socketConnected{0};

    // Set by the constructor on the web-service thread, read from any thread.
    static std::atomic<KarvelonApi*> m_instance;
};
