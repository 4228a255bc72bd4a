#pragma once

// A D-Bus bus of the test's own, with python3-dbusmock services on it. Its
// configuration activates nothing: the machine's own services (dunst as
// notification server, for one) stay out. Users link Qt5::DBus.

#include <QDBusArgument>
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

    // services: a directory of .service files the bus may start on demand (none by default).
    bool start(const QString& services = QString())
    {
        QFile config(m_dir.filePath("bus.conf"));
        config.open(QIODevice::WriteOnly);
        config.write(QString("<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>%2"
                             "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>")
                         .arg(m_dir.path(), services.isEmpty() ? QString() : "<servicedir>" + services + "</servicedir>")
                         .toUtf8());
        config.close();
        m_daemon.start("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork", "--print-address"});
        m_address = m_daemon.waitForReadyRead(10000) ? QString::fromLatin1(m_daemon.readLine().trimmed()) : QString();
        return !m_address.isEmpty() && connection().isConnected();
    }

    QString address() const { return m_address; }
    QDBusConnection connection() const { return QDBusConnection::connectToBus(m_address, m_name); }
    bool waitFor(const QString& service) const
    {
        return QTest::qWaitFor([&]() { return connection().interface()->isServiceRegistered(service).value(); }, 15000);
    }

    // A dbusmock template on this bus, once it owns `service`; null when it does not come up.
    QProcess* startMock(const QString& name, const QString& service, const QJsonObject& parameters = {})
    {
        auto* mock = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_address);
        mock->setProcessEnvironment(env);
        mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mock->start("/usr/bin/python3", {"-m", "dbusmock", "--template", name, "-p",
                                         QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))});
        m_mocks << mock;
        return waitFor(service) ? mock : nullptr;
    }
    void stop(QProcess* mock) { m_mocks.removeOne(mock), mock->kill(), mock->waitForFinished(), delete mock; }

    // A method call on this bus; an error reply on failure. dbusmock's control interface is the default.
    QDBusMessage call(const QString& service, const QString& path, const QString& method, const QVariantList& args = {},
                      const QString& interface = "org.freedesktop.DBus.Mock") const
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(args);
        return connection().call(message, QDBus::Block, 10000);
    }

    // The arguments of each call a dbusmock service logged, oldest first (a GetMethodCalls reply).
    static QList<QVariantList> methodCalls(const QDBusMessage& reply)
    {
        const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
        QList<QVariantList> calls;
        for (list.beginArray(); !list.atEnd(); list.endStructure()) {
            quint64 stamp;
            list.beginStructure(), list >> stamp >> *calls.insert(calls.end(), QVariantList());
        }
        list.endArray();
        return calls;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    const QString m_name = "private-bus-" + QUuid::createUuid().toString(QUuid::Id128);
    QList<QProcess*> m_mocks;
};
