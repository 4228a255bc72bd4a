#include "StoredSipAccounts.h"

#include "SipAccount.h"

#include <QDataStream>
#include <QList>

namespace StoredSipAccounts {

namespace {

// Type ids that a Qt 4.0 variant stream (the version QSettings writes) uses.
constexpr quint32 kVariantListTypeId = 9;
constexpr quint32 kUserTypeId = 127;
const QByteArray kTypeName = QByteArrayLiteral("SipAccount");
const QString kVariantPrefix = QStringLiteral("@Variant(");

bool isHexDigit(ushort ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

int hexValue(ushort ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    return ch - 'A' + 10;
}

} // namespace

namespace {

// Index of the line holding `key` in `[section]`, -1 when there is none.
int findIniLine(const QList<QByteArray>& lines, const QString& section, const QString& key)
{
    const QByteArray wantedSection = section.toUtf8();
    const QByteArray wantedKey = key.toUtf8();
    QByteArray currentSection;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            const int end = line.indexOf(']');
            currentSection = end > 0 ? line.mid(1, end - 1).trimmed() : QByteArray();
            continue;
        }
        if (currentSection != wantedSection)
            continue;
        const int eq = line.indexOf('=');
        if (eq > 0 && line.left(eq).trimmed() == wantedKey)
            return i;
    }
    return -1;
}

} // namespace

QByteArray findIniValue(const QByteArray& iniText, const QString& section, const QString& key, bool& found)
{
    const QList<QByteArray> lines = iniText.split('\n');
    const int index = findIniLine(lines, section, key);
    found = index >= 0;
    if (!found)
        return QByteArray();
    const QByteArray line = lines.at(index).trimmed();
    return line.mid(line.indexOf('=') + 1).trimmed();
}

QByteArray withoutIniValue(const QByteArray& iniText, const QString& section, const QString& key)
{
    QList<QByteArray> lines = iniText.split('\n');
    const int index = findIniLine(lines, section, key);
    if (index < 0)
        return iniText;
    lines.removeAt(index);
    return lines.join('\n');
}

