#include "WanIpResolver.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegExp>
#include <QTimer>

#include <memory>

namespace {

QString textOf(const QByteArray& bytes)
{
    const int end = bytes.indexOf('\0');
    return QString::fromUtf8(end < 0 ? bytes : bytes.left(end));
}

bool fetch(QNetworkAccessManager& manager, const QUrl& url, int timeoutMsecs, QByteArray& data)
{
    if (!url.isValid() || url.isEmpty())
        return false;
    QNetworkReply* reply = manager.get(QNetworkRequest(url));
    const bool ok = WanIpResolver::awaitReply(reply, data, timeoutMsecs);
    reply->deleteLater();
    return ok;
}

} // namespace

QString WanIpResolver::resolveWanIp(const QUrl& htmlUrl, const QUrl& textUrl, int timeoutMsecs)
{
    QNetworkAccessManager manager;
    QString address;

    QByteArray html;
    if (fetch(manager, htmlUrl, timeoutMsecs, html))
        address = addressFromHtml(html);

    // The plain-text service has the last word when it answers; when the HTML
    // service gave nothing it is the only chance left.
    QByteArray text;
    if (fetch(manager, textUrl, timeoutMsecs, text)) {
        const QString plain = addressFromText(text).simplified();
        if (!plain.isEmpty())
            address = plain;
    }

    return address.simplified();
}

bool WanIpResolver::awaitReply(QNetworkReply* reply, QByteArray& data, int timeoutMsecs)
{
    if (!reply)
        return false;

    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    bool result = false;
    bool done = false;

    auto finish = [&]() {
        if (done)
            return;
        done = true;
        loop.quit();
        limit.stop();
        // A reply that reports an error is ending already; aborting it again
        // only upsets the network layer.
        if (reply->error() == QNetworkReply::NoError) {
            result = true;
            data = reply->readAll();
        }
    };
    const QMetaObject::Connection finished = QObject::connect(reply, &QNetworkReply::finished, finish);
    const QMetaObject::Connection failed = QObject::connect(reply, &QNetworkReply::errorOccurred, finish);
    // A stalled service must not hold up the registration for good: past the
    // limit the request is cancelled and counts as failed.
    const QMetaObject::Connection expired = QObject::connect(&limit, &QTimer::timeout, [&]() {
        if (done)
            return;
        done = true;
        loop.quit();
        reply->abort();
    });

    if (reply->isFinished()) {
        finish();
    } else {
        if (timeoutMsecs > 0)
            limit.start(timeoutMsecs);
        loop.exec();
    }

    QObject::disconnect(finished);
    QObject::disconnect(failed);
    QObject::disconnect(expired);
    return result;
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
