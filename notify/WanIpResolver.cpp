#include "WanIpResolver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegExp>

namespace {
QString textOf(const QByteArray& bytes)
{
    const int end = bytes.indexOf('\0');
    return QString::fromUtf8(end < 0 ? bytes : bytes.left(end));
}
} // namespace

WanIpResolver::WanIpResolver(QNetworkAccessManager* manager, const QUrl& htmlUrl, const QUrl& textUrl,
                             int timeoutMsecs, QObject* parent)
    : QObject(parent)
    , m_manager(manager)
    , m_htmlUrl(htmlUrl)
    , m_textUrl(textUrl)
{
    m_limit.setSingleShot(true);
    m_limit.setInterval(timeoutMsecs);
    // A stalled service must not hold up the registration for good: past the
    // limit the request is cancelled and counts as failed.
    connect(&m_limit, &QTimer::timeout, this, [this]() { onAnswer(false, QByteArray()); });
}

WanIpResolver::~WanIpResolver()
{
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void WanIpResolver::start()
{
    m_askingText = false;
    m_address.clear();
    fetch(m_htmlUrl);
}

void WanIpResolver::fetch(const QUrl& url)
{
    if (!url.isValid() || url.isEmpty()) {
        // Judged from the event loop, as an answer would be.
        QTimer::singleShot(0, this, [this]() { onAnswer(false, QByteArray()); });
        return;
    }
    QNetworkReply* reply = m_manager->get(QNetworkRequest(url));
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply]() {
        // A reply that reports an error is ending already: it counts as failed.
        onAnswer(reply->error() == QNetworkReply::NoError, reply->readAll());
    });
    if (m_limit.interval() > 0)
        m_limit.start();
}

void WanIpResolver::onAnswer(bool ok, const QByteArray& body)
{
    m_limit.stop();
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        if (!m_reply->isFinished())
            m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    if (!m_askingText) {
        if (ok)
            m_address = addressFromHtml(body);
        // The plain-text service has the last word when it answers; when the
        // HTML service gave nothing it is the only chance left.
        m_askingText = true;
        fetch(m_textUrl);
        return;
    }
    if (ok) {
        const QString plain = addressFromText(body).simplified();
        if (!plain.isEmpty())
            m_address = plain;
    }
    emit resolved(m_address.simplified());
}

QString WanIpResolver::addressFromHtml(const QByteArray& body)
{
    const QList<QByteArray> pieces = body.split(':');
    if (pieces.size() != 2)
        return QString();
    QString address = textOf(pieces.at(1));
    address.remove(QRegExp(QStringLiteral("\\<[\\/\\w]+\\>")));
    return address.trimmed();
}

QString WanIpResolver::addressFromText(const QByteArray& body)
{
    return textOf(body);
}
