#pragma once

#include "Logger.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// Reading back what the notification code wrote to the activity log.
namespace NotifyTestSupport {

// The number of records so far: pass it to messagesSince() to see only newer ones.
inline int logMark()
{
    return Logger::instance()->readLogRecords().size();
}

// Messages of the records after the mark, optionally of one component only.
inline QStringList messagesSince(int mark, const QString& component = QString(), bool anyComponent = true)
{
    const QList<QJsonObject> records = Logger::instance()->readLogRecords();
    QStringList messages;
    for (int i = mark; i < records.size(); ++i) {
        const QJsonObject& record = records.at(i);
        if (!anyComponent && record.value(QStringLiteral("component")).toString() != component)
            continue;
        messages.append(record.value(QStringLiteral("msg")).toString());
    }
    return messages;
}

inline QStringList componentMessagesSince(int mark, const QString& component)
{
    return messagesSince(mark, component, false);
}

} // namespace NotifyTestSupport
