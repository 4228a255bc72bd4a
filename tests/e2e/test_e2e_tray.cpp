// The program as a person uses it: on a virtual X server with a window
// manager and a real tray host, driven with xdotool, against the service
// simulator. Each case starts its own instance in a fresh profile and saves
// a screenshot into <build>/e2e-screenshots.
#include "E2eSupport.h"
#include "PbxSimulator.h"
#include "TestSupport.h"

#include <QtTest>

using E2e::Karvelon;

class TestE2eTray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void trayMenu_returnCallsWithTheDefaultAccount();
    void trayMenu_callWithPicksTheAccount();
    void incomingCall_showsBalloonAndIsLogged();
    void settings_openFromMenuAndSave();
    void secondStart_callShowsTheDialog();
    void phoneLink_startsTheProgramWithTheDialog();
    void phoneLink_secondStartShowsTheDialog();
    void quit_endsWithExitCodeZero();

private:
    Karvelon& startKarvelon(const QStringList& arguments = QStringList(), const QStringList& checkedAccounts = {});

    E2e::VirtualDesktop m_desktop;
    PbxSimulator m_sim;
    std::unique_ptr<Karvelon> m_karvelon;
    int m_profiles = 0;
};

void TestE2eTray::initTestCase()
{
    const QString missing = E2e::missingTools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing));
    QVERIFY2(m_desktop.start(), "virtual desktop did not start");
    QVERIFY2(m_sim.start(), m_sim.output().constData());
}

void TestE2eTray::cleanup()
{
    if (m_karvelon)
        m_desktop.screenshot(QStringLiteral("tray-") + QString::fromLatin1(QTest::currentTestFunction()));
    m_karvelon.reset();
    m_sim.reset();
}

Karvelon& TestE2eTray::startKarvelon(const QStringList& arguments, const QStringList& checkedAccounts)
{
    // Short profile names: the instance socket lives in the profile, and a
    // socket path has little room.
    m_karvelon = std::make_unique<Karvelon>(m_desktop, m_sim, QString::number(++m_profiles));
    if (!checkedAccounts.isEmpty())
        m_karvelon->checkClickToDialAccounts(checkedAccounts);
    if (!m_karvelon->start(arguments))
        qWarning("launcher did not start");
    return *m_karvelon;
}

void TestE2eTray::trayMenu_returnCallsWithTheDefaultAccount()
{
    Karvelon& k = startKarvelon();
    QVERIFY(k.waitForTray());
    QVERIFY(!k.openTrayMenu().isEmpty());
    QVERIFY(m_desktop.type(QStringLiteral("0201234567")));
    QTRY_COMPARE_WITH_TIMEOUT(
        Karvelon::child(k.window(QStringLiteral("trayMenu")), QStringLiteral("txtPhoneNumber")).value("text").toString(),
        QStringLiteral("0201234567"), 10000);
    m_desktop.screenshot(QStringLiteral("tray-number-typed"));
    QVERIFY(m_desktop.key(QStringLiteral("Return")));

    QTRY_COMPARE_WITH_TIMEOUT(E2e::callsTo(m_sim, QStringLiteral("cltodlapp.php")).size(), 1, 15000);
    const QJsonObject call = E2e::callsTo(m_sim, QStringLiteral("cltodlapp.php")).at(0).toObject();
    QCOMPARE(call.value("verdict").toString(), QStringLiteral("ok"));
    QCOMPARE(E2e::queryValue(call, QStringLiteral("sipacc")), QStringLiteral("201"));
    QCOMPARE(E2e::queryValue(call, QStringLiteral("telnr")), QStringLiteral("0201234567"));
    QCOMPARE(E2e::queryValue(call, QStringLiteral("apiID")), QStringLiteral("c2d-demo"));
    // The menu closes after the call.
    QTRY_VERIFY_WITH_TIMEOUT(k.window(QStringLiteral("trayMenu")).isEmpty(), 5000);
}

