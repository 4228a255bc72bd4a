#include "E2eSupport.h"

#include "ServiceConfig.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SipAccount.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <array>
#include <csignal>

using namespace SettingsKeys;

namespace E2e {

QString missingTools()
{
    QString missing;
    for (const QString tool : {"Xvfb", "xdotool", "xclip", "openbox", "trayer", "dbus-daemon", "status-notifier-watcher", "dunst", "import"})
        missing += QStandardPaths::findExecutable(tool).isEmpty() ? tool + ' ' : QString();
    return missing;
}

Desktop::~Desktop()
{
    for (QProcess* process : {&m_notifications, &m_watcher, &m_tray, &m_windowManager, &m_xvfb})
        process->terminate(), process->waitForFinished(5000);
}

bool Desktop::start(Tray tray, bool notificationServer, int slowServerMsecs)
{
    // -displayfd: the server picks a free display and writes its number.
    m_xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    while (!m_xvfb.canReadLine() && m_xvfb.waitForReadyRead(20000)) {}
    m_display = QLatin1Char(':') + QString::fromLatin1(m_xvfb.readLine().trimmed());
    if (tray == XEmbedTray && slowServerMsecs >= 0) {
        QFile service(m_services.filePath("org.freedesktop.Notifications.service"));
        if (!service.open(QIODevice::WriteOnly)
            || service.write(QString("[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/bin/sh -c \"sleep %1; "
                                     "exec /usr/bin/python3 -m dbusmock --template notification_daemon\"\n")
                                 .arg(slowServerMsecs / 1000.0).toUtf8()) < 0)
            return false;
        service.close();
        if (!m_bus.start(m_services.path()))
            return false;
    }
    if (tray != XEmbedTray && !m_bus.start())
        return false;
    for (QProcess* process : {&m_windowManager, &m_tray, &m_watcher, &m_notifications})
        process->setProcessEnvironment(environment());
    m_windowManager.start("openbox", QStringList());
    if (tray == XEmbedTray) {
        m_tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32"});
        // Ready once the tray host's window exists.
        return QTest::qWaitFor([this]() { return xdotool({"search", "--class", "trayer"}); }, 10000);
    }
    const QString notifications = "org.freedesktop.Notifications";
    if (notificationServer && tray == NoTray)
        m_notifications.start("dunst", QStringList());
    else if (notificationServer && !m_bus.startMock("notification_daemon", notifications, {{"capabilities", "actions body"}}))
        return false;
    return (!notificationServer || m_bus.waitFor(notifications)) && (tray == NoTray || restartStatusNotifierWatcher());
}

bool Desktop::stopStartedNotificationServer()
{
    const QString name = "org.freedesktop.Notifications";
    const uint pid = bus().interface()->servicePid(name).value();
    return pid > 0 && ::kill(pid_t(pid), SIGTERM) == 0
           && QTest::qWaitFor([&]() { return !bus().interface()->isServiceRegistered(name).value(); }, 10000);
}

bool Desktop::restartStatusNotifierWatcher()
{
    m_watcher.kill(), m_watcher.waitForFinished();
    m_watcher.start("status-notifier-watcher", QStringList());
    // A panel that shows the items: a host registered with the watcher, as long as this connection lives.
    const QString watcher = "org.kde.StatusNotifierWatcher";
    const QString host = QStringLiteral("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid());
    // A new watcher may own its name a moment before it answers.
    return bus().registerService(host) && QTest::qWaitFor([&]() {
        return call(watcher, "/StatusNotifierWatcher", watcher, "RegisterStatusNotifierHost", {host}).type()
               == QDBusMessage::ReplyMessage;
    }, 10000);
}

QString Desktop::statusNotifierItem() const
{
    const QString watcher = "org.kde.StatusNotifierWatcher";
    const QDBusMessage reply = call(watcher, "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties", "Get",
                                    {watcher, "RegisteredStatusNotifierItems"});
    return reply.arguments().value(0).value<QDBusVariant>().variant().toStringList().value(0);
}

QProcessEnvironment Desktop::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    // Without a private bus, balloons are Qt's own windows over the tray icon. An address that leads nowhere
    // rather than none, or libdbus would start a bus by itself (dbus-x11's autolaunch) for an X11 program.
    env.insert("DBUS_SESSION_BUS_ADDRESS",
               m_bus.address().isEmpty() ? "unix:path=" + QDir::tempPath() + "/karvelon-no-session-bus" : m_bus.address());
    return env;
}

std::optional<QString> Desktop::run(const QString& program, const QStringList& arguments) const
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString launcherPath() { return QStringLiteral(KARVELON_E2E_LAUNCHER); }

QProcessEnvironment launcherEnvironment(QProcessEnvironment base, const ServiceConfig& c)
{
    base.insert("KARVELON_E2E_CONFIG", QStringList{c.apiBaseUrl, c.notifyUrl.toString(), c.wanIpHtmlUrl.toString(),
                                                   c.wanIpTextUrl.toString(), c.commandServerName,
                                                   QString::number(c.backoffInitialMsecs)}.join(' '));
    // xdg-open's generic road (the user's mimeapps.list), whatever desktop the machine itself runs.
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                             "WAYLAND_DISPLAY", "BROWSER"})
        base.remove(QString::fromLatin1(name));
    // Under AddressSanitizer: libxkbcommon-x11's bounded strndup copies, which strict string checks report.
    if (base.contains("ASAN_OPTIONS"))
        base.insert("ASAN_OPTIONS", base.value("ASAN_OPTIONS") + ":suppressions=" KARVELON_E2E_SOURCE_DIR "/asan-suppressions.txt");
    return base;
}

