#pragma once

#include <QFile>
#include <QString>

// Figures the load tests print for the record (never judged by time).
namespace LoadFigures {

// Peak resident memory of this process so far, in KiB (VmHWM).
inline qint64 peakRssKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace LoadFigures
