#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The ordered parameters of one web-API request. Renders the query text that
// goes on the wire and the plain concatenation that is signed.
class UrlHelper : public QList<QPair<QString, QString>>
{
public:
    // Appends the pair; every whitespace character is removed from the value.
    void addKeyValue(const QString& key, const QString& value);
    void removeKey(const QString& key);
    QString value(const QString& key) const;
    QString operator[](const QString& key) const;

    // Signing text: keys and values concatenated raw, in order.
    QString toConcatenatedString(const QStringList& excludedKeys = QStringList()) const;
    // Query (or form) text: "key=value" joined by "&", keys and values
    // percent-encoded as UTF-8 except for RFC 3986 unreserved characters, so
    // ordinary parameters read exactly as written.
    QString toUrl(const QStringList& excludedKeys = QStringList()) const;

    // A request URL fit for the log: the value of every "pwd" parameter is
    // replaced by "***" (the digest is as good as the password to the service).
    static QString maskedForLog(const QString& url);
};
