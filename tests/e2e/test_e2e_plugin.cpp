// An address-book plug-in asks the running program for the call dialog over
// the shared socket "/tmp/Karvelon", on a virtual desktop with a tray host.
// The socket path is fixed, so this test runs alone and stays away when a
// Karvelon of someone else already serves it.
#include "E2eSupport.h"
#include "PbxSimulator.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QtTest>

#include <unistd.h>

using E2e::Karvelon;

namespace {
const QString PluginSocket = QStringLiteral("/tmp/Karvelon");
}

class TestE2ePlugin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pluginCommand_showsDialogAndCalls();

private:
    E2e::VirtualDesktop m_desktop;
    PbxSimulator m_sim;
};

void TestE2ePlugin::initTestCase()
{
    const QString missing = E2e::missingTools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing));
    const QFileInfo existing(PluginSocket);
    if (existing.exists() && existing.ownerId() != ::getuid())
        QSKIP("/tmp/Karvelon belongs to another user; it cannot be taken over");
    QLocalSocket probe;
    probe.connectToServer(PluginSocket);
    if (probe.waitForConnected(1000)) {
        probe.abort();
        QSKIP("/tmp/Karvelon is served by a running Karvelon; not taking it over");
    }
    QVERIFY2(m_desktop.start(), "virtual desktop did not start");
    QVERIFY2(m_sim.start(), m_sim.output().constData());
}

void TestE2ePlugin::pluginCommand_showsDialogAndCalls()
{
    Karvelon k(m_desktop, m_sim, QStringLiteral("p"));
    k.setCommandServer(QString());
    QVERIFY(k.start());
    QVERIFY(k.waitForTray());

    QLocalSocket plugin;
    QTRY_VERIFY_WITH_TIMEOUT(
        (plugin.abort(), plugin.connectToServer(PluginSocket), plugin.waitForConnected(500)), 10000);
    plugin.write(QString::fromUtf8("ShowCallDialog;Jan Jansen;0201234567=Werk;0612345678=Mobiel").toUtf8());
    QVERIFY(plugin.waitForBytesWritten(5000));
    plugin.disconnectFromServer();

    const QString title = QStringLiteral("Karvelon - Bel");
    QJsonObject numbers;
    QTRY_VERIFY_WITH_TIMEOUT(!(numbers = Karvelon::child(k.window(title), QStringLiteral("cmbPhoneNumber"))).isEmpty(),
                             15000);
    QCOMPARE(numbers.value("items").toArray(),
             (QJsonArray{QStringLiteral("0201234567 (Werk)"), QStringLiteral("0612345678 (Mobiel)")}));
    QVERIFY(m_desktop.click(Karvelon::centre(Karvelon::child(k.window(title), QStringLiteral("btnCall")))));
    QTRY_VERIFY_WITH_TIMEOUT(Karvelon::child(k.window(title), QStringLiteral("lblStatus"))
                                 .value("text").toString().contains(QString::fromUtf8("Gesprek succesvol geïnitieerd")),
                             15000);
    m_desktop.screenshot(QStringLiteral("plugin-call-dialog"));

    const QJsonArray calls = E2e::callsTo(m_sim, QStringLiteral("ouctdpl.php"));
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.at(0).toObject().value("verdict").toString(), QStringLiteral("ok"));
    QCOMPARE(E2e::queryValue(calls.at(0).toObject(), QStringLiteral("options")), QStringLiteral("msoutlook"));
    QCOMPARE(E2e::queryValue(calls.at(0).toObject(), QStringLiteral("telnr")), QStringLiteral("0201234567"));
    QCOMPARE(E2e::queryValue(calls.at(0).toObject(), QStringLiteral("apiID")), QStringLiteral("outlook-demo"));

    // Close the dialog, then quit from the tray so the shared socket is
    // given back cleanly.
    QVERIFY(m_desktop.click(Karvelon::centre(Karvelon::child(k.window(title), QStringLiteral("btnCancel")))));
    QTRY_VERIFY_WITH_TIMEOUT(k.window(title).isEmpty(), 10000);
    const QJsonObject menu = k.openTrayMenu();
    QVERIFY(!menu.isEmpty());
    QVERIFY(m_desktop.click(Karvelon::centre(Karvelon::action(menu, QStringLiteral("&Afsluiten")))));
    int exitCode = -2;
    QVERIFY(k.waitForExit(15000, &exitCode));
    QCOMPARE(exitCode, 0);
    QVERIFY(!QFile::exists(PluginSocket));
}

QTEST_GUILESS_MAIN(TestE2ePlugin)
#include "test_e2e_plugin.moc"
