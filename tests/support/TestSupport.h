#pragma once

#include "Logger.h"

#include <QCoreApplication>
#include <QDir>
#include <QUuid>

namespace TestSupport {
// The throw-away home that the test wrapper made for this run (empty when run by hand).
inline QString testHome() { return qEnvironmentVariable("KARVELON_TEST_HOME"); }
// As the program sets them, so that Settings and Logger use the throw-away home.
inline void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Karvelon"));
    QCoreApplication::setApplicationName(QStringLiteral("Karvelon"));
}
// A fresh local-socket path in the user's runtime directory, short as socket paths must be.
inline QString uniqueSocketPath(const QString& stem)
{
    return qEnvironmentVariable("XDG_RUNTIME_DIR", QDir::tempPath()) + QLatin1Char('/') + stem + QLatin1Char('-') +
           QUuid::createUuid().toString(QUuid::Id128).left(8);
}
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
// Every message logged so far, oldest first.
inline QStringList logged()
{
    QStringList messages;
    for (const QJsonObject& record : Logger::instance()->readLogRecords())
        messages << record[QStringLiteral("msg")].toString();
    return messages;
}
} // namespace TestSupport
