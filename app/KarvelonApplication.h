#pragma once

#include "ServiceConfig.h"
#include "SingleApplication.h"
#include "WorkerThreads.h"

#include <QString>

class AddressBook;
struct AddressBookSources;
class CallHistory;
class CallRouter;
class DesktopNotifications;
class DialShortcut;
class DoNotDisturb;
class IncomingCalls;
class InternalKarvelonApi;
class KarvelonApi;
class NewCallCount;
class NotificationChannel;
class Notifier;
class ScreenPopOpener;
class SecretStore;
class SelectionReader;
class SystemTrayIcon;
class Windows;

// The application object: puts the program together (tray, notifier, the
// roads of outgoing and incoming calls, the windows, the worker objects on
// their threads) and answers the messages of a second start.
class KarvelonApplication : public SingleApplication
{
    Q_OBJECT

public:
    KarvelonApplication(int& argc, char** argv, const ServiceConfig& config = ServiceConfig());
    ~KarvelonApplication() override;

    // Starts the worker threads and everything that talks to the service; returns at once.
    void init();
    void registerHotKey();

    SystemTrayIcon* systemTrayIcon() const { return m_systemTrayIcon; }
    CallHistory* callHistory() const { return m_callHistory; }
    CallRouter* calls() const { return m_calls; }
    Windows* windows() const { return m_windows; }
    SecretStore* secrets() const { return m_secrets; }
    // The names of callers from the user's own contacts; null until start-up is over and they are being read.
    AddressBook* addressBook() const { return m_addressBook; }

signals:
    void settingsUpdated();
    // A moment after start-up: the channel's first registration.
    void servicesDue();

public slots:
    void onSettingsUpdated();
    void onQuitApplication();
    void showInformationBalloon(bool isError, const QString& msg);
    // Asks to open the settings when the customer number or password is missing
    // (once the keyring has answered).
    void onApplicationStarted();
    void onMessageReceived(const QString& message);

private:
    Q_DISABLE_COPY(KarvelonApplication)

    void startAddressBook();
    AddressBookSources addressBookSources() const;

    const ServiceConfig m_config;
    // The passwords and keys: read once by init(), handed to whoever needs them.
    SecretStore* m_secrets = nullptr;
    SystemTrayIcon* m_systemTrayIcon = nullptr;
    DesktopNotifications* m_desktopNotifications = nullptr;
    Notifier* m_notifier = nullptr;
    CallHistory* m_callHistory = nullptr;
    CallRouter* m_calls = nullptr;
    IncomingCalls* m_incomingCalls = nullptr;
    Windows* m_windows = nullptr;
    AddressBook* m_addressBook = nullptr;
    // At the desk: "Niet storen", the new calls, the caller's page.
    DoNotDisturb* m_doNotDisturb = nullptr;
    NewCallCount* m_newCalls = nullptr;
    ScreenPopOpener* m_screenPop = nullptr;
    // Dial from anywhere: the key (or the desktop's shortcut) and what it reads.
    DialShortcut* m_dialShortcut = nullptr;
    SelectionReader* m_selection = nullptr;
    // Worker objects: made here, then owned by their threads.
    KarvelonApi* m_api = nullptr;
    NotificationChannel* m_channel = nullptr;
    InternalKarvelonApi* m_commandServer = nullptr;
    bool m_started = false;
    WorkerThreads m_workers;
};