QStringList unescapeIniValue(const QByteArray& raw, bool& isList)
{
    isList = false;
    const QString text = QString::fromUtf8(raw);
    const int size = text.size();
    QStringList items;
    QString current;
    bool inQuotes = false;
    bool quoted = false;
    // Characters from escapes are never chopped as trailing spaces.
    int chopLimit = 0;
    int i = 0;
    auto skipSpaces = [&] {
        while (i < size && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')))
            ++i;
    };
    auto chopTrailingSpaces = [&] {
        int end = current.size();
        while (end > chopLimit && (current.at(end - 1) == QLatin1Char(' ') || current.at(end - 1) == QLatin1Char('\t')))
            --end;
        current.truncate(end);
    };

    skipSpaces();
    while (i < size) {
        const ushort ch = text.at(i).unicode();
        if (ch == '\\') {
            ++i;
            if (i >= size)
                break;
            const ushort esc = text.at(i++).unicode();
            switch (esc) {
            case 'a': current += QLatin1Char('\a'); break;
            case 'b': current += QLatin1Char('\b'); break;
            case 'f': current += QLatin1Char('\f'); break;
            case 'n': current += QLatin1Char('\n'); break;
            case 'r': current += QLatin1Char('\r'); break;
            case 't': current += QLatin1Char('\t'); break;
            case 'v': current += QLatin1Char('\v'); break;
            case '"': case '?': case '\'': case '\\': current += QChar(esc); break;
            case 'x': {
                if (i >= size || !isHexDigit(text.at(i).unicode()))
                    break; // a bare \x stands for nothing
                uint value = 0;
                while (i < size && isHexDigit(text.at(i).unicode()))
                    value = (value << 4) + uint(hexValue(text.at(i++).unicode()));
                current += QChar(ushort(value));
                break;
            }
            default:
                if (esc >= '0' && esc <= '7') {
                    uint value = esc - '0';
                    while (i < size && text.at(i).unicode() >= '0' && text.at(i).unicode() <= '7')
                        value = (value << 3) + uint(text.at(i++).unicode() - '0');
                    current += QChar(ushort(value));
                }
                // any other escaped character is skipped
                break;
            }
            chopLimit = current.size();
        } else if (ch == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipSpaces();
        } else if (ch == ',' && !inQuotes) {
            if (!quoted)
                chopTrailingSpaces();
            isList = true;
            items.append(current);
            current.clear();
            chopLimit = 0;
            quoted = false;
            ++i;
            skipSpaces();
        } else {
            current += QChar(ch);
            ++i;
        }
    }
    if (!quoted)
        chopTrailingSpaces();
    items.append(current);
    return items;
}

namespace {

// The bytes of an "@Variant(...)" text; false when the text is not one.
bool variantBytes(const QString& text, QByteArray& bytes)
{
    if (!text.startsWith(kVariantPrefix) || !text.endsWith(QLatin1Char(')')))
        return false;
    bytes = text.mid(kVariantPrefix.size()).toLatin1();
    bytes.chop(1);
    return true;
}

// One variant holding a SipAccount: user type, type name, the record.
bool readAccountVariant(QDataStream& in, SipAccount& account)
{
    quint32 typeId = 0;
    quint32 nameLength = 0;
    in >> typeId >> nameLength;
    if (in.status() != QDataStream::Ok || typeId != kUserTypeId || nameLength != quint32(kTypeName.size() + 1))
        return false;
    QByteArray name(int(nameLength), Qt::Uninitialized);
    if (in.readRawData(name.data(), name.size()) != name.size() || name.back() != '\0'
        || name.chopped(1) != kTypeName)
        return false;
    in >> account;
    return in.status() == QDataStream::Ok;
}

} // namespace

ParseResult parseTexts(const QStringList& texts, bool isList)
{
    ParseResult result;
    if (!isList) {
        const QString& text = texts.value(0);
        if (text == QLatin1String("@Invalid()")) {
            result.isVariant = true;
            result.complete = true;
            return result;
        }
        QByteArray bytes;
        if (!variantBytes(text, bytes))
            return result;
        result.isVariant = true;
        QDataStream in(bytes);
        in.setVersion(QDataStream::Qt_4_0);
        quint32 typeId = 0;
        quint32 count = 0;
        in >> typeId >> count;
        if (in.status() != QDataStream::Ok || typeId != kVariantListTypeId)
            return result;
        // Never reserve by the stored count: every entry must be read from
        // bytes that are really there, so the loop ends with the data.
        quint32 read = 0;
        bool allKnown = true;
        for (; read < count; ++read) {
            SipAccount account;
            if (!readAccountVariant(in, account))
                break;
            if (account.hasKnownType())
                result.accounts.append(QVariant::fromValue(account));
            else
                allKnown = false;
        }
        result.complete = read == count && in.atEnd() && allKnown;
        return result;
    }

    // A list is ours when one of its texts is a variant (as QSettings decides).
    bool anyVariant = false;
    for (const QString& text : texts)
        anyVariant = anyVariant || (text.startsWith(QLatin1Char('@')) && !text.startsWith(QLatin1String("@@")));
    if (!anyVariant)
        return result;
    result.isVariant = true;
    result.complete = true;
    for (const QString& text : texts) {
        QByteArray bytes;
        SipAccount account;
        bool ok = variantBytes(text, bytes);
        if (ok) {
            QDataStream in(bytes);
            in.setVersion(QDataStream::Qt_4_0);
            ok = readAccountVariant(in, account) && in.atEnd() && account.hasKnownType();
        }
        if (ok)
            result.accounts.append(QVariant::fromValue(account));
        else
            result.complete = false;
    }
    return result;
}

ParseResult parseIni(const QByteArray& iniText, const QString& section, const QString& key, bool& found)
{
    const QByteArray raw = findIniValue(iniText, section, key, found);
    if (!found)
        return ParseResult();
    bool isList = false;
    const QStringList texts = unescapeIniValue(raw, isList);
    return parseTexts(texts, isList);
}

} // namespace StoredSipAccounts
