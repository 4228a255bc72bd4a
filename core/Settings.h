#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>

// Group/key access to the per-user INI file. Made per use, never shared:
// every set() is flushed at once, so a Settings made later sees the value.
class Settings
{
public:
    Settings();
    virtual ~Settings();

    QVariant get(const QString& group, const QString& key, const QVariant& defaultValue = QVariant());
    void set(const QString& group, const QString& key, const QVariant& value);
    // Takes the key out of the file, for settings whose absence means "off".
    void remove(const QString& group, const QString& key);

    QString fileName() const;

private:
    Q_DISABLE_COPY(Settings)
    void write(const QString& group, const QString& key, const QVariant* value);
    void restrictAccess();
    void restrictDirectory();

    QSettings m_settings;
};
