#pragma once

// A D-Bus bus of the test's own, with python3-dbusmock services on it. Its
// configuration activates nothing: the machine's own services (dunst as
// notification server, for one) stay out. Users link Qt5::DBus.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

class PrivateBus
{
public:
    ~PrivateBus()
    {
        QDBusConnection::disconnectFromBus(m_name);
        while (!m_mocks.isEmpty())
            stop(m_mocks.first());
        m_daemon.kill(), m_daemon.waitForFinished();
    }

    bool start()
    {
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                                    "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>")
                         .arg(m_dir.path()).toUtf8());
        config.close();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!m_daemon.waitForReadyRead(10000))
            return false;
        m_address = QString::fromLatin1(m_daemon.readLine().trimmed());
        return connection().isConnected();
    }

    QString address() const { return m_address; }
    QDBusConnection connection() const { return QDBusConnection::connectToBus(m_address, m_name); }

    // A dbusmock template on this bus, once it owns `service`; null when it does not come up.
    QProcess* startMock(const QString& name, const QString& service, const QJsonObject& parameters = {})
    {
        auto* mock = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        mock->setProcessEnvironment(env);
        mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mock->start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"), name, QStringLiteral("-p"),
                     QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))});
        m_mocks << mock;
        QDBusConnectionInterface* daemon = connection().interface();
        return QTest::qWaitFor([&]() { return daemon->isServiceRegistered(service).value(); }, 15000) ? mock : nullptr;
    }
    void stop(QProcess* mock)
    {
        m_mocks.removeOne(mock);
        mock->kill(), mock->waitForFinished();
        delete mock;
    }

    // A method of dbusmock's control interface (AddMethod, EmitSignal, GetMethodCalls, ...).
    QDBusMessage mockCall(const QString& service, const QString& path, const QString& method, const QVariantList& args)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Mock"), method);
        message.setArguments(args);
        return connection().call(message);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    const QString m_name = QStringLiteral("private-bus-") + QUuid::createUuid().toString(QUuid::Id128);
    QList<QProcess*> m_mocks;
};
