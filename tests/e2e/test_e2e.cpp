// Journeys through the program on a virtual desktop with a real tray host,
// driven with xdotool against the service simulator; the launcher's probe
// tells what is on screen.
#include "E2eSupport.h"
#include "PbxSimulator.h"
#include "Settings.h"
#include "TestSupport.h"
#include "TrayBadges.h"

#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QImage>
#include <QJsonArray>
#include <QLocalSocket>
#include <QUrlQuery>
#include <QtTest>

#include <functional>

class TestE2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!E2e::missingTools().isEmpty())
            QSKIP(qPrintable("not installed: " + E2e::missingTools()));
        QVERIFY(m_sim.start());
    }

    void init() { m_desktop.reset(new E2e::Desktop); }
    void cleanup() { m_karvelon.kill(), m_karvelon.waitForFinished(), m_sim.reset(); }

    void callDialogAndTrayMenu_dialTakeACallAndSaveSettings()
    {
        QVERIFY(m_desktop->start());
        E2e::seedDemoCustomer(true, {"201", "202"});
        const QString browser = E2e::installStandInBrowser();
        Settings().set("ScreenPop", "Url", "https://crm.example.nl/zoek?tel={nummer}&naam={naam}&op={op}");
        start({"--call", "tel:+31%2020-123%204567;ext=12"});
        // The start balloon points at the icon, not at a corner of the screen.
        QJsonObject balloon;
        QTRY_VERIFY_WITH_TIMEOUT(!(balloon = find("", "widgets", "Karvelon is actief!", true)).isEmpty(), 10000);
        const QJsonObject tray = state()["tray"].toObject();
        QVERIFY(qAbs(balloon["x"].toInt() - tray["x"].toInt()) < 400 && qAbs(balloon["y"].toInt() - tray["y"].toInt()) < 100);
        // A link at the start, a second start and a plug-in open the call dialog.
        callFromDialog("+31201234567 (tel)", "thunderbird 0031201234567 ok");
        QCOMPARE(second({"--call", "Piet;0612345678=Mobiel;020=Werk"}), 0);
        callFromDialog("0612345678 (Mobiel)", "thunderbird 0612345678 ok");
        QLocalSocket plugin;
        plugin.connectToServer(m_config.commandServerName);
        QVERIFY(plugin.waitForConnected(5000) && plugin.write("ShowCallDialog;Jan;0201234567=Werk") > 0);
        QVERIFY(plugin.waitForBytesWritten(5000));
        callFromDialog("0201234567 (Werk)", "msoutlook 0201234567 ok");

        QVERIFY(openTrayMenu("0201234567") && m_desktop->xdotool({"key", "Return"}));
        QTRY_COMPARE_WITH_TIMEOUT(calls("cltodlapp.php"), QStringList{"201 0201234567 ok"}, 15000);

        // Incoming calls open the caller's page through the desktop's browser, once per call, its values encoded;
        // the tray counts them until "Recente gesprekken" opens.
        const QJsonObject jan{{"callerID", "0612345678"}, {"did", "201"}, {"callid", "7"}, {"queue", ""},
                              {"contact", "Jansen & Zoë"}};
        QVERIFY(pushIncomingCall(jan) && pushIncomingCall(jan)); // announced twice
        QTRY_VERIFY_WITH_TIMEOUT(state()["balloons"].toArray().contains(
                                     "Inkomende oproep van Jansen & Zoë (0612345678) op 201.\r\nqueue: "), 15000);
        const QString name = "\u202Ex\r\n\t" + QString(9999, QChar(0x00E9));
        QVERIFY(pushIncomingCall({{"callerID", "0201"}, {"did", "201"}, {"callid", "8"}, {"contact", name}}));
        const QString crm = "https://crm.example.nl/zoek?tel=";
        const QStringList pages{crm + "0201&naam=x" + QString("%C3%A9").repeated(199) + "&op=201",
                                crm + "0612345678&naam=Jansen%20%26%20Zo%C3%AB&op=201"};
        QTRY_COMPARE_WITH_TIMEOUT(sorted(QString::fromUtf8(TestSupport::readFile(browser)).split('\n', Qt::SkipEmptyParts)),
                                  pages, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(trayToolTip().endsWith("\n3 nieuwe oproep(en)"), 10000);
        QVERIFY(openTrayMenu(QString()) && click("trayMenu", "actions", "Recente gesprekken"));
        QTRY_VERIFY_WITH_TIMEOUT(!trayToolTip().contains("nieuwe oproep"), 10000);
        QVERIFY(m_desktop->xdotool({"key", "Escape", "key", "Escape"}));
        QCOMPARE(QString::fromUtf8(TestSupport::readFile(browser)).count('\n'), 2); // still: one page per call

        QVERIFY(openTrayMenu(QString()) && click("trayMenu", "actions", "Instellingen"));
        QTRY_VERIFY_WITH_TIMEOUT(click("Karvelon - Instellingen", "widgets", "txtCustomerNumber"), 15000);
        QVERIFY(m_desktop->xdotool({"key", "ctrl+a", "type", "100299"}));
        QVERIFY(click("Karvelon - Instellingen", "widgets", "btnSave"));
        QTRY_COMPARE_WITH_TIMEOUT(Settings().get("CustomerGroup", "Number").toString(), "100299", 10000);
    }

    void statusNotifierTray_dialWindowNotificationActionsAndRecentCalls()
    {
        QVERIFY(m_desktop->start(E2e::Desktop::StatusNotifierTray));
        E2e::seedDemoCustomer(true, {"201", "202"});
        const QString browser = E2e::installStandInBrowser();
        Settings().set("ScreenPop", "Url", "https://crm.example.nl/{nummer}");
        Settings().set("ScreenPop", "Mode", "button");
        // "Niet storen" until shortly after the start: read back at the start, it ends by itself.
        const QDateTime quietUntil = QDateTime::currentDateTime().addSecs(30);
        Settings().set("Notifications", "DoNotDisturbUntil", quietUntil.toString(Qt::ISODate));
        start(QStringList(), false);
        QTRY_VERIFY_WITH_TIMEOUT(findStatusNotifierItem(), 20000);
        // The menu as the panel gets it: no nameless entry where the number field would be.
        const QMap<QString, int> menu = menuEntries();
        QVERIFY2(menu.contains("Nummer bellen…") && !menu.contains(QString()), qPrintable(menu.keys().join('|')));
        QVERIFY(menu.contains("Tot ik het uitzet") && menu.contains("Uitzetten"));
        QTRY_VERIFY(itemToolTip().endsWith("\nNiet storen tot " + quietUntil.toString("HH:mm")));
        QCOMPARE(itemBadges(), "d");

        // The entry, then a click on the icon, open the dial window; Return dials with the default account.
        QVERIFY(clickMenuEntry("Nummer bellen…"));
        QTRY_COMPARE_WITH_TIMEOUT(state()["focus"].toString(), "txtDialNumber", 15000);
        QVERIFY(m_desktop->xdotool({"type", "--delay", "30", "0201234567"}) && m_desktop->xdotool({"key", "Return"}));
        QTRY_COMPARE_WITH_TIMEOUT(calls("cltodlapp.php"), QStringList{"201 0201234567 ok"}, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(find("Karvelon - Bellen", "widgets", "txtDialNumber").isEmpty(), 15000);
        QCOMPARE(m_desktop->call(m_itemService, m_itemPath, "org.kde.StatusNotifierItem", "Activate", {0, 0}).type(),
                 QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(state()["focus"].toString(), "txtDialNumber", 15000);
        QVERIFY(m_desktop->xdotool({"type", "--delay", "30", "0207654321"}));
        QVERIFY(click("Karvelon - Bellen", "widgets", "cboSipAccount") && m_desktop->xdotool({"key", "Down", "Return"}));
        QTRY_COMPARE(find("Karvelon - Bellen", "widgets", "cboSipAccount")["text"].toString(), "Receptie");
        QVERIFY(click("Karvelon - Bellen", "widgets", "btnDial"));
        QTRY_COMPARE_WITH_TIMEOUT(calls("cltodlapp.php").value(1), "202 0207654321 ok", 15000);

        QTRY_VERIFY_WITH_TIMEOUT(!itemToolTip().contains("Niet storen") && !menuEntries().contains("Uitzetten"), 45000);
        QCOMPARE(itemBadges(), "");

        // An incoming call reaches the notification server with its actions; "Terugbellen" calls that caller,
        // "Openen" (twice) opens the caller's page once.
        QVERIFY(pushIncomingCall(QJsonObject{{"callerID", "0612345678"}, {"did", "201"}}));
        QVariantList notify;
        QTRY_VERIFY_WITH_TIMEOUT((notify = notifyCalls().value(notifyCalls().size() - 1)).value(4).toString()
                                     .startsWith("Inkomende oproep van 0612345678 op 201."), 15000);
        QVERIFY(notify.value(5).toStringList().contains("Terugbellen") && notify.value(5).toStringList().contains("Openen"));
        for (const char* action : {"open-page", "open-page", "call-back"}) {
            const QVariantList invoked{uint(notifyCalls().size()), action};
            QCOMPARE(mock("EmitSignal", {kNotifications, "ActionInvoked", "us", invoked}).type(),
                     QDBusMessage::ReplyMessage);
        }
        QTRY_COMPARE_WITH_TIMEOUT(calls("cltodlapp.php").value(2), "201 0612345678 ok", 15000);
        QTRY_COMPARE_WITH_TIMEOUT(TestSupport::readFile(browser), "https://crm.example.nl/0612345678\n", 15000);

        // "Niet storen" from the menu: calls are recorded and counted, but not shown; both survive a restart.
        QVERIFY(clickMenuEntry("Tot ik het uitzet"));
        QTRY_VERIFY(itemToolTip().endsWith("\nNiet storen\n1 nieuwe oproep(en)"));
        const int shown = notifyCalls().size();
        QVERIFY(pushIncomingCall({{"callerID", "0201111111"}, {"did", "201"}})
                && pushIncomingCall({{"callerID", "0202222222"}, {"did", "201"}}));
        QTRY_VERIFY_WITH_TIMEOUT(itemToolTip().endsWith("\nNiet storen\n3 nieuwe oproep(en)"), 15000);
        QVERIFY(menuEntries().keys().filter("0202222222").size() == 1);
        QCOMPARE(notifyCalls().size(), shown);
        QCOMPARE(itemBadges(), "cd");
        QVERIFY(clickMenuEntry("Afsluiten") && m_karvelon.waitForFinished(15000));
        start(QStringList(), false);
        QTRY_VERIFY_WITH_TIMEOUT(findStatusNotifierItem() && itemToolTip().endsWith("\nNiet storen\n3 nieuwe oproep(en)"),
                                 20000);
        // Opening "Recente gesprekken" has seen them.
        QVERIFY(aboutToShow("Recente gesprekken"));
        QTRY_VERIFY(!itemToolTip().contains("nieuwe oproep"));
        QCOMPARE(itemBadges(), "d");
        QVERIFY(clickMenuEntry("Uitzetten"));
        QTRY_VERIFY(!itemToolTip().contains("Niet storen"));

        // The caller is in "Recente gesprekken"; choosing the entry calls back once more.
        QTRY_VERIFY_WITH_TIMEOUT(clickMenuEntry("0612345678"), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(calls("cltodlapp.php").value(3), "201 0612345678 ok", 15000);

        // The panel restarts: the icon comes back with its menu.
        QVERIFY(m_desktop->restartStatusNotifierWatcher());
        QTRY_VERIFY_WITH_TIMEOUT(findStatusNotifierItem(), 15000);
        QVERIFY(clickMenuEntry("Afsluiten") && m_karvelon.waitForFinished(15000));
        QCOMPARE(m_karvelon.exitCode(), 0);
    }

    void noTray_secondStartOpensDialWindowAndCallsReachTheServer()
    {
        QVERIFY(m_desktop->start(E2e::Desktop::NoTray));
        E2e::seedDemoCustomer(true);
        start(QStringList(), false);
        QCOMPARE(second(QStringList()), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!find("Karvelon - Bellen", "widgets", "btnSettings").isEmpty(), 15000);

        QVERIFY(pushIncomingCall(QJsonObject{{"callerID", "0612345678"}, {"did", "201"}}));
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop->run("dunstctl", {"count", "displayed"}).value_or("0").trimmed() != "0",
                                 15000);
        const QString screenshots = QCoreApplication::applicationDirPath() + "/e2e-screenshots";
        QVERIFY(QDir().mkpath(screenshots)
                && m_desktop->run("import", {"-window", "root", screenshots + "/no-tray-dunst.png"}));
        // dunst keeps what it showed in its history once closed.
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop->run("dunstctl", {"close-all"}) && m_desktop->run("dunstctl", {"history"})
                                     .value_or("").contains("Inkomende oproep van 0612345678 op 201."), 15000);
        QVERIFY(state()["balloons"].toArray().isEmpty());
    }

    // The hot key and a second start with --dial-selection open the dial window with the number selected, or copied
    // when nothing is selected; Return calls it with the default account. A key another program holds is reported
    // in the settings, and the program runs on.
    void hotKey_dialsTheSelectedOrCopiedNumber()
    {
        QVERIFY(m_desktop->start());
        E2e::seedDemoCustomer(false);
        Settings().set("ClickToDial", "Modifier", "Control");
        Settings().set("ClickToDial", "Hotkey", "F9");
        start(QStringList());
        const struct { QString primary, clipboard, how, number, call; } table[] = {
            {"Bel Jan: 020 - 123 45 67", "", "ctrl+F9", "0201234567", "201 0201234567 ok"},
            {"Mobiel 06-12 34 56 78", "", "Num_Lock ctrl+F9 Num_Lock", "0612345678", "201 0612345678 ok"},
            {"", "T +31 (0)20-765 43 21", "ctrl+F9", "+31207654321", "201 0031207654321 ok"},
            {"tel:0201112233", "", "--dial-selection", "0201112233", "201 0201112233 ok"}};
        for (const auto& row : table) {
            QVERIFY(put("primary", row.primary) && (row.clipboard.isEmpty() || put("clipboard", row.clipboard)));
            if (row.how.startsWith("--"))
                QCOMPARE(second({row.how}), 0);
            else
                QVERIFY(m_desktop->xdotool(QStringList("key") + row.how.split(' ')));
            QTRY_COMPARE_WITH_TIMEOUT(find("Karvelon - Bellen", "widgets", "txtDialNumber")["text"].toString(), row.number, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(state()["focus"].toString(), "txtDialNumber", 10000);
            const int before = calls("cltodlapp.php").size();
            QVERIFY(m_desktop->xdotool({"key", "Return"}));
            QTRY_COMPARE_WITH_TIMEOUT(calls("cltodlapp.php").value(before), row.call, 15000);
        }

        m_karvelon.kill(), m_karvelon.waitForFinished();
        QProcess holder;
        holder.setProcessEnvironment(m_desktop->environment());
        holder.start(KARVELON_X11_PEER, {"grab", "Control", "F9"});
        QVERIFY(holder.waitForReadyRead(10000) && holder.readLine().trimmed() == "grabbed");
        start(QStringList());
        QVERIFY(openTrayMenu(QString()) && click("trayMenu", "actions", "Instellingen"));
        // The hot key's note first; this desktop has no keyring, whose note follows on the next line.
        QTRY_COMPARE_WITH_TIMEOUT(
            find("Karvelon - Instellingen", "widgets", "lblSettingsStatus")["text"].toString().split('\n').first(),
            "Deze sneltoets is al in gebruik door een ander programma.", 15000);
        holder.kill(), holder.waitForFinished();
    }

private:
    // Text selected (PRIMARY) or copied (CLIPBOARD), as another program offers it.
    bool put(const QString& selection, const QString& text) const
    {
        return m_desktop->run("sh", {"-c", "printf %s \"$0\" | xclip -selection " + selection, text})
               && QTest::qWaitFor([&]() { return m_desktop->run("xclip", {"-o", "-selection", selection}) == text; }, 5000);
    }

    // Once the notification channel is up, the service pushes a call.
    bool pushIncomingCall(const QJsonObject& call)
    {
        return QTest::qWaitFor([this]() { return m_sim.control("GET", "notify-state")["registered"].toInt() > 0; }, 30000)
               && m_sim.control("POST", "notify", call)["delivered"].toInt() == 1;
    }

    // placed: wait until an XEmbed tray host has placed the icon.
    void start(const QStringList& arguments, bool placed = true)
    {
        m_config = m_sim.config();
        m_config.commandServerName = TestSupport::uniqueSocketPath("plugin");
        QProcessEnvironment env = E2e::launcherEnvironment(m_desktop->environment(), m_config);
        env.insert("KARVELON_E2E_PROBE", m_probe = TestSupport::uniqueSocketPath("probe"));
        m_karvelon.setProcessEnvironment(env);
        m_karvelon.setProcessChannelMode(QProcess::ForwardedChannels);
        m_karvelon.start(E2e::launcherPath(), arguments);
        QTRY_VERIFY_WITH_TIMEOUT(state().contains("tray") && (!placed || state()["tray"].toObject()["w"].toInt() > 0),
                                 20000);
    }

    int second(const QStringList& arguments)
    {
        QProcess process;
        process.setProcessEnvironment(E2e::launcherEnvironment(m_desktop->environment(), m_config));
        process.start(E2e::launcherPath(), arguments);
        return process.waitForFinished(30000) ? process.exitCode() : -1;
    }

    static QStringList sorted(QStringList list) { return list.sort(), list; }

    QString trayToolTip() const { return state()["tray"].toObject()["text"].toString(); }

    QJsonObject state() const
    {
        QLocalSocket socket;
        socket.connectToServer(m_probe);
        socket.write("state\n");
        while (!socket.canReadLine() && socket.waitForReadyRead(5000)) {}
        return QJsonDocument::fromJson(socket.readLine()).object();
    }

    // A widget or menu entry (by object name or text) of a window (by title or object name), or that window.
    QJsonObject find(const QString& window, const char* list, const QString& nameOrText, bool itsWindow = false) const
    {
        for (const QJsonValue w : state()["windows"].toArray())
            for (const QJsonValue item : w[list].toArray())
                if ((w["title"].toString().startsWith(window) || w["name"] == window)
                    && (item["name"] == nameOrText || item["text"].toString().contains(nameOrText)))
                    return (itsWindow ? w : item).toObject();
        return QJsonObject();
    }

    bool click(const QString& window, const char* list, const QString& name) const
    {
        return click(find(window, list, name));
    }

    bool click(const QJsonObject& at, int button = 1) const
    {
        const int x = at["x"].toInt() + at["w"].toInt() / 2, y = at["y"].toInt() + at["h"].toInt() / 2;
        return at["enabled"].toBool() && m_desktop->xdotool({"mousemove", QString::number(x), QString::number(y),
                                                            "sleep", "0.2", "click", QString::number(button)});
    }

    // Opens the tray menu with a right click and types into its number field.
    bool openTrayMenu(const QString& number)
    {
        const bool clicked = click(state()["tray"].toObject(), 3);
        const bool focused = QTest::qWaitFor([&]() { return state()["focus"] == "txtPhoneNumber"; }, 10000);
        return clicked && (number.isEmpty() || (focused && m_desktop->xdotool({"type", "--delay", "30", number})));
    }

    // The call dialog offers this number first; "Bellen" places the call; the dialog is closed.
    void callFromDialog(const QString& number, const QString& call)
    {
        QTRY_COMPARE_WITH_TIMEOUT(find("Karvelon - Bel", "widgets", "cmbPhoneNumber")["text"].toString(), number, 15000);
        const int before = calls("ouctdpl.php").size();
        QVERIFY(click("Karvelon - Bel", "widgets", "btnCall"));
        QTRY_COMPARE_WITH_TIMEOUT(calls("ouctdpl.php").value(before), call, 15000);
        QVERIFY(click("Karvelon - Bel", "widgets", "btnCancel"));
    }

    // The program's item as the watcher lists it, and the path of its menu.
    bool findStatusNotifierItem()
    {
        const QString item = m_desktop->statusNotifierItem();
        m_itemService = item.section('/', 0, 0);
        m_itemPath = item.contains('/') ? '/' + item.section('/', 1) : "/StatusNotifierItem";
        const QDBusMessage menuPath = m_desktop->call(m_itemService, m_itemPath, "org.freedesktop.DBus.Properties", "Get",
                                                      {"org.kde.StatusNotifierItem", "Menu"});
        m_menuPath = menuPath.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path();
        return !item.isEmpty() && !m_menuPath.isEmpty();
    }

    // The entries of the exported tray menu, at any depth: label (without mnemonic marks) to id.
    QMap<QString, int> menuEntries() const
    {
        const QDBusMessage reply = m_desktop->call(m_itemService, m_menuPath, "com.canonical.dbusmenu", "GetLayout",
                                                   {0, -1, QStringList()});
        QMap<QString, int> entries;
        std::function<void(const QDBusArgument&)> read = [&](const QDBusArgument& item) {
            int id = 0;
            QVariantMap properties;
            item.beginStructure(), item >> id >> properties, item.beginArray();
            if (id != 0 && properties.value("type") != "separator" && properties.value("visible", true).toBool())
                entries.insert(properties.value("label").toString().remove('_'), id);
            for (QDBusVariant child; !item.atEnd(); read(child.variant().value<QDBusArgument>()))
                item >> child;
            item.endArray(), item.endStructure();
        };
        if (reply.arguments().size() == 2)
            read(reply.arguments().at(1).value<QDBusArgument>());
        return entries;
    }

    // Clicks the first entry whose label contains this text.
    bool clickMenuEntry(const QString& label) const
    {
        const QMap<QString, int> entries = menuEntries();
        const int id = entries.value(entries.keys().filter(label).value(0), -1);
        return id > 0 && m_desktop->call(m_itemService, m_menuPath, "com.canonical.dbusmenu", "Event",
                                         {id, "clicked", QVariant::fromValue(QDBusVariant(0)), uint(0)})
                                 .type() == QDBusMessage::ReplyMessage;
    }

    // The panel opens a submenu.
    bool aboutToShow(const QString& label) const
    {
        const int id = menuEntries().value(label, -1);
        return id > 0 && m_desktop->call(m_itemService, m_menuPath, "com.canonical.dbusmenu", "AboutToShow", {id}).type()
                             == QDBusMessage::ReplyMessage;
    }

    QDBusArgument itemProperty(const QString& name) const
    {
        const QDBusMessage reply = m_desktop->call(m_itemService, m_itemPath, "org.freedesktop.DBus.Properties", "Get",
                                                   {"org.kde.StatusNotifierItem", name});
        return reply.arguments().value(0).value<QDBusVariant>().variant().value<QDBusArgument>();
    }
    // The largest of an icon's pictures as the item sends them: ARGB32 in network byte order.
    static QImage largest(const QDBusArgument& pictures)
    {
        QImage image;
        pictures.beginArray();
        while (!pictures.atEnd()) {
            int w = 0, h = 0;
            QByteArray data;
            pictures.beginStructure(), pictures >> w >> h >> data, pictures.endStructure();
            if (w <= image.width() || data.size() != w * h * 4)
                continue;
            image = QImage(w, h, QImage::Format_ARGB32);
            const auto* p = reinterpret_cast<const uchar*>(data.constData());
            for (int i = 0; i < w * h; ++i, p += 4)
                image.setPixel(i % w, i / w, qRgba(p[1], p[2], p[3], p[0]));
        }
        pictures.endArray();
        return image;
    }
    // The tooltip and the icon's badges as the panel gets them.
    QString itemToolTip() const
    {
        const QDBusArgument tip = itemProperty("ToolTip");
        QString icon, title, text;
        tip.beginStructure(), tip >> icon, largest(tip), tip >> title >> text, tip.endStructure();
        return title;
    }
    QString itemBadges() const { return TestSupport::trayBadges(largest(itemProperty("IconPixmap"))); }

    QDBusMessage mock(const QString& method, const QVariantList& arguments) const
    {
        return m_desktop->call(kNotifications, "/org/freedesktop/Notifications", "org.freedesktop.DBus.Mock", method,
                               arguments);
    }
    // The arguments of every Notify the mock server got, oldest first.
    QList<QVariantList> notifyCalls() const { return PrivateBus::methodCalls(mock("GetMethodCalls", {"Notify"})); }

    // The simulator's calls through a script: "<account or source> <number> <verdict>".
    QStringList calls(const QString& script)
    {
        QStringList result;
        for (const QJsonValue request : m_sim.requests()) {
            const QUrlQuery query(request["rawQuery"].toString());
            const QString number = query.queryItemValue("telnr", QUrl::FullyDecoded);
            if (request["endpoint"].toString().endsWith(script) && number != "0")
                result << query.queryItemValue(script == "ouctdpl.php" ? "options" : "sipacc") + ' ' + number + ' '
                              + request["verdict"].toString();
        }
        return result;
    }

    const QString kNotifications = "org.freedesktop.Notifications";
    QScopedPointer<E2e::Desktop> m_desktop;
    PbxSimulator m_sim;
    ServiceConfig m_config;
    QProcess m_karvelon;
    QString m_probe;
    QString m_itemService, m_itemPath, m_menuPath;
};

QTEST_GUILESS_MAIN(TestE2e)
#include "test_e2e.moc"