void TestE2eTray::trayMenu_callWithPicksTheAccount()
{
    // "Bel met" offers the accounts the user checked for the menu.
    Karvelon& k = startKarvelon({}, {QStringLiteral("201"), QStringLiteral("202")});
    QVERIFY(k.waitForTray());
    QVERIFY(!k.openTrayMenu().isEmpty());
    QVERIFY(m_desktop.type(QStringLiteral("0612345678")));

    QJsonObject callWith;
    QTRY_VERIFY_WITH_TIMEOUT(
        (callWith = Karvelon::action(k.window(QStringLiteral("trayMenu")), QStringLiteral("Bel met")))
                .value("enabled").toBool(), 10000);
    // A click on the entry opens its submenu at once.
    QVERIFY(m_desktop.click(Karvelon::centre(callWith)));
    QJsonObject reception;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(reception = Karvelon::action(k.window(QStringLiteral("mnuCallWith")), QStringLiteral("Receptie"))).isEmpty(),
        10000);
    m_desktop.screenshot(QStringLiteral("tray-call-with"));
    QVERIFY(m_desktop.click(Karvelon::centre(reception)));

    QTRY_COMPARE_WITH_TIMEOUT(E2e::callsTo(m_sim, QStringLiteral("cltodlapp.php")).size(), 1, 15000);
    const QJsonObject call = E2e::callsTo(m_sim, QStringLiteral("cltodlapp.php")).at(0).toObject();
    QCOMPARE(call.value("verdict").toString(), QStringLiteral("ok"));
    QCOMPARE(E2e::queryValue(call, QStringLiteral("sipacc")), QStringLiteral("202"));
    QCOMPARE(E2e::queryValue(call, QStringLiteral("telnr")), QStringLiteral("0612345678"));
}

void TestE2eTray::incomingCall_showsBalloonAndIsLogged()
{
    Karvelon& k = startKarvelon();
    QVERIFY(k.waitForTray());
    QTRY_VERIFY_WITH_TIMEOUT(
        m_sim.control("GET", QStringLiteral("notify-state")).toObject().value("registered").toInt() >= 1, 30000);

    const QJsonObject event{{"callerID", "0612345678"}, {"did", "201"}, {"contact", "Pietersen"},
                            {"callid", "77"}, {"queue", ""}};
    QCOMPARE(m_sim.control("POST", QStringLiteral("notify"), event).toObject().value("delivered").toInt(), 1);

    auto balloonText = [&k]() {
        const QJsonArray balloons = k.state().value("balloons").toArray();
        for (const QJsonValue& b : balloons) {
            if (b.toObject().value("text").toString().startsWith(QLatin1String("Inkomende oproep van")))
                return b.toObject().value("text").toString();
        }
        return QString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!balloonText().isEmpty(), 15000);
    QVERIFY2(balloonText().contains(QLatin1String("0612345678")), qPrintable(balloonText()));
    // Qt draws the balloon itself over the tray icon when no notification
    // service is around: a real window on the screen.
    QTRY_VERIFY_WITH_TIMEOUT(!k.window(QStringLiteral("QBalloonTip")).isEmpty(), 10000);
    m_desktop.screenshot(QStringLiteral("tray-incoming-call"));
    // The log keeps the same text (JSON records: compare the first line).
    const QByteArray logged = balloonText().section(QLatin1Char('\r'), 0, 0).toUtf8();
    QTRY_VERIFY2_WITH_TIMEOUT(k.log().contains(logged), (logged + " not in the log:\n" + k.log()).constData(), 10000);
}

void TestE2eTray::settings_openFromMenuAndSave()
{
    Karvelon& k = startKarvelon();
    QVERIFY(k.waitForTray());
    const QJsonObject menu = k.openTrayMenu();
    QVERIFY(!menu.isEmpty());
    QVERIFY(m_desktop.click(Karvelon::centre(Karvelon::action(menu, QStringLiteral("&Instellingen")))));

    const QString title = QStringLiteral("Karvelon - Instellingen");
    QJsonObject field;
    QTRY_VERIFY_WITH_TIMEOUT(!(field = Karvelon::child(k.window(title), QStringLiteral("txtCustomerNumber"))).isEmpty(),
                             15000);
    QCOMPARE(field.value("text").toString(), QStringLiteral("100234"));
    QVERIFY(m_desktop.click(Karvelon::centre(field)));
    QVERIFY(m_desktop.key(QStringLiteral("ctrl+a")));
    QVERIFY(m_desktop.type(QStringLiteral("100299")));
    QTRY_COMPARE_WITH_TIMEOUT(
        Karvelon::child(k.window(title), QStringLiteral("txtCustomerNumber")).value("text").toString(),
        QStringLiteral("100299"), 10000);
    m_desktop.screenshot(QStringLiteral("tray-settings"));
    QVERIFY(m_desktop.click(Karvelon::centre(Karvelon::child(k.window(title), QStringLiteral("btnSave")))));

    QTRY_VERIFY_WITH_TIMEOUT(k.window(title).isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::readFile(k.settingsFile()).contains("Number=100299"), 10000);
    // Nothing else was lost on the way.
    QVERIFY(TestSupport::readFile(k.settingsFile()).contains("Id=c2d-demo"));
}

