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
    void addKeyValue(const QString& key, const QString& value);
    void removeKey(const QString& key);
    QString value(const QString& key) const;
    QString operator[](const QString& key) const;

    QString toConcatenatedString(const QStringList& excludedKeys = QStringList()) const;
    QString toUrl(const QStringList& excludedKeys = QStringList()) const;
};
