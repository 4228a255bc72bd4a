#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

class QNetworkReply;

// Finds the public IPv4 address by asking what-is-my-address services over
// plain HTTP. Blocks its caller, but keeps the caller's thread's events flowing.
class WanIpResolver
{
public:
    static constexpr int DefaultTimeoutMsecs = 5000;

    // Asks the HTML service first; the plain-text service confirms (and replaces)
    // its answer, or stands in for it when the HTML service has none. Each request
    // may take at most timeoutMsecs; a request that takes longer counts as failed.
    static QString resolveWanIp(const QUrl& htmlUrl, const QUrl& textUrl, int timeoutMsecs = DefaultTimeoutMsecs);

    // Waits for the reply; true with its body in data when it ended without error
    // within timeoutMsecs (0 = no limit). data is left alone otherwise.
    static bool awaitReply(QNetworkReply* reply, QByteArray& data, int timeoutMsecs = DefaultTimeoutMsecs);

    // The address in an HTML answer such as "<body>Current IP Address: 192.0.2.7</body>":
    // only a body with exactly one colon has one.
    static QString addressFromHtml(const QByteArray& body);
    static QString addressFromText(const QByteArray& body);

private:
    WanIpResolver() = delete;
};
