#include "LogRecord.h"

#include <QJsonDocument>

#include <cstring>

namespace LogRecord {

namespace {

const char s_hexDigits[] = "0123456789abcdef";
// Keeps 6 bytes per UTF-16 unit well inside the largest QByteArray.
const int s_maxTextUnits = (1 << 30) / 6 - 1024;

// Writes the decimal digits of value at p and returns the position after them.
char* writeDecimal(char* p, qint64 value)
{
    char digits[24];
    int count = 0;
    // Work on the unsigned magnitude so the most negative value does not overflow.
    quint64 magnitude = value < 0 ? quint64(0) - quint64(value) : quint64(value);
    do {
        digits[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *p++ = '-';
    while (count > 0)
        *p++ = digits[--count];
    return p;
}

// Writes text as a quoted JSON string in UTF-8 at p (which has room for
// 6 bytes per UTF-16 unit plus 2) and returns the position after it.
char* writeJsonString(char* p, const QString& text)
{
    *p++ = '"';
    const ushort* s = text.utf16();
    const ushort* const end = s + text.size();
    while (s < end) {
        const ushort c = *s++;
        if (c < 0x80) {
            if (c >= 0x20 && c != '"' && c != '\\') {
                *p++ = char(c);
                continue;
            }
            *p++ = '\\';
            switch (c) {
            case '"':
                *p++ = '"';
                break;
            case '\\':
                *p++ = '\\';
                break;
            case '\n':
                *p++ = 'n';
                break;
            case '\r':
                *p++ = 'r';
                break;
            case '\t':
                *p++ = 't';
                break;
            case '\b':
                *p++ = 'b';
                break;
            case '\f':
                *p++ = 'f';
                break;
            default:
                *p++ = 'u';
                *p++ = '0';
                *p++ = '0';
                *p++ = s_hexDigits[c >> 4];
                *p++ = s_hexDigits[c & 0xf];
                break;
            }
        } else if (c < 0x800) {
            *p++ = char(0xc0 | (c >> 6));
            *p++ = char(0x80 | (c & 0x3f));
        } else if (QChar::isHighSurrogate(c) && s < end && QChar::isLowSurrogate(*s)) {
            const uint ucs4 = QChar::surrogateToUcs4(c, *s++);
            *p++ = char(0xf0 | (ucs4 >> 18));
            *p++ = char(0x80 | ((ucs4 >> 12) & 0x3f));
            *p++ = char(0x80 | ((ucs4 >> 6) & 0x3f));
            *p++ = char(0x80 | (ucs4 & 0x3f));
        } else {
            // A lone surrogate has no UTF-8 form: write the replacement character
            // rather than bytes that no reader accepts.
            const ushort u = QChar::isSurrogate(c) ? ushort(QChar::ReplacementCharacter) : c;
            *p++ = char(0xe0 | (u >> 12));
            *p++ = char(0x80 | ((u >> 6) & 0x3f));
            *p++ = char(0x80 | (u & 0x3f));
        }
    }
    *p++ = '"';
    return p;
}

char* writeLiteral(char* p, const char* literal, int length)
{
    memcpy(p, literal, size_t(length));
    return p + length;
}

} // namespace

void appendJsonString(QByteArray& out, const QString& text)
{
    if (text.size() > s_maxTextUnits) {
        appendJsonString(out, text.left(s_maxTextUnits));
        return;
    }
    const int start = out.size();
    out.resize(start + 6 * text.size() + 2);
    char* const begin = out.data();
    char* const p = writeJsonString(begin + start, text);
    out.resize(int(p - begin));
}

void appendLine(QByteArray& out, int severity, const QString& component, qint64 msecsSinceEpoch, const QString& msg)
{
    static const char keyComponent[] = "{\"component\":";
    static const char keyDate[] = ",\"date\":\"";
    static const char keyMsg[] = "\",\"msg\":";
    static const char keySeverity[] = ",\"severity\":";
    const int fixed = int(sizeof keyComponent + sizeof keyDate + sizeof keyMsg + sizeof keySeverity);
    // A message so long that its worst-case rendering would not fit a QByteArray is cut,
    // rather than overflowing the size computation below.
    if (qint64(component.size()) + msg.size() > s_maxTextUnits) {
        appendLine(out, severity, component.left(s_maxTextUnits / 4), msecsSinceEpoch, msg.left(s_maxTextUnits / 2));
        return;
    }
    // Worst case: every UTF-16 unit escaped as \u00XX, two 20-digit numbers, "}\n".
    const int start = out.size();
    out.resize(start + fixed + 6 * (component.size() + msg.size()) + 4 + 2 * 24 + 2);
    char* const begin = out.data();
    char* p = begin + start;
    p = writeLiteral(p, keyComponent, int(sizeof keyComponent) - 1);
    p = writeJsonString(p, component);
    p = writeLiteral(p, keyDate, int(sizeof keyDate) - 1);
    p = writeDecimal(p, msecsSinceEpoch);
    p = writeLiteral(p, keyMsg, int(sizeof keyMsg) - 1);
    p = writeJsonString(p, msg);
    p = writeLiteral(p, keySeverity, int(sizeof keySeverity) - 1);
    p = writeDecimal(p, severity);
    *p++ = '}';
    *p++ = '\n';
    out.resize(int(p - begin));
}

QByteArray formatLine(int severity, const QString& component, qint64 msecsSinceEpoch, const QString& msg)
{
    QByteArray line;
    appendLine(line, severity, component, msecsSinceEpoch, msg);
    return line;
}

bool parseLine(const QByteArray& utf8Line, QJsonObject& record)
{
    if (utf8Line.isEmpty()) {
        record = QJsonObject();
        return false;
    }
    record = QJsonDocument::fromJson(utf8Line).object();
    return !record.isEmpty();
}

} // namespace LogRecord
