#pragma once

// python3-dbusmock as the desktop's portal with global shortcuts. Each
// request answers (response code 0, or `bindResponse` for BindShortcuts) on a
// Request object of its own, at the path derived from the caller's unique
// name and token, before the call returns; BindShortcuts reports "Ctrl+F9" as
// each shortcut's trigger. Users link Qt5::DBus.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QProcess>
#include <QTest>

namespace PortalMock {

inline const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString Shortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// A method of dbusmock's control interface.
inline QDBusMessage control(const QDBusConnection& bus, const QString& method, const QVariantList& args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(Service, Path, "org.freedesktop.DBus.Mock", method);
    message.setArguments(args);
    return bus.call(message, QDBus::Block, 10000);
}

// The portal on the bus at `address` (bus: a connection to it), serving `caller` (a unique name).
inline bool start(QProcess& mock, const QDBusConnection& bus, const QString& address, const QString& caller,
                  uint bindResponse = 0)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    mock.setProcessEnvironment(env);
    mock.start("/usr/bin/python3", {"-m", "dbusmock", Service, Path, Shortcuts});
    const QString name = caller.mid(1).replace('.', '_');
    const QString answer = QString("path = '/org/freedesktop/portal/desktop/request/%1/' + args[-1]['handle_token']\n"
                                   "self.AddObject(path, 'org.freedesktop.portal.Request', {}, [])\n"
                                   "objects[path].EmitSignal('org.freedesktop.portal.Request', 'Response', 'ua{sv}', "
                                   "[dbus.UInt32(%2), results])\nret = dbus.ObjectPath(path)")
                               .arg(name);
    const QString session = "results = {'session_handle': '/org/freedesktop/portal/desktop/session/" + name +
                            "/' + args[0]['session_handle_token']}\n" + answer.arg(0);
    const QString bind = "results = {'shortcuts': dbus.Array([(s[0], dict(s[1], trigger_description='Ctrl+F9')) "
                         "for s in args[1]], signature='(sa{sv})')}\n" +
                         answer.arg(bindResponse);
    const auto ok = [&](const QString& method, const QVariantList& args) {
        return control(bus, method, args).type() == QDBusMessage::ReplyMessage;
    };
    return QTest::qWaitFor([&]() { return bus.interface()->isServiceRegistered(Service).value(); }, 15000) &&
           ok("AddProperty", {Shortcuts, "version", QVariant::fromValue(QDBusVariant(1u))}) &&
           ok("AddMethod", {Shortcuts, "CreateSession", "a{sv}", "o", session}) &&
           ok("AddMethod", {Shortcuts, "BindShortcuts", "oa(sa{sv})sa{sv}", "o", bind});
}

// The desktop saw the shortcut `id` of `session` pressed.
inline bool press(const QDBusConnection& bus, const QString& session, const QString& id)
{
    const QVariantList args{QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusObjectPath(session)))),
                            QVariant::fromValue(QDBusVariant(id)), QVariant::fromValue(QDBusVariant(qulonglong(7))),
                            QVariant::fromValue(QDBusVariant(QVariantMap()))};
    return control(bus, "EmitSignal", {Shortcuts, "Activated", "osta{sv}", args}).type() == QDBusMessage::ReplyMessage;
}

} // namespace PortalMock
