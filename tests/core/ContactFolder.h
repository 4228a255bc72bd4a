#pragma once

#include <QDir>
#include <QFile>
#include <QString>

// A folder of vCard files as a CardDAV synchroniser leaves it, one contact per file, for the address book's test and
// benchmark. Contact i has a non-ASCII name and the mobile number 06 1200 0000 + i, written in one of four forms.
namespace ContactFolder {

inline QString name(int i)
{
    static const char* const first[] = {"Zo\u00EB", "J\u00FCrgen", "S\u00F8ren", "\u0410\u0433\u0430\u0442\u0430"};
    return QString::fromUtf8(first[i % 4]) + QStringLiteral(" van \u00C5ngstr\u00F6m %1").arg(i);
}

inline QString mobile(int i)
{
    return QString::number(612000000 + i).prepend(QLatin1Char('0'));
}

// RFC 6350 folding every 20 bytes, through UTF-8 sequences as 2426 writers do.
inline QByteArray folded(const QByteArray& line)
{
    QByteArray out = line.left(20);
    for (int at = 20; at < line.size(); at += 19)
        out += "\r\n " + line.mid(at, 19);
    return out + "\r\n";
}

inline QByteArray card(int i)
{
    const QByteArray nr = mobile(i).mid(2).toUtf8(); // 8 digits after "06"
    const QByteArray fn = "FN:" + name(i).toUtf8();
    switch (i % 4) {
    case 0:
        return "BEGIN:VCARD\r\nVERSION:3.0\r\n" + fn + "\r\nTEL;TYPE=CELL:+31 6 " + nr.left(4) + ' ' + nr.mid(4) +
               "\r\nEND:VCARD\r\n";
    case 1:
        return "BEGIN:VCARD\r\nVERSION:4.0\r\n" + fn + "\r\nTEL;VALUE=uri;TYPE=\"cell,voice\":tel:+31-6-" + nr +
               ";ext=1\r\nEND:VCARD\r\n";
    case 2:
        return "BEGIN:VCARD\nVERSION:3.0\nN:x;y;;;\nitem1.TEL;TYPE=WORK:0031 (0)6 " + nr + '\n' + fn + "\nEND:VCARD\n";
    default:
        return "BEGIN:VCARD\r\nVERSION:4.0\r\n" + folded(fn) + folded("TEL;TYPE=home:06-" + nr) + "END:VCARD\r\n";
    }
}

inline QString fileName(int i)
{
    return QStringLiteral("c%1.vcf").arg(i, 5, 10, QLatin1Char('0'));
}

inline bool write(const QString& dir, int count)
{
    if (!QDir().mkpath(dir))
        return false;
    for (int i = 0; i < count; ++i) {
        QFile file(QDir(dir).filePath(fileName(i)));
        if (!file.open(QIODevice::WriteOnly) || file.write(card(i)) < 0)
            return false;
    }
    return true;
}

} // namespace ContactFolder
