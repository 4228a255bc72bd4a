#pragma once

#include "PrivateBus.h"

#include <optional>

struct ServiceConfig;

// Shared by the end-to-end and shutdown tests and the desktop benchmarks.
namespace E2e {

// The X tools that are missing, empty when all are there.
QString missingTools();

// A virtual X server on a free display with a window manager and a tray: an
// XEmbed tray host (no session bus); a StatusNotifierItem watcher with a
// registered host and dbusmock's notification server; or no tray with dunst.
// The last two on a private session bus.
class Desktop
{
public:
    enum Tray { XEmbedTray, StatusNotifierTray, NoTray };
    ~Desktop();
    // notificationServer false: the caller serves org.freedesktop.Notifications itself.
    // slowServerMsecs >= 0 (XEmbed tray): also a session bus that starts a notification server when a message
    // comes, which takes that long to come up.
    bool start(Tray tray = XEmbedTray, bool notificationServer = true, int slowServerMsecs = -1);
    // Ends the notification server the bus started, so that the next message starts one again.
    bool stopStartedNotificationServer();
    QProcessEnvironment environment() const;
    // A program on this desktop: its output, nothing when it fails.
    std::optional<QString> run(const QString& program, const QStringList& arguments) const;
    bool xdotool(const QStringList& arguments) const { return run("xdotool", arguments).has_value(); }
    QDBusConnection bus() const { return m_bus.connection(); }
    // The private session bus (started when the desktop has one), for further services on it.
    const PrivateBus& privateBus() const { return m_bus; }
    QDBusMessage call(const QString& service, const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) const
    {
        return m_bus.call(service, path, method, arguments, interface);
    }
    // A panel restart: the watcher goes away and comes back, its host registers again.
    bool restartStatusNotifierWatcher();
    // The program's StatusNotifierItem as the watcher lists it ("service/path"), empty while none.
    QString statusNotifierItem() const;

private:
    QProcess m_xvfb, m_windowManager, m_tray, m_watcher, m_notifications;
    QTemporaryDir m_services;
    QString m_display;
    PrivateBus m_bus;
};

// The test launcher (karvelon_e2e.cpp), and base with the variables that hand it config.
QString launcherPath();
QProcessEnvironment launcherEnvironment(QProcessEnvironment base, const ServiceConfig& config);
// The desktop's default web browser in the throw-away home: a stand-in that
// writes each address it is given as a line of the file whose path it returns
// (what "xdg-settings set default-web-browser" writes, without its pause).
QString installStandInBrowser();
// The simulator's demo customer in this process's settings, which the launcher
// shares; the click-to-dial SIP accounts with these ids checked for the menu.
void seedDemoCustomer(bool notifications, const QStringList& checkedAccounts = QStringList());

} // namespace E2e
