#include "TestSupport.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QUuid>

namespace TestSupport {

QString testHome()
{
    return qEnvironmentVariable("KARVELON_TEST_HOME");
}

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Karvelon"));
    QCoreApplication::setApplicationName(QStringLiteral("Karvelon"));
}

QString uniqueSocketPath(const QString& stem)
{
    QString dir = testHome().isEmpty() ? QDir::tempPath() : testHome() + QStringLiteral("/runtime");
    // Unix socket paths are limited to about 100 bytes: keep the name short.
    return dir + QLatin1Char('/') + stem + QLatin1Char('-')
           + QUuid::createUuid().toString(QUuid::Id128).left(8);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace TestSupport
