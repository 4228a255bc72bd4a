#include "DesktopNotifications.h"
#include "DialShortcut.h"
#include "GlobalHotKey.h"
#include "GlobalShortcutsPortal.h"
#include "Notifier.h"
#include "PrivateBus.h"
#include "SelectionReader.h"
#include "Settings.h"
#include "SystemTrayIcon.h"
#include "TestSupport.h"

#include <QClipboard>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QtTest>

// Messages through a notification server (python3-dbusmock's) on a bus of each test's own.
class TestDesktop : public QObject
{
    Q_OBJECT

    const QString kService = QStringLiteral("org.freedesktop.Notifications");
    const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

    QProcess* startServer(PrivateBus& bus, const QString& capabilities)
    {
        return bus.startMock("notification_daemon", kService, {{"capabilities", capabilities}});
    }
    // Every Notify call the server received, as "app|id|icon|summary|body|actions|desktop-entry|category|urgency|expire".
    QStringList notifyCalls(PrivateBus& bus)
    {
        QStringList calls;
        for (const QVariantList& a : PrivateBus::methodCalls(bus.call(kService, kPath, "GetMethodCalls", {"Notify"}))) {
            const QVariantMap hints = qdbus_cast<QVariantMap>(a.value(6));
            calls << QStringList{a.value(0).toString(), a.value(1).toString(), a.value(2).toString(), a.value(3).toString(),
                                 a.value(4).toString(), a.value(5).toStringList().join(','), hints.value("desktop-entry").toString(),
                                 hints.value("category").toString(), QString::number(hints.value("urgency").toInt()),
                                 a.value(7).toString()}.join('|');
        }
        return calls;
    }
    bool emitSignal(PrivateBus& bus, const char* name, const QString& signature, uint id, const QVariant& detail)
    {
        const QVariantList args{QVariant::fromValue(QDBusVariant(id)), QVariant::fromValue(QDBusVariant(detail))};
        return bus.call(kService, kPath, "EmitSignal", {kService, name, signature, args}).type()
               == QDBusMessage::ReplyMessage;
    }
    bool act(PrivateBus& bus, uint id, const QString& key) { return emitSignal(bus, "ActionInvoked", "us", id, key); }

    const QString kPortal = "org.freedesktop.portal.Desktop", kPortalPath = "/org/freedesktop/portal/desktop",
                  kShortcuts = "org.freedesktop.portal.GlobalShortcuts";
    // dbusmock as the desktop's portal with global shortcuts. Each request answers (response code 0, or
    // `bindResponse` for BindShortcuts) on a Request object of its own, at the path derived from the caller's
    // name and token, before the call returns; BindShortcuts reports "Ctrl+F9" as each shortcut's trigger.
    bool startPortal(PrivateBus& bus, QProcess& mock, uint bindResponse = 0)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
        mock.setProcessEnvironment(env);
        mock.start("/usr/bin/python3", {"-m", "dbusmock", kPortal, kPortalPath, kShortcuts});
        const QString caller = bus.connection().baseService().mid(1).replace('.', '_');
        const QString answer = QString("path = '/org/freedesktop/portal/desktop/request/%1/' + args[-1]['handle_token']\n"
                                       "self.AddObject(path, 'org.freedesktop.portal.Request', {}, [])\n"
                                       "objects[path].EmitSignal('org.freedesktop.portal.Request', 'Response', 'ua{sv}', "
                                       "[dbus.UInt32(%2), results])\nret = dbus.ObjectPath(path)").arg(caller);
        const QString session = "results = {'session_handle': '/org/freedesktop/portal/desktop/session/" + caller
                                + "/' + args[0]['session_handle_token']}\n" + answer.arg(0);
        const QString bind = "results = {'shortcuts': dbus.Array([(s[0], dict(s[1], trigger_description='Ctrl+F9')) "
                             "for s in args[1]], signature='(sa{sv})')}\n" + answer.arg(bindResponse);
        const auto ok = [&](const QString& method, const QVariantList& args) {
            return bus.call(kPortal, kPortalPath, method, args).type() == QDBusMessage::ReplyMessage;
        };
        return bus.waitFor(kPortal) && ok("AddProperty", {kShortcuts, "version", QVariant::fromValue(QDBusVariant(1u))})
               && ok("AddMethod", {kShortcuts, "CreateSession", "a{sv}", "o", session})
               && ok("AddMethod", {kShortcuts, "BindShortcuts", "oa(sa{sv})sa{sv}", "o", bind});
    }
    bool press(PrivateBus& bus, const QString& session, const QString& id)
    {
        const QVariantList args{QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusObjectPath(session)))),
                                QVariant::fromValue(QDBusVariant(id)), QVariant::fromValue(QDBusVariant(qulonglong(7))),
                                QVariant::fromValue(QDBusVariant(QVariantMap()))};
        return bus.call(kPortal, kPortalPath, "EmitSignal", {kShortcuts, "Activated", "osta{sv}", args}).type()
               == QDBusMessage::ReplyMessage;
    }

    static DesktopNotification call(const QString& number, const QString& text = "Inkomende oproep")
    {
        return {"Titel", text, false, true, number};
    }

