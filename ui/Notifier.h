#pragma once

#include "ScreenPop.h"

#include <QObject>
#include <QString>

class DesktopNotifications;
class SystemTrayIcon;
struct DesktopNotification;

// Short messages on the desktop: through the desktop's notification server
// when there is one, otherwise (or when it fails) as balloons of the tray icon.
class Notifier : public QObject
{
    Q_OBJECT

public:
    // Neither is owned; desktop may be null.
    Notifier(SystemTrayIcon* tray, DesktopNotifications* desktop, QObject* parent = nullptr);

    // callerNumber: the service's number of the caller, what "Terugbellen" calls.
    // pageKey: the call whose page "Openen" opens (none when empty), filled in from page.
    void showIncomingCall(const QString& text, const QString& callerNumber, const QString& pageKey = QString(),
                          const ScreenPop::Caller& page = {});

public slots:
    void showNotification(const QString& text, bool error = false);

private:
    void show(const DesktopNotification& notification);
    void showBalloon(const DesktopNotification& notification);

    SystemTrayIcon* m_tray;
    DesktopNotifications* m_desktop;
};
