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
    write(group, key, &value);
}

void Settings::remove(const QString& group, const QString& key)
{
    write(group, key, nullptr);
}

// value null: remove the key.
void Settings::write(const QString& group, const QString& key, const QVariant* value)
{
    // Close the directory before the first write creates the file with the
    // default mode: only then is the window until restrictAccess() harmless.
    restrictDirectory();
    m_settings.beginGroup(group);
    if (value)
        m_settings.setValue(key, *value);
    else
        m_settings.remove(key);
    m_settings.sync();
    m_settings.endGroup();
    // The file on disk is replaced whole or not at all, so a failed write loses
    // nothing stored; the value is only gone from this run, which the log tells.
    if (m_settings.status() == QSettings::AccessError) {
        Logger::instance()->log(Logger::Error, QStringLiteral("Instellingen"),
                                QStringLiteral("Kon instellingen niet opslaan in %1").arg(m_settings.fileName()));
    }
    restrictAccess();
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
