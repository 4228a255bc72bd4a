#pragma once

#include "SipAccountManager.h"

#include <QCoreApplication>
#include <QEvent>

// Replaces the process-wide registry by a fresh one that loads the settings file as it is now,
// as a restart of the program would.
class SipAccountManagerTestAccess
{
public:
    static SipAccountManager* restart()
    {
        delete SipAccountManager::m_instance;
        SipAccountManager::m_instance = new SipAccountManager(nullptr);
        return SipAccountManager::m_instance;
    }
    static void destroy() { delete SipAccountManager::m_instance; }
    // Runs the deletions that deleteLater() queued (dropped records are released that way).
    static void flushDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};
