#include "VCard.h"

#include <QTextCodec>
#include <QUrl>

namespace VCard {

namespace {

// RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF. A NUL byte is no text either.
bool isValidUtf8(const QByteArray& bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
    const int size = bytes.size();
    int i = 0;
    while (i < size) {
        const unsigned char c = s[i];
        if (c >= 0x01 && c < 0x80) {
            ++i;
            continue;
        }
        int extra = 0;
        char32_t point = 0;
        char32_t least = 0;
        if (c >= 0xc2 && c <= 0xdf) {
            extra = 1, point = c & 0x1fu, least = 0x80;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2, point = c & 0x0fu, least = 0x800;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3, point = c & 0x07u, least = 0x10000;
        } else {
            return false;
        }
        if (size - i <= extra)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xc0) != 0x80)
                return false;
            point = (point << 6) | (s[i + k] & 0x3fu);
        }
        if (point < least || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
            return false;
        i += extra + 1;
    }
    return true;
}

bool isBlank(const QByteArray& line)
{
    for (const char c : line) {
        if (c != ' ' && c != '\t' && c != '\r')
            return false;
    }
    return true;
}

// Whether a line's name and parameters (what comes before the first colon) ask for quoted-printable.
bool isQuotedPrintable(const QByteArray& line)
{
    const int colon = line.indexOf(':');
    return line.left(colon < 0 ? line.size() : colon).toUpper().contains("QUOTED-PRINTABLE");
}

// The text cut into logical lines: folded lines joined (on bytes, so a fold inside a UTF-8 sequence is harmless).
class Lines
{
public:
    explicit Lines(const QByteArray& text) : m_text(text)
    {
        if (m_text.startsWith("\xEF\xBB\xBF")) // a byte-order mark, as some exporters write
            m_pos = 3;
    }

    // The next logical line and the number of its first physical line; false at the end.
    bool next(QByteArray& line, int& number)
    {
        if (m_pos >= m_text.size())
            return false;
        number = m_number + 1;
        line = takePhysical();
        while (m_pos < m_text.size()) {
            const char c = m_text.at(m_pos);
            if (c == ' ' || c == '\t') {
                ++m_pos;
                line += takePhysical();
            } else if (line.endsWith('=') && isQuotedPrintable(line)) {
                line.chop(1); // a soft line break
                line += takePhysical();
            } else {
                break;
            }
        }
        return true;
    }

private:
    QByteArray takePhysical()
    {
        int end = m_text.indexOf('\n', m_pos);
        if (end < 0)
            end = m_text.size();
        int stop = end;
        while (stop > m_pos && m_text.at(stop - 1) == '\r')
            --stop;
        QByteArray line = m_text.mid(m_pos, stop - m_pos);
        m_pos = end + 1;
        ++m_number;
        return line;
    }

    const QByteArray& m_text;
    int m_pos = 0;
    int m_number = 0;
};

struct Property
{
    QByteArray name;    // upper case, without its group
    QByteArray value;   // as written
    QByteArray charset; // upper case; empty for UTF-8
    bool quotedPrintable = false;
    bool uri = false;
};

bool isNameCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

QByteArray unquoted(const QByteArray& value)
{
    return value.size() >= 2 && value.startsWith('"') && value.endsWith('"') ? value.mid(1, value.size() - 2) : value;
}

void takeParameter(const QByteArray& parameter, Property& property)
{
    const int equals = parameter.indexOf('=');
    const QByteArray key = (equals < 0 ? QByteArray() : parameter.left(equals)).trimmed().toUpper();
    const QByteArray value = unquoted((equals < 0 ? parameter : parameter.mid(equals + 1)).trimmed()).toUpper();
    if (value == "QUOTED-PRINTABLE" && (key.isEmpty() || key == "ENCODING"))
        property.quotedPrintable = true;
    else if (key == "CHARSET")
        property.charset = value == "UTF-8" || value == "UTF8" ? QByteArray() : value;
    else if (key == "VALUE")
        property.uri = value == "URI";
}

// name *(";" parameter) ":" value, the name perhaps behind a group ("item1.TEL"). False for anything else.
bool parseProperty(const QByteArray& line, Property& property)
{
    const int size = line.size();
    int i = 0;
    while (i < size && isNameCharacter(line.at(i)))
        ++i;
    if (i == 0 || i == size || (line.at(i) != ';' && line.at(i) != ':'))
        return false;
    const QByteArray name = line.left(i);
    property.name = name.mid(name.lastIndexOf('.') + 1).toUpper();
    if (property.name.isEmpty())
        return false;
    while (line.at(i) == ';') {
        const int start = ++i;
        bool quoted = false;
        while (i < size && (quoted || (line.at(i) != ';' && line.at(i) != ':'))) {
            if (line.at(i) == '"')
                quoted = !quoted;
            ++i;
        }
        if (i == size)
            return false;
        takeParameter(line.mid(start, i - start), property);
    }
    property.value = line.mid(i + 1);
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray decodeQuotedPrintable(const QByteArray& in)
{
    QByteArray out;
    out.reserve(in.size());
    for (int i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c == '=' && i + 2 < in.size() && hexValue(in.at(i + 1)) >= 0 && hexValue(in.at(i + 2)) >= 0) {
            out.append(char(hexValue(in.at(i + 1)) * 16 + hexValue(in.at(i + 2))));
            i += 2;
        } else if (c != '=' || i + 1 < in.size()) {
            out.append(c); // a lone "=" at the end is a soft break
        }
    }
    return out;
}