private slots:
    void initTestCase() { TestSupport::setApplicationIdentity(); }

    void notify_passesMessageAsTheServerReadsIt_data()
    {
        QTest::addColumn<QString>("capabilities");
        QTest::addColumn<bool>("error"); // else an incoming call
        QTest::addColumn<QString>("sent");
        const QString head = "Karvelon|0|karvelon|Titel|";
        QTest::newRow("call, server with actions") << "body actions" << false
            << head + "<Jan> & co|call-back,Terugbellen,copy-number,Nummer kopiëren|karvelon|call.incoming|1|7000";
        QTest::newRow("call, markup server") << "body body-markup" << false
                                             << head + "&lt;Jan&gt; &amp; co||karvelon|call.incoming|1|7000";
        QTest::newRow("error") << "actions body-markup" << true << head + "&lt;Jan&gt; &amp; co||karvelon||2|7000";
    }

    void notify_passesMessageAsTheServerReadsIt()
    {
        QFETCH(QString, capabilities);
        QFETCH(bool, error);
        QFETCH(QString, sent);
        PrivateBus bus;
        QVERIFY(bus.start() && startServer(bus, capabilities));
        DesktopNotifications notifications(bus.connection(), 5000);
        QSignalSpy shown(&notifications, &DesktopNotifications::shown);
        notifications.notify({"Titel", "<Jan> & co", error, !error, "0612", 7000});
        QTRY_COMPARE(shown.count(), 1);
        QCOMPARE(notifications.supportsActions(), capabilities.contains("actions"));
        QCOMPARE(notifyCalls(bus), QStringList{sent});
    }

    void actions_callTheirOwnCaller_untilTheServerChangesHands()
    {
        PrivateBus bus;
        QProcess* server = nullptr;
        QVERIFY(bus.start() && (server = startServer(bus, "body actions")));
        DesktopNotifications notifications(bus.connection(), 5000);
        QSignalSpy shown(&notifications, &DesktopNotifications::shown);
        QSignalSpy callBacks(&notifications, &DesktopNotifications::callBackRequested);
        QSignalSpy pages(&notifications, &DesktopNotifications::pageRequested);
        const DesktopNotification plainMessage{"Titel", "Bericht", false, false, "0203333333"};
        DesktopNotification anonymous = call(""); // the caller's page still opens
        anonymous.pageKey = "call-7", anonymous.page.name = "Jan";
        for (const DesktopNotification& n : {call("0201111111"), call("0302222222"), plainMessage, anonymous})
            notifications.notify(n);
        QTRY_COMPARE(shown.count(), 4);
        const uint first = shown[0][0].toUInt(), second = shown[1][0].toUInt(), plain = shown[2][0].toUInt();
        QCOMPARE(notifyCalls(bus).value(3).section('|', 5, 5), "open-page,Openen");
        QVERIFY(act(bus, shown[3][0].toUInt(), "open-page") && act(bus, first, "open-page"));
        QVERIFY(act(bus, second, "call-back") && act(bus, first, "call-back") && act(bus, first, "copy-number"));
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), "0201111111");
        QCOMPARE(pages.count(), 1);
        QCOMPARE(pages[0][0].toString() + pages[0][1].value<ScreenPop::Caller>().name, "call-7Jan");
        // None of these calls anyone; signals arrive in order, so the last call-back below shows it.
        QVERIFY(act(bus, plain, "call-back") && act(bus, 999, "call-back") && act(bus, second, "default"));
        QVERIFY(emitSignal(bus, "NotificationClosed", "uu", first, 2u) && act(bus, first, "call-back"));
        // The panel restarts with a server that reads markup and numbers from 1 again.
        bus.stop(server);
        QTRY_VERIFY(!notifications.supportsActions());
        QVERIFY(startServer(bus, "actions body-markup"));
        QTRY_VERIFY(notifications.supportsActions());
        notifications.notify(call("0304444444", "<b>"));
        QTRY_COMPARE(shown.count(), 5);
        QCOMPARE(notifyCalls(bus).value(0).section('|', 4, 4), "&lt;b&gt;");
        QVERIFY(act(bus, second, "call-back") && act(bus, shown[4][0].toUInt(), "call-back"));
        QTRY_COMPARE(callBacks.count(), 3);
        QCOMPARE(callBacks, (QList<QVariantList>{{"0302222222"}, {"0201111111"}, {"0304444444"}}));
    }

    void fallback_whenServerMissingRefusesOrIsSlow_data()
    {
        QTest::addColumn<QString>("notifyCode"); // empty: no server at all
        QTest::newRow("no server") << "";
        QTest::newRow("Notify fails") << "raise dbus.exceptions.DBusException('kapot', name='org.example.Kapot')";
        QTest::newRow("Notify too slow") << "time.sleep(3)\nret = 1";
    }

    void fallback_whenServerMissingRefusesOrIsSlow()
    {
        QFETCH(QString, notifyCode);
        PrivateBus bus;
        QVERIFY(bus.start());
        if (!notifyCode.isEmpty()) {
            QVERIFY(startServer(bus, "actions"));
            const QVariantList notify{kService, "Notify", "susssasa{sv}i", "u", notifyCode};
            QCOMPARE(bus.call(kService, kPath, "AddMethod", notify).type(), QDBusMessage::ReplyMessage);
        }
        DesktopNotifications notifications(bus.connection(), 300);
        SystemTrayIcon tray;
        Notifier notifier(&tray, &notifications);
        QSignalSpy balloons(&tray, &SystemTrayIcon::balloonShown);
        notifier.showIncomingCall("Bericht", "0612");
        QTRY_COMPARE(balloons.count(), 1); // the message is never lost
        QCOMPARE(balloons[0][1].toString(), "Bericht");
        if (!notifyCode.isEmpty())
            QVERIFY(TestSupport::logged().last().startsWith("Melding kon niet via de meldingenserver worden getoond: "));
    }

    // Our one shortcut bound through the desktop's portal, and only its presses passed on; bound again in a
    // new session; nothing without the portal, and a refusal reported.
    void portal_bindsOurShortcut_passesItsPresses()
    {
        PrivateBus bus;
        QProcess mock;
        QVERIFY(bus.start());
        GlobalShortcutsPortal portal(bus.connection());
        QSignalSpy activated(&portal, &GlobalShortcutsPortal::activated);
        portal.probe();
        QTRY_COMPARE(portal.state(), GlobalShortcutsPortal::Unavailable);
        portal.bind("CTRL+F9"); // nothing to bind with
        QCOMPARE(portal.state(), GlobalShortcutsPortal::Unavailable);

        QVERIFY(startPortal(bus, mock));
        portal.probe();
        QTRY_COMPARE(portal.state(), GlobalShortcutsPortal::Available);
        portal.bind(GlobalShortcutsPortal::triggerFor("Control", "F9"));
        QTRY_COMPARE(portal.state(), GlobalShortcutsPortal::Bound);
        QCOMPARE(portal.trigger(), "Ctrl+F9");
        QList<QVariantList> binds = PrivateBus::methodCalls(bus.call(kPortal, kPortalPath, "GetMethodCalls", {"BindShortcuts"}));
        QCOMPARE(binds.size(), 1);
        const QString session = binds[0][0].value<QDBusObjectPath>().path();
        const QDBusArgument shortcuts = binds[0][1].value<QDBusArgument>();
        QString id;
        QVariantMap properties;
        shortcuts.beginArray(), shortcuts.beginStructure(), shortcuts >> id >> properties;
        QCOMPARE(id + '|' + properties.value("description").toString() + '|' + properties.value("preferred_trigger").toString(),
                 "dial-selection|Nummer uit selectie bellen|CTRL+F9");

        // A signal is handed over before the reply to the call that sent it: one round of events delivers them.
        QVERIFY(press(bus, session, "other") && press(bus, session + "x", "dial-selection") && press(bus, session, "dial-selection"));
        QCoreApplication::processEvents();
        QCOMPARE(activated.count(), 1);
        portal.bind("ALT+F2"); // a new session; the old one's presses no longer count
        QTRY_COMPARE(portal.state(), GlobalShortcutsPortal::Bound);
        binds = PrivateBus::methodCalls(bus.call(kPortal, kPortalPath, "GetMethodCalls", {"BindShortcuts"}));
        QCOMPARE(binds.size(), 2);
        const QString second = binds[1][0].value<QDBusObjectPath>().path();
        QVERIFY(second != session && press(bus, session, "dial-selection") && press(bus, second, "dial-selection"));
        QCoreApplication::processEvents();
        QCOMPARE(activated.count(), 2);

        mock.kill(), mock.waitForFinished();
        QVERIFY(startPortal(bus, mock, 1)); // the user cancels the desktop's question
        portal.bind("CTRL+F9");
        QTRY_COMPARE(portal.state(), GlobalShortcutsPortal::Refused);
        mock.kill(), mock.waitForFinished();
    }

    // Where no key can be grabbed, the saved key goes to the desktop's portal once it is known to be there, only a
    // new choice binds again, and a press passes on; without the portal a choice is refused with the way out.
    void dialShortcut_bindsThroughThePortal()
    {
        PrivateBus bus;
        QProcess mock;
        QVERIFY(bus.start());
        QString why;
        {
            DialShortcut none(bus.connection());
            none.applyStored(); // nothing saved: only asks whether the portal is there
            QTRY_VERIFY(!none.apply("Control", "F9", why));
            QVERIFY(why.contains("--dial-selection"));
        }
        QVERIFY(startPortal(bus, mock));
        const auto binds = [&]() { return PrivateBus::methodCalls(bus.call(kPortal, kPortalPath, "GetMethodCalls", {"BindShortcuts"})); };
        Settings().set("ClickToDial", "Modifier", "Control");
        Settings().set("ClickToDial", "Hotkey", "F9");
        DialShortcut shortcut(bus.connection());
        QSignalSpy pressed(&shortcut, &DialShortcut::activated);
        shortcut.applyStored();
        QTRY_COMPARE(binds().size(), 1);
        QVERIFY(shortcut.apply("Alt", "F2", why));
        QTRY_COMPARE(binds().size(), 2);
        Settings().set("ClickToDial", "Modifier", "Alt");
        Settings().set("ClickToDial", "Hotkey", "F2");
        shortcut.applyStored(); // what the settings dialog just set
        QVERIFY(press(bus, binds().last().value(0).value<QDBusObjectPath>().path(), "dial-selection"));
        QTRY_COMPARE(pressed.count(), 1);
        QCOMPARE(binds().size(), 2);
        mock.kill(), mock.waitForFinished();
    }

    // Without X11 no key can be grabbed, and only the clipboard is read.
    void withoutX11_noHotKey_clipboardOnly()
    {
        GlobalHotKey key;
        QCOMPARE(key.setShortcut("Control", "F9"), GlobalHotKey::NotAvailable);
        QVERIFY(key.statusText().contains("--dial-selection"));
        SelectionReader reader;
        QVERIFY(!reader.readsSelection());
        QSignalSpy read(&reader, &SelectionReader::finished);
        QGuiApplication::clipboard()->setText("Bel 06-12 34 56 78 of 020 - 123 45 67");
        reader.read();
        QTRY_COMPARE(read.count(), 1);
        QCOMPARE(read[0][0].toStringList(), (QStringList{"0612345678", "0201234567"}));
        QCOMPARE(read[0][1].value<SelectionReader::Source>(), SelectionReader::Clipboard);
    }
};

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
