#include "UrlHelper.h"

#include <QRegularExpression>
#include <QUrl>

namespace {
QString encoded(const QString& text)
{
    // toPercentEncoding leaves exactly the unreserved set (ALPHA DIGIT - . _ ~) alone.
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}
} // namespace

void UrlHelper::addKeyValue(const QString& key, const QString& value)
{
    QString cleaned;
    cleaned.reserve(value.size());
    for (const QChar c : value) {
        if (!c.isSpace())
            cleaned.append(c);
    }
    append(qMakePair(key, cleaned));
}

void UrlHelper::removeKey(const QString& key)
{
    for (int i = size() - 1; i >= 0; --i) {
        if (at(i).first == key)
            removeAt(i);
    }
}

QString UrlHelper::value(const QString& key) const
{
    for (const auto& pair : *this) {
        if (pair.first == key)
            return pair.second;
    }
    return QString();
}

QString UrlHelper::operator[](const QString& key) const
{
    return value(key);
}

QString UrlHelper::toConcatenatedString(const QStringList& excludedKeys) const
{
    QString text;
    for (const auto& pair : *this) {
        if (excludedKeys.contains(pair.first))
            continue;
        text += pair.first;
        text += pair.second;
    }
    return text;
}

QString UrlHelper::toUrl(const QStringList& excludedKeys) const
{
    QString text;
    for (const auto& pair : *this) {
        if (excludedKeys.contains(pair.first))
            continue;
        if (!text.isEmpty())
            text += QLatin1Char('&');
        text += encoded(pair.first);
        text += QLatin1Char('=');
        text += encoded(pair.second);
    }
    return text;
}

QString UrlHelper::maskedForLog(const QString& url)
{
    static const QRegularExpression pwd(QStringLiteral("([?&]pwd=)[^&#]*"));
    QString masked = url;
    masked.replace(pwd, QStringLiteral("\\1***"));
    return masked;
}