void TestE2eTray::secondStart_callShowsTheDialog()
{
    Karvelon& k = startKarvelon();
    QVERIFY(k.waitForTray());
    QCOMPARE(k.runSecond({QStringLiteral("--call"), QStringLiteral("Piet Pietersen;0612345678=Mobiel;0201234567=Werk")}),
             0);

    const QString title = QStringLiteral("Karvelon - Bel");
    QJsonObject numbers;
    QTRY_VERIFY_WITH_TIMEOUT(!(numbers = Karvelon::child(k.window(title), QStringLiteral("cmbPhoneNumber"))).isEmpty(),
                             15000);
    QCOMPARE(numbers.value("items").toArray(),
             (QJsonArray{QStringLiteral("0612345678 (Mobiel)"), QStringLiteral("0201234567 (Werk)")}));
    QVERIFY(Karvelon::child(k.window(title), QStringLiteral("lblCallInformation"))
                .value("text").toString().contains(QLatin1String("Piet Pietersen")));

    QVERIFY(m_desktop.click(Karvelon::centre(Karvelon::child(k.window(title), QStringLiteral("btnCall")))));
    QTRY_VERIFY_WITH_TIMEOUT(Karvelon::child(k.window(title), QStringLiteral("lblStatus"))
                                 .value("text").toString().contains(QString::fromUtf8("Gesprek succesvol geïnitieerd")),
                             15000);
    m_desktop.screenshot(QStringLiteral("tray-second-start-dialog"));
    const QJsonArray calls = E2e::callsTo(m_sim, QStringLiteral("ouctdpl.php"));
    QCOMPARE(calls.size(), 1);
    QCOMPARE(E2e::queryValue(calls.at(0).toObject(), QStringLiteral("options")), QStringLiteral("thunderbird"));
    QCOMPARE(E2e::queryValue(calls.at(0).toObject(), QStringLiteral("telnr")), QStringLiteral("0612345678"));
}

void TestE2eTray::phoneLink_startsTheProgramWithTheDialog()
{
    // No instance runs: the link starts the program, which then asks.
    Karvelon& k = startKarvelon({QStringLiteral("--call"), QStringLiteral("tel:+31%2020-123%204567;ext=12")});
    QVERIFY(k.waitForTray());
    const QString title = QStringLiteral("Karvelon - Bel");
    QJsonObject numbers;
    QTRY_VERIFY_WITH_TIMEOUT(!(numbers = Karvelon::child(k.window(title), QStringLiteral("cmbPhoneNumber"))).isEmpty(),
                             15000);
    QCOMPARE(numbers.value("items").toArray(), (QJsonArray{QStringLiteral("+31201234567 (tel)")}));
    m_desktop.screenshot(QStringLiteral("tray-phone-link"));
    QCOMPARE(k.process().state(), QProcess::Running);

    // A link without a number is refused by the second start, with a reason.
    QByteArray error;
    QCOMPARE(k.runSecond({QStringLiteral("--call"), QStringLiteral("callto:jan.jansen")}, &error), 1);
    QVERIFY2(error.contains("geen telefoonnummer"), error.constData());
}

void TestE2eTray::phoneLink_secondStartShowsTheDialog()
{
    Karvelon& k = startKarvelon();
    QVERIFY(k.waitForTray());
    // As a browser hands over a clicked link through the menu entry.
    QCOMPARE(k.runSecond({QStringLiteral("--call"), QStringLiteral("callto://020-765%2043.21")}), 0);
    const QString title = QStringLiteral("Karvelon - Bel");
    QJsonObject numbers;
    QTRY_VERIFY_WITH_TIMEOUT(!(numbers = Karvelon::child(k.window(title), QStringLiteral("cmbPhoneNumber"))).isEmpty(),
                             15000);
    QCOMPARE(numbers.value("items").toArray(), (QJsonArray{QStringLiteral("0207654321 (tel)")}));
}

void TestE2eTray::quit_endsWithExitCodeZero()
{
    Karvelon& k = startKarvelon();
    QVERIFY(k.waitForTray());
    const QJsonObject menu = k.openTrayMenu();
    QVERIFY(!menu.isEmpty());
    m_desktop.screenshot(QStringLiteral("tray-menu"));
    QVERIFY(m_desktop.click(Karvelon::centre(Karvelon::action(menu, QStringLiteral("&Afsluiten")))));
    int exitCode = -2;
    QVERIFY(k.waitForExit(15000, &exitCode));
    QCOMPARE(exitCode, 0);
}

QTEST_GUILESS_MAIN(TestE2eTray)
#include "test_e2e_tray.moc"
