#pragma once

#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonObject>
#include <QProcess>

struct ServiceConfig;

// Shared by the end-to-end and shutdown tests and the start-up benchmark.
namespace E2e {

// The X tools that are missing, empty when all are there.
QString missingTools();

// A virtual X server on a free display with a window manager, and one of the
// kinds of tray: an XEmbed tray host (no session bus); a StatusNotifierItem
// watcher with a registered host and dbusmock's notification server; or no
// tray at all with dunst as notification server. The last two on a private
// session bus.
class Desktop
{
public:
    enum Tray { XEmbedTray, StatusNotifierTray, NoTray };
    ~Desktop();
    // notificationServer false: the caller serves org.freedesktop.Notifications itself.
    bool start(Tray tray = XEmbedTray, bool notificationServer = true);
    QProcessEnvironment environment() const;
    bool xdotool(const QStringList& arguments) const;
    // The private session bus (not connected for an XEmbed tray).
    QDBusConnection bus() const;
    // A method call on the bus; an error reply on failure.
    QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = QVariantList()) const;
    // A panel restart: the watcher goes away and comes back, its host registers again.
    bool restartStatusNotifierWatcher();
    // The program's StatusNotifierItem as the watcher lists it ("service/path"), empty while none.
    QString statusNotifierItem() const;

private:
    bool waitForName(const QString& name) const;

    QProcess m_xvfb, m_windowManager, m_tray, m_watcher, m_notifications;
    QString m_display;
    PrivateBus m_bus;
};

// The test launcher (karvelon_e2e.cpp) and base with its variables for config.
QString launcherPath();
QProcessEnvironment launcherEnvironment(QProcessEnvironment base, const ServiceConfig& config);
// The simulator's demo customer in this process's settings, which the launcher
// shares; the click-to-dial SIP accounts with these ids checked for the menu.
void seedDemoCustomer(bool notifications, const QStringList& checkedAccounts = QStringList());

} // namespace E2e
