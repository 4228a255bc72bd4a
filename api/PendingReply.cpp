#include "PendingReply.h"

#include "KarvelonApi.h"
#include "Logger.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>

PendingReply* PendingReply::start(QNetworkReply* reply, int timeoutMsecs, const QString& component, Done done)
{
    return new PendingReply(reply, timeoutMsecs, component, std::move(done));
}

PendingReply::PendingReply(QNetworkReply* reply, int timeoutMsecs, const QString& component, Done done)
    : QObject(reply->manager())
    , m_reply(reply)
    , m_component(component)
    , m_done(std::move(done))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(timeoutMsecs);
    connect(&m_timer, &QTimer::timeout, this, &PendingReply::onTimeout);
    connect(reply, &QNetworkReply::finished, this, [this]() { finish(false); });
    connect(reply, &QNetworkReply::errorOccurred, this, &PendingReply::onError);
    connect(reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError>& errors) {
        for (const QSslError& error : errors)
            m_sslErrors << error.error();
    });
    m_timer.start();
    // Refused at once, before anyone listened: judged from the event loop.
    if (reply->isFinished())
        QTimer::singleShot(0, this, [this]() {
            if (m_reply && m_reply->error() != QNetworkReply::NoError)
                onError(m_reply->error());
            finish(false);
        });
}

PendingReply::~PendingReply()
{
    // Gone with the access manager, or cancelled: the reply must not call back.
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        if (!m_finished)
            m_reply->abort();
    }
}

void PendingReply::cancel()
{
    m_finished = true;
    m_timer.stop();
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
    }
    release();
}

void PendingReply::onError(QNetworkReply::NetworkError code)
{
    if (m_finished || !m_reply)
        return;
    Logger::instance()->log(Logger::Error, m_component,
                            QStringLiteral("Fout opgetreden tijdens aanroepen API: %1 (%2)")
                                .arg(m_reply->errorString())
                                .arg(static_cast<int>(code)));
    finish(false);
}

void PendingReply::onTimeout()
{
    if (m_finished)
        return;
    Logger::instance()->log(Logger::Info, m_component, QStringLiteral("Timeout"));
    finish(true);
}

void PendingReply::finish(bool timedOut)
{
    if (m_finished || !m_reply)
        return;
    m_finished = true;
    m_timer.stop();
    // The verdict is given once: whatever the reply says later changes nothing.
    disconnect(m_reply, nullptr, this, nullptr);

    Outcome outcome;
    outcome.sslErrors = m_sslErrors;
    if (timedOut) {
        // Cancelled by us: the reply reports that, as any failed request does.
        m_reply->abort();
        Logger::instance()->log(Logger::Error, m_component,
                                QStringLiteral("Fout opgetreden tijdens aanroepen API: %1 (%2)")
                                    .arg(m_reply->errorString())
                                    .arg(static_cast<int>(m_reply->error())));
    } else {
        outcome.error = m_reply->error();
        outcome.httpStatus = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // A reported error fails the request whatever the body says; above 400 the body is not read.
        if (outcome.error == QNetworkReply::NoError) {
            const QByteArray body = outcome.httpStatus > 400 ? QByteArray() : m_reply->readAll();
            outcome.ok = KarvelonApi::judgeEnvelope(outcome.httpStatus, body, outcome.response, outcome.bodyIsObject);
        }
    }
    outcome.error = m_reply->error();
    outcome.failure = KarvelonApi::describeFailure(
        outcome.error != QNetworkReply::NoError ? m_reply->errorString() : QString(), outcome.response);
    Logger::instance()->log(Logger::Debug, QString(), QStringLiteral("Done"));

    const Done done = std::move(m_done);
    release();
    if (done)
        done(outcome);
}

void PendingReply::release()
{
    if (m_reply)
        m_reply->deleteLater();
    deleteLater();
}