QString installStandInBrowser()
{
    const QString home = TestSupport::testHome(), record = home + "/opened.txt", browser = home + "/standin-browser";
    const auto write = [](const QString& path, const QByteArray& content) {
        QFile file(path);
        return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    };
    QFile::remove(record);
    const bool ok = write(browser, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + record.toUtf8() + "'\n")
                    && QFile::setPermissions(browser, QFile::ReadOwner | QFile::ExeOwner)
                    && write(qEnvironmentVariable("XDG_DATA_HOME") + "/applications/karvelon-standin.desktop",
                             "[Desktop Entry]\nType=Application\nName=Stand-in\nExec=" + browser.toUtf8() + " %u\n")
                    && write(qEnvironmentVariable("XDG_CONFIG_HOME") + "/mimeapps.list",
                             "[Default Applications]\nx-scheme-handler/https=karvelon-standin.desktop\n");
    return ok ? record : QString();
}

void seedDemoCustomer(bool notifications, const QStringList& checkedAccounts)
{
    TestSupport::setApplicationIdentity();
    QFile::remove(Settings().fileName());
    Settings s;
    s.set(kCustomerGroup, kNumber, "100234");
    s.set(kCustomerGroup, kPassword, "demo-wachtwoord");
    s.set(kNotificationsGroup, kEnabled, notifications);
    s.set(kNotificationsGroup, kUsername, "demo");
    s.set(kNotificationsGroup, kPassword, "demo-popup");
    for (const auto& [group, id, key] : {std::array<QString, 3>{kClickToDialGroup, "c2d-demo", "c2d-demo-sleutel-7f3a"},
                                         {"OutlookPlugin", "outlook-demo", "outlook-demo-sleutel-91bc"},
                                         {"ThunderbirdPlugin", "thunderbird-demo", "thunderbird-demo-sleutel-e85f"}}) {
        s.set(group, kId, id);
        s.set(group, kKey, key);
        s.set(group, kDefaultSip, "201");
    }
    SipAccount::registerMetaType();
    QVariantList accounts;
    for (const auto& [id, name] : {std::pair<QString, QString>{"201", "Kantoor"}, {"202", "Receptie"}})
        accounts << QVariant::fromValue(SipAccount(SourceType::ClickToDial, name, id, checkedAccounts.contains(id)));
    s.set(kCustomerGroup, kSipAccounts, accounts);
}

} // namespace E2e
