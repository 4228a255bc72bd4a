#pragma once

#include "SipAccountManager.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSettings>

// Lets the tests replace the process-wide registry by a fresh one, as a
// restart of the program would.
class SipAccountManagerTestAccess
{
public:
    // Drops the current registry (and its records) and builds a new one that
    // loads from the settings file as it is now.
    static SipAccountManager* restart()
    {
        delete SipAccountManager::m_instance;
        SipAccountManager::m_instance = new SipAccountManager(nullptr);
        return SipAccountManager::m_instance;
    }

    static void destroy() { delete SipAccountManager::m_instance; }
};

namespace AccountsTest {

// The settings file the program uses, through the same QSettings cache.
inline QSettings programSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Karvelon"), QStringLiteral("Karvelon"));
}

inline void clearSettings()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Karvelon"),
                       QStringLiteral("Karvelon"));
    settings.clear();
    settings.sync();
}

// Runs the deletions that deleteLater() queued.
inline void flushDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace AccountsTest
