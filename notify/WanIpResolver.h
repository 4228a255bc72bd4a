#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Finds the public IPv4 address by asking what-is-my-address services over
// plain HTTP, without holding up its thread: the HTML service first, then the
// plain-text service, which confirms (and replaces) the answer or stands in
// for it. Each request may take at most timeoutMsecs; a request that takes
// longer counts as failed. resolved() comes once, with an empty text when
// neither service told.
class WanIpResolver : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTimeoutMsecs = 5000;

    // The requests go through manager, which is not owned.
    WanIpResolver(QNetworkAccessManager* manager, const QUrl& htmlUrl, const QUrl& textUrl,
                  int timeoutMsecs = DefaultTimeoutMsecs, QObject* parent = nullptr);
    ~WanIpResolver() override;

    void start();

    // The address in an HTML answer such as "<body>Current IP Address: 192.0.2.7</body>":
    // only a body with exactly one colon has one.
    static QString addressFromHtml(const QByteArray& body);
    static QString addressFromText(const QByteArray& body);

signals:
    void resolved(const QString& address);

private:
    Q_DISABLE_COPY(WanIpResolver)

    void fetch(const QUrl& url);
    void onAnswer(bool ok, const QByteArray& body);

    QNetworkAccessManager* m_manager;
    const QUrl m_htmlUrl;
    const QUrl m_textUrl;
    QPointer<QNetworkReply> m_reply;
    QTimer m_limit;
    bool m_askingText = false;
    QString m_address;
};
