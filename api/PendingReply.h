#pragma once

#include <QJsonObject>
#include <QList>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QTimer>

#include <functional>

// One web-API request on its way. It waits for the answer without holding up
// its thread (no nested event loop, so requests never wait behind each other),
// gives up after the time limit, judges the answer once and hands the verdict
// to the caller. The watch lives beside the reply, as a child of the access
// manager that sent it: when that goes, both go, and nothing is called.
class PendingReply : public QObject
{
    Q_OBJECT

public:
    struct Outcome
    {
        bool ok = false;
        QJsonObject response;  // the body's top-level JSON object, empty when there is none
        bool bodyIsObject = false;
        int httpStatus = 0;    // 0 without an HTTP answer
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QList<QSslError::SslError> sslErrors;
        QString failure;       // for a failure log line: the network error, else "number: message"
    };
    using Done = std::function<void(const Outcome&)>;

    // Follows reply until it is judged or timeoutMsecs have passed, logging
    // under component as every request does; done runs once, afterwards, on
    // the reply's thread. The reply is deleted after done has run.
    static PendingReply* start(QNetworkReply* reply, int timeoutMsecs, const QString& component, Done done);

    // Drops the request: it is aborted and done is never called.
    void cancel();

    ~PendingReply() override;

private:
    PendingReply(QNetworkReply* reply, int timeoutMsecs, const QString& component, Done done);
    Q_DISABLE_COPY(PendingReply)

    void onError(QNetworkReply::NetworkError code);
    void onTimeout();
    void finish(bool timedOut);
    void release();

    QPointer<QNetworkReply> m_reply;
    QTimer m_timer;
    QString m_component;
    Done m_done;
    QList<QSslError::SslError> m_sslErrors;
    bool m_finished = false;
};
