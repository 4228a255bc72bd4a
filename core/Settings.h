#pragma once

#include <QPair>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <QVector>

// Group/key access to the per-user INI file. Made per use, never shared:
// every set() is flushed at once, so a Settings made later sees the value.
class Settings
{
public:
    Settings();
    virtual ~Settings();

    QVariant get(const QString& group, const QString& key, const QVariant& defaultValue = QVariant());
    void set(const QString& group, const QString& key, const QVariant& value);
    bool contains(const QString& group, const QString& key);
    // Takes the (group, key) pairs out in one rewrite of the file, which is
    // replaced whole or not at all. False (and logged) when it could not be written.
    bool remove(const QVector<QPair<QString, QString>>& groupKeys);
    // The same for one key, for settings whose absence means "off".
    bool remove(const QString& group, const QString& key) { return remove({{group, key}}); }

    QString fileName() const;

private:
    Q_DISABLE_COPY(Settings)
    bool flush();
    void restrictAccess();
    void restrictDirectory();

    QSettings m_settings;
};
