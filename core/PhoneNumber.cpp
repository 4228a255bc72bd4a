#include "PhoneNumber.h"

#include <cctype>

namespace PhoneNumber {

namespace {
bool isSeparator(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('/')
        || c == QLatin1Char('(') || c == QLatin1Char(')') || c == QChar(0x00a0);
}

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
} // namespace

QString fieldPattern()
{
    return QStringLiteral("\\+?[0-9 \\x00a0()./-]*");
}

QString normalized(const QString& text)
{
    const QString trimmed = text.trimmed();
    QString number;
    number.reserve(trimmed.size());
    bool digits = false;
    for (int i = 0; i < trimmed.size(); ++i) {
        const QChar c = trimmed.at(i);
        if (isAsciiDigit(c)) {
            number.append(c);
            digits = true;
        } else if (c == QLatin1Char('+')) {
            if (!number.isEmpty())
                return QString();
            number.append(c);
        } else if (c == QLatin1Char('(') && trimmed.midRef(i, 3) == QLatin1String("(0)")
                   && (number.startsWith(QLatin1Char('+')) || number.startsWith(QLatin1String("00")))
                   && number.size() > 2) {
            i += 2; // the trunk prefix of an international number
        } else if (!isSeparator(c)) {
            return QString();
        }
    }
    return digits ? number : QString();
}

QString dialledDigits(const QString& text)
{
    // A number read as every number is; anything else digit by digit.
    const QString readable = normalized(text);
    const QString& number = readable.isEmpty() ? text : readable;
    QString digits;
    int i = 0;
    while (i < number.size() && number.at(i).isSpace())
        ++i;
    if (i < number.size() && number.at(i) == QLatin1Char('+')) {
        digits = QStringLiteral("00");
        ++i;
    }
    for (; i < number.size(); ++i) {
        const QChar c = number.at(i);
        if (isAsciiDigit(c))
            digits.append(c);
    }
    return digits;
}

QString nationalForm(const QString& text)
{
    QString number = normalized(text);
    if (number.startsWith(QLatin1Char('+')))
        number.replace(0, 1, QStringLiteral("00"));
    const QString home = QStringLiteral("00") + QLatin1String(HomeCountryCode);
    if (number.startsWith(home) && number.size() > home.size())
        return QLatin1Char('0') + number.mid(home.size());
    return number;
}

QString percentDecoded(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    QByteArray decoded;
    decoded.reserve(bytes.size());
    for (int i = 0; i < bytes.size(); ++i) {
        const QByteArray hex = bytes.mid(i + 1, 2);
        bool ok = bytes.at(i) == '%' && hex.size() == 2 && isxdigit(uchar(hex.at(0))) && isxdigit(uchar(hex.at(1)));
        decoded.append(ok ? char(hex.toInt(&ok, 16)) : bytes.at(i));
        if (ok)
            i += 2;
    }
    return QString::fromUtf8(decoded);
}

} // namespace PhoneNumber
