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

    QString fileName() const;

private:
    Q_DISABLE_COPY(Settings)
    void restrictAccess();
    void restrictDirectory();

    QSettings m_settings;
};
