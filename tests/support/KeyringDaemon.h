#pragma once

// gnome-keyring-daemon's Secret Service on a test's private bus, unlocked with a throw-away password and keeping
// its files in the throw-away home the test wrapper made; secret-tool reads back what landed in it. The program's
// entries carry QtKeychain's attributes: "server" (our service name, "Karvelon") and "user" ("<group>/<key>").

#include "PrivateBus.h"

#include <QDBusObjectPath>

class KeyringDaemon
{
public:
    ~KeyringDaemon() { stop(); }

    // False unless the daemon owns the name and stored items go to its unlocked "login" collection.
    bool start(const PrivateBus& bus)
    {
        m_bus = &bus;
        m_daemon.setProcessEnvironment(environment());
        m_daemon.setStandardOutputFile(QProcess::nullDevice());
        m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_daemon.start("gnome-keyring-daemon", {"--foreground", "--components=secrets", "--unlock"});
        if (!m_daemon.waitForStarted())
            return false;
        m_daemon.write("wegwerp-sleutelbos"), m_daemon.closeWriteChannel();
        if (!bus.waitFor(kName))
            return false;
        const QDBusMessage alias =
            bus.call(kName, "/org/freedesktop/secrets", "ReadAlias", {"default"}, "org.freedesktop.Secret.Service");
        return alias.arguments().value(0).value<QDBusObjectPath>().path() ==
               "/org/freedesktop/secrets/collection/login";
    }
    // Ends the daemon; true once its name has left the bus.
    bool stop()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return true;
        m_daemon.kill(), m_daemon.waitForFinished();
        return QTest::qWaitFor(
            [this]() { return !m_bus->connection().interface()->isServiceRegistered(kName).value(); });
    }
    // The secret stored for "<group>/<key>"; empty when there is none.
    QString lookup(const QString& name) const
    {
        QProcess tool;
        tool.setProcessEnvironment(environment());
        tool.start("secret-tool", {"lookup", "server", "Karvelon", "user", name});
        return tool.waitForFinished(10000) ? QString::fromUtf8(tool.readAllStandardOutput()) : QStringLiteral("?");
    }

private:
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_bus->address());
        return env;
    }

    const QString kName = QStringLiteral("org.freedesktop.secrets");
    const PrivateBus* m_bus = nullptr;
    QProcess m_daemon;
};
