#pragma once

#include "ServiceConfig.h"
#include "SingleApplication.h"
#include "SourceType.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <mutex>

class CallHistory;
class CallJournalDialog;
class DesktopNotifications;
class DialWindow;
class InternalKarvelonApi;
class KarvelonApi;
class Notifier;
class QThread;
class SystemTrayIcon;

// The application object: owns the tray icon and the notifier, starts the two
// worker threads and wires the subsystems together.
class KarvelonApplication : public SingleApplication
{
    Q_OBJECT

public:
    KarvelonApplication(int& argc, char** argv, const ServiceConfig& config = ServiceConfig());
    ~KarvelonApplication() override;

    void init();
    void registerHotKey();
    SystemTrayIcon* systemTrayIcon() const { return m_systemTrayIcon; }

    KarvelonApi* api() const { return m_api; }
    CallHistory* callHistory() const { return m_callHistory; }

signals:
    void settingsUpdated();

public slots:
    void onSettingsUpdated();
    void onQuitApplication();
    void onCallNumber(const QString& number, const QString& sipId);
    void onOpenSettings(const QString& tabName);
    // callerNumber and contact are what the service sent; the history keeps them.
    void onIncomingCall(const QString& callerId, const QString& did, const QString& textDisplay,
                        const QString& callerNumber = QString(), const QString& contact = QString());
    void onCallAttempted(const QString& number, SourceType::Type source, bool success);
    void onShowCallDialog(SourceType::Type type, const QString& name, const QStringList& numbers);
    void onOpenLogViewer();
    void onOpenCallJournal();
    void onOpenDialWindow();
    void showInformationBalloon(bool isError, const QString& msg);
    void onApplicationStarted();
    void onMessageReceived(const QString& message);

private:
    Q_DISABLE_COPY(KarvelonApplication)
    void startApi();
    void startInternalApi();
    void workerStarted();
    void workerFinished(QObject* object);
    void stopWorkerThreads();
    void invokeCall(const QString& number, SourceType::Type source, const QString& sipId);

    KarvelonApi* m_api = nullptr;
    SystemTrayIcon* m_systemTrayIcon = nullptr;
    InternalKarvelonApi* m_internalApi = nullptr;
    Notifier* m_notifier = nullptr;
    CallHistory* m_callHistory = nullptr;
    QPointer<CallJournalDialog> m_callJournal;
    QPointer<DialWindow> m_dialWindow;
    DesktopNotifications* m_desktopNotifications = nullptr;
    // Contact names of the calls the call dialog started, by number, until their outcome is known.
    QHash<QString, QString> m_pendingCallNames;
    QThread* m_apiThread = nullptr;
    QThread* m_internalApiThread = nullptr;
    // Each worker thread counts itself in once its object exists, and deletes
    // that object and counts itself out as it finishes. Both hand-overs go
    // through this std::mutex, so they also order the main thread's use of
    // the objects (race detectors cannot see through Qt's own locks).
    std::mutex m_workersMutex;
    std::condition_variable m_workersChanged;
    int m_workersRunning = 0;
    const ServiceConfig m_config;
};