QString decodedText(const Property& property)
{
    const QByteArray bytes = property.quotedPrintable ? decodeQuotedPrintable(property.value) : property.value;
    if (property.charset.isEmpty())
        return QString::fromUtf8(bytes);
    const QTextCodec* codec = QTextCodec::codecForName(property.charset);
    return codec ? codec->toUnicode(bytes) : QString::fromLatin1(bytes);
}

// The parts of a structured value between unescaped separators, still escaped.
QStringList splitEscaped(const QString& text, QChar separator)
{
    QStringList parts;
    int start = 0;
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\\')) {
            ++i;
        } else if (text.at(i) == separator) {
            parts.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    parts.append(text.mid(start));
    return parts;
}

QString unescaped(const QString& text)
{
    if (!text.contains(QLatin1Char('\\')))
        return text;
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            c = text.at(++i);
            if (c == QLatin1Char('n') || c == QLatin1Char('N'))
                c = QLatin1Char('\n');
        }
        out.append(c);
    }
    return out;
}

QString joined(const QStringList& parts)
{
    QStringList filled;
    for (const QString& part : parts) {
        if (!part.isEmpty())
            filled.append(part);
    }
    return filled.join(QLatin1Char(' '));
}

// N is family;given;additional;prefixes;suffixes, each perhaps a comma-separated list.
QString nameFromN(const QString& value)
{
    QStringList parts = splitEscaped(value, QLatin1Char(';'));
    while (parts.size() < 5)
        parts.append(QString());
    QStringList words;
    for (const int index : {3, 1, 2, 0, 4}) {
        QStringList items = splitEscaped(parts.at(index), QLatin1Char(','));
        for (QString& item : items)
            item = unescaped(item);
        words.append(joined(items));
    }
    return oneLine(joined(words));
}

QString telNumber(const Property& property)
{
    const QString text = unescaped(decodedText(property)).trimmed();
    if (text.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive)) {
        QString number = text.mid(4);
        number.truncate(number.indexOf(QLatin1Char(';')) < 0 ? number.size() : number.indexOf(QLatin1Char(';')));
        if (number.contains(QLatin1Char('%')))
            number = QUrl::fromPercentEncoding(number.toUtf8());
        return number.trimmed();
    }
    return property.uri ? QString() : text;
}

bool isVCardWord(const QByteArray& value)
{
    return value.trimmed().toUpper() == "VCARD";
}

} // namespace

QString oneLine(QString text)
{
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Separator_Line ||
            c.category() == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    return text.simplified();
}

ReadResult read(const QByteArray& text)
{
    ReadResult result;
    const auto damage = [&result](int line) {
        if (result.damagedLine == 0 || line < result.damagedLine)
            result.damagedLine = line;
    };
    Lines lines(text);
    QByteArray line;
    int number = 0;
    bool inCard = false;
    int nested = 0; // an AGENT's card inside the card
    int cardLine = 0;
    QString fullName, structuredName, organisation;
    QStringList numbers;
    while (lines.next(line, number)) {
        if (isBlank(line))
            continue;
        Property property;
        if (!parseProperty(line, property) || (property.charset.isEmpty() && !isValidUtf8(line))) {
            damage(number);
            continue;
        }
        const QByteArray& name = property.name;
        if (name == "BEGIN" && isVCardWord(property.value)) {
            if (inCard) {
                ++nested;
            } else {
                inCard = true;
                cardLine = number;
                fullName.clear(), structuredName.clear(), organisation.clear(), numbers.clear();
            }
        } else if (name == "END" && isVCardWord(property.value)) {
            if (nested > 0) {
                --nested;
            } else if (inCard) {
                inCard = false;
                const QString& shown = !fullName.isEmpty()         ? fullName
                                       : !structuredName.isEmpty() ? structuredName
                                                                   : organisation;
                result.contacts.append(Contact{shown, numbers});
            } else {
                damage(number);
            }
        } else if (!inCard) {
            damage(number);
        } else if (nested > 0) {
            continue;
        } else if (name == "TEL") {
            const QString tel = telNumber(property);
            if (!tel.isEmpty())
                numbers.append(tel);
        } else if (name == "FN" && fullName.isEmpty()) {
            fullName = oneLine(unescaped(decodedText(property)));
        } else if (name == "N" && structuredName.isEmpty()) {
            structuredName = nameFromN(decodedText(property));
        } else if (name == "ORG" && organisation.isEmpty()) {
            organisation = oneLine(unescaped(splitEscaped(decodedText(property), QLatin1Char(';')).first()));
        }
    }
    if (inCard)
        damage(cardLine);
    return result;
}

} // namespace VCard
