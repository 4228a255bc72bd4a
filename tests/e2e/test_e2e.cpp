// Journeys through the program on a virtual desktop with a real tray host,
// driven with xdotool against the service simulator; the launcher's probe
// tells what is on screen.
#include "E2eSupport.h"
#include "PbxSimulator.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QLocalSocket>
#include <QUrlQuery>
#include <QtTest>

class TestE2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!E2e::missingTools().isEmpty())
            QSKIP(qPrintable("not installed: " + E2e::missingTools()));
        QVERIFY(m_desktop.start() && m_sim.start());
    }

    void cleanup()
    {
        m_karvelon.kill();
        m_karvelon.waitForFinished();
        m_sim.reset();
    }

    void trayMenu_dialsTakesACallSavesSettingsAndQuits()
    {
        E2e::seedDemoCustomer(true, {"201", "202"});
        start(QStringList());
        QVERIFY(openTrayMenu("0201234567") && m_desktop.xdotool({"key", "Return"}));
        QTRY_COMPARE_WITH_TIMEOUT(calls("cltodlapp.php"), QStringList{"201 0201234567 ok"}, 15000);

        QTRY_VERIFY_WITH_TIMEOUT(m_sim.control("GET", "notify-state")["registered"].toInt() > 0, 30000);
        const QJsonObject call{{"callerID", "0612345678"}, {"did", "201"}, {"callid", "7"}, {"queue", ""}};
        QCOMPARE(m_sim.control("POST", "notify", call)["delivered"].toInt(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(state()["balloons"].toArray().contains("Inkomende oproep van 0612345678 op 201.\r\nqueue: "),
                                 15000);

        QVERIFY(openTrayMenu(QString()) && click("trayMenu", "actions", "Instellingen"));
        QTRY_VERIFY_WITH_TIMEOUT(click("Karvelon - Instellingen", "widgets", "txtCustomerNumber"), 15000);
        QVERIFY(m_desktop.xdotool({"key", "ctrl+a", "type", "100299"}));
        QVERIFY(click("Karvelon - Instellingen", "widgets", "btnSave"));
        QTRY_COMPARE_WITH_TIMEOUT(Settings().get("CustomerGroup", "Number").toString(), "100299", 10000);

        QVERIFY(openTrayMenu(QString()) && click("trayMenu", "actions", "Afsluiten"));
        QVERIFY(m_karvelon.waitForFinished(15000));
        QCOMPARE(m_karvelon.exitCode(), 0);
    }

    void callDialog_fromLinkSecondStartAndPlugin()
    {
        E2e::seedDemoCustomer(false);
        start({"--call", "tel:+31%2020-123%204567;ext=12"});
        callFromDialog({"+31201234567 (tel)"}, "thunderbird 0031201234567 ok");
        QCOMPARE(second({"--call", "Piet;0612345678=Mobiel;020=Werk"}), 0);
        callFromDialog({"0612345678 (Mobiel)", "020 (Werk)"}, "thunderbird 0612345678 ok");
        QCOMPARE(second({"--call", "callto:jan.jansen"}), 1);
        QLocalSocket plugin;
        plugin.connectToServer(m_config.commandServerName);
        QVERIFY(plugin.waitForConnected(5000) && plugin.write("ShowCallDialog;Jan;0201234567=Werk") > 0);
        QVERIFY(plugin.waitForBytesWritten(5000));
        callFromDialog({"0201234567 (Werk)"}, "msoutlook 0201234567 ok");
    }

private:
    void start(const QStringList& arguments)
    {
        m_config = m_sim.config();
        m_config.commandServerName = TestSupport::uniqueSocketPath("plugin");
        QProcessEnvironment env = E2e::launcherEnvironment(m_desktop.environment(), m_config);
        env.insert("KARVELON_E2E_PROBE", m_probe = TestSupport::uniqueSocketPath("probe"));
        m_karvelon.setProcessEnvironment(env);
        m_karvelon.setProcessChannelMode(QProcess::ForwardedChannels);
        m_karvelon.start(E2e::launcherPath(), arguments);
        QTRY_VERIFY_WITH_TIMEOUT(state()["tray"].toObject()["w"].toInt() > 0, 20000);
    }

    int second(const QStringList& arguments)
    {
        QProcess process;
        process.setProcessEnvironment(E2e::launcherEnvironment(m_desktop.environment(), m_config));
        process.start(E2e::launcherPath(), arguments);
        return process.waitForFinished(30000) ? process.exitCode() : -1;
    }

    QJsonObject state() const
    {
        QLocalSocket socket;
        socket.connectToServer(m_probe);
        socket.write("state\n");
        while (!socket.canReadLine() && socket.waitForReadyRead(5000)) {}
        return QJsonDocument::fromJson(socket.readLine()).object();
    }

    // A widget or menu entry (by object name or text) of a window (by title or object name).
    QJsonObject find(const QString& window, const char* list, const QString& nameOrText) const
    {
        for (const QJsonValue w : state()["windows"].toArray())
            for (const QJsonValue item : w[list].toArray())
                if ((w["title"].toString().startsWith(window) || w["name"] == window)
                    && (item["name"] == nameOrText || item["text"].toString().contains(nameOrText)))
                    return item.toObject();
        return QJsonObject();
    }

    bool click(const QString& window, const char* list, const QString& nameOrText) const
    {
        return click(find(window, list, nameOrText));
    }

    bool click(const QJsonObject& at, int button = 1) const
    {
        const int x = at["x"].toInt() + at["w"].toInt() / 2, y = at["y"].toInt() + at["h"].toInt() / 2;
        return at["enabled"].toBool() && m_desktop.xdotool({"mousemove", QString::number(x), QString::number(y),
                                                            "sleep", "0.2", "click", QString::number(button)});
    }

    // Opens the tray menu with a right click and types into its number field.
    bool openTrayMenu(const QString& number)
    {
        if (!click(state()["tray"].toObject(), 3))
            return false;
        for (int i = 0; i < 100 && state()["focus"] != "txtPhoneNumber"; ++i)
            QTest::qWait(100);
        return number.isEmpty() || m_desktop.xdotool({"type", "--delay", "30", number});
    }

    // The call dialog lists these numbers; "Bellen" places the call; the dialog is closed.
    void callFromDialog(const QStringList& numbers, const QString& call)
    {
        QTRY_VERIFY_WITH_TIMEOUT(find("Karvelon - Bel", "widgets", "cmbPhoneNumber")["items"].toVariant() == numbers, 15000);
        const int before = calls("ouctdpl.php").size();
        QVERIFY(click("Karvelon - Bel", "widgets", "btnCall"));
        QTRY_COMPARE_WITH_TIMEOUT(calls("ouctdpl.php").value(before), call, 15000);
        QVERIFY(click("Karvelon - Bel", "widgets", "btnCancel"));
    }

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

    E2e::Desktop m_desktop;
    PbxSimulator m_sim;
    ServiceConfig m_config;
    QProcess m_karvelon;
    QString m_probe;
};

QTEST_GUILESS_MAIN(TestE2e)
#include "test_e2e.moc"
