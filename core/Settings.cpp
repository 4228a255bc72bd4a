#include "Settings.h"

#include "Logger.h"
#include "PrivateFiles.h"

#include <QCoreApplication>

Settings::Settings()
    : m_settings(QSettings::IniFormat, QSettings::UserScope, QCoreApplication::organizationName(),
                 QCoreApplication::applicationName())
{
}

Settings::~Settings() = default;

QVariant Settings::get(const QString& group, const QString& key, const QVariant& defaultValue)
{
    m_settings.beginGroup(group);
    QVariant value = m_settings.value(key, defaultValue);
    m_settings.endGroup();
    return value;
}

void Settings::set(const QString& group, const QString& key, const QVariant& value)
{
    // Close the directory before the first write creates the file with the
    // default mode: only then is the window until restrictAccess() harmless.
    restrictDirectory();
    m_settings.beginGroup(group);
    m_settings.setValue(key, value);
    m_settings.endGroup();
    flush();
}

bool Settings::contains(const QString& group, const QString& key)
{
    return m_settings.contains(group + QLatin1Char('/') + key);
}

bool Settings::remove(const QVector<QPair<QString, QString>>& groupKeys)
{
    restrictDirectory();
    for (const auto& groupKey : groupKeys)
        m_settings.remove(groupKey.first + QLatin1Char('/') + groupKey.second);
    return flush();
}

// The file on disk is replaced whole or not at all, so a failed write loses
// nothing stored; the change is only missing from the file, which the log tells.
bool Settings::flush()
{
    m_settings.sync();
    const bool written = m_settings.status() != QSettings::AccessError;
    if (!written) {
        Logger::instance()->log(Logger::Error, QStringLiteral("Instellingen"),
                                QStringLiteral("Kon instellingen niet opslaan in %1").arg(m_settings.fileName()));
    }
    restrictAccess();
    return written;
}

QString Settings::fileName() const
{
    return m_settings.fileName();
}

// The file holds passwords and API keys in plain text: only its owner may read
// it. QSettings replaces the file on every sync, so the mode is set after each
// write, and the directory is closed to others so the short window between
// replacing and chmod exposes nothing.
void Settings::restrictAccess()
{
    PrivateFiles::restrictFile(m_settings.fileName());
}

void Settings::restrictDirectory()
{
    PrivateFiles::makeDirectoryFor(m_settings.fileName());
}
