// The notification channel of KarvelonApi against the simulator (and, where the
// exact bytes matter, against a local HTTP fake).
#include "Clock.h"
#include "KarvelonApi.h"
#include "NotifyTestSupport.h"
#include "PbxSimulator.h"
#include "Settings.h"
#include "TestSupport.h"
#include "WorkerThread.h"

#include <QJsonArray>
#include <QtTest>

#include <memory>

using namespace NotifyTestSupport;

namespace {
const QString kLogin = QStringLiteral("jan+devries@bedrijf.nl");
const QString kPassword = QStringLiteral("Geheim-42");
const char kScript[] = "/api/krpopnotify.php";
const QString kRetryLine = QStringLiteral("Er zal automatisch worden geprobeerd opnieuw te registeren");
const QString kGaveUpBalloon = QStringLiteral("Notificaties uitgeschakeld. Kon verbinding niet automatisch herstellen, "
                                              "controleer het netwerk en uw instellingen.");
const QString kLimitBalloon = QStringLiteral("Notificaties uitgeschakeld. Kon geen verbinding tot stand brengen met de "
                                             "notificatie services. Controleer het logboek op foutcodes.");
} // namespace

class TestNotificationChannel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::setApplicationIdentity(); }
    void init();
    void cleanup();

    void registration_registerCarriesIssuedKey_notifyGivesIncomingCall();
    void registration_bodyIsEncodedAndSignedOverRawValues();
    void failingRegistrations_sixErrorsOneBalloonSixRetryLines();
    void serverClose_reregisters_butNotAfterStop();
    void settings_switchedOffAndOn();
    void connectionDrops_exhausted_showBalloon();
    void connectedState_readFromAnotherThread();

private:
    bool startSimulator();
    void setNotificationSettings(bool enabled, const QString& password = kPassword);
    void newApi(int retryMsecs = 10000);
    bool bringUp();
    int registrations();
    QJsonObject simState() { return notifyState(*m_sim); }

    std::unique_ptr<PbxSimulator> m_sim;
    KarvelonApi* m_api = nullptr;
};

void TestNotificationChannel::init()
{
    QVERIFY2(startSimulator(), m_sim->output().constData());
    setNotificationSettings(true);
}

void TestNotificationChannel::cleanup()
{
    // Destroyed while connected, as at the program's end: nothing may call back.
    delete m_api;
    m_api = nullptr;
    m_sim.reset();
    Clock::setInstance(nullptr);
}

bool TestNotificationChannel::startSimulator()
{
    m_sim.reset(new PbxSimulator);
    const QJsonObject login{{QStringLiteral("username"), kLogin},
                            {QStringLiteral("password"), kPassword},
                            {QStringLiteral("customer"), QStringLiteral("100234")}};
    return NotifyTestSupport::startSimulator(*m_sim, {{QStringLiteral("notificationLogins"), QJsonArray{login}}});
}

void TestNotificationChannel::setNotificationSettings(bool enabled, const QString& password)
{
    Settings settings;
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Enabled"), enabled);
    // Blanks typed into the login are not part of it.
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Username"), QStringLiteral("jan+de vries@bedrijf.nl"));
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Password"), password);
}

void TestNotificationChannel::newApi(int retryMsecs)
{
    m_api = new KarvelonApi;
    const QString base = QStringLiteral("http://127.0.0.1:%1/_sim/").arg(m_sim->apiPort());
    m_api->setServiceUrlsForTesting({m_sim->apiBaseUrl(), m_sim->notifyUrl(), QUrl(base + QStringLiteral("wanip.html")),
                                     QUrl(base + QStringLiteral("wanip.txt"))});
    m_api->setRetryIntervalForTesting(retryMsecs);
}

int TestNotificationChannel::registrations()
{
    int count = 0;
    for (const QJsonValue& request : m_sim->requests())
        count += request.toObject().value(QStringLiteral("endpoint")).toString() == QLatin1String(kScript);
    return count;
}

bool TestNotificationChannel::bringUp()
{
    if (!m_api)
        newApi();
    m_api->onSettingsUpdated();
    return QTest::qWaitFor(
        [this]() {
            return m_api->isNotificationSocketConnected()
                   && simState().value(QStringLiteral("registered")).toInt() == 1;
        },
        15000);
}

void TestNotificationChannel::registration_registerCarriesIssuedKey_notifyGivesIncomingCall()
{
    const int mark = logMark();
    newApi();
    QSignalSpy state(m_api, &KarvelonApi::notificationSocketConnectionChanged);
    QSignalSpy calls(m_api, &KarvelonApi::incomingCall);
    QVERIFY(bringUp());
    QCOMPARE(state.size(), 1);
    QCOMPARE(state.first().first().toBool(), true);

    QCOMPARE(registrations(), 1);
    const QJsonObject request = m_sim->requests().last().toObject();
    QCOMPARE(request.value(QStringLiteral("endpoint")).toString(), QLatin1String(kScript));
    QCOMPARE(request.value(QStringLiteral("verdict")).toString(), QStringLiteral("ok"));
    QCOMPARE(request.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
    const QJsonObject params = request.value(QStringLiteral("params")).toObject();
    QCOMPARE(params.value(QStringLiteral("item")).toString(), kLogin);
    QCOMPARE(params.value(QStringLiteral("options")).toString(), QStringLiteral("127.0.0.1"));
    QVERIFY(request.value(QStringLiteral("body")).toString().contains(QLatin1String("&item=jan%2Bdevries%40bedrijf.nl&")));

    const QJsonArray registers = simState().value(QStringLiteral("registers")).toArray();
    QCOMPARE(registers.size(), 1);
    const QJsonObject reg = registers.first().toObject();
    QCOMPARE(reg.value(QStringLiteral("verdict")).toString(), QStringLiteral("ok"));
    QCOMPARE(reg.value(QStringLiteral("wskey")).toString(), request.value(QStringLiteral("wskey")).toString());
    QCOMPARE(reg.value(QStringLiteral("username")).toString(), kLogin);

    QVERIFY(logSince(mark, QStringLiteral("Notifier"))
                .contains(QStringLiteral("Registreren notificatie verbinding. Parameters: login: "
                                         "jan+devries@bedrijf.nl, password: ***, IP: 127.0.0.1")));
    // The digest is as good as the password: it appears nowhere in the log.
    QVERIFY(logSince(mark).filter(KarvelonApi::hashPassword(kPassword, 1)).isEmpty());

    // event, caller text, extra text; the number is always "202"
    const char* const events[][3] = {
        {R"({"callerID":"101","did":"202","contact":"Sales","callid":"7","queue":"Q1"})", "Sales (101)", "queue: Q1"},
        {R"({"callerID":"101","did":"202","contact":""})", "101", ""},
        {R"({"callerID":"101","did":"202","wachtrij":3})", "101", "wachtrij: "},
        {R"({"callerID":"101","did":"202","contact":"Sales","b":"2","a":"1"})", "Sales (101)", "a: 1\r\nb: 2"},
        {u8R"({"callerID":"101","did":"202","contact":"José Müller"})", u8"Jos\u00e9 M\u00fcller (101)", ""},
    };
    for (const auto& event : events) {
        calls.clear();
        const QJsonObject pushed = control(*m_sim, "notify", QJsonDocument::fromJson(event[0]).object());
        QCOMPARE(pushed.value(QStringLiteral("delivered")).toInt(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(calls.size(), 1, 15000);
        QCOMPARE(calls.first().at(0).toString(), QString::fromUtf8(event[1]));
        QCOMPARE(calls.first().at(1).toString(), QStringLiteral("202"));
        QCOMPARE(calls.first().at(2).toString(), QString::fromUtf8(event[2]));
    }
}

void TestNotificationChannel::registration_bodyIsEncodedAndSignedOverRawValues()
{
    FixedClock clock(QDateTime(QDate(2026, 12, 6), QTime(10, 30), Qt::UTC));
    Clock::setInstance(&clock);
    FakeHttpServer wanIp;
    FakeHttpServer service;
    QVERIFY(wanIp.listen() && service.listen());
    wanIp.setResponse("/", 200, "<html><body>Current IP Address: 192.0.2.7</body></html>");
    service.setResponse(kScript, 200, R"({"wskey":"k1","username":"u1"})");

    m_api = new KarvelonApi;
    m_api->setServiceUrlsForTesting({service.url(QStringLiteral("/api/")).toString(), FakeHttpServer::deadUrl(),
                                     wanIp.url(), FakeHttpServer::deadUrl()});
    QVERIFY(m_api->startNotificationSocket());
    m_api->stopNotificationSocket();

    QCOMPARE(service.requests.size(), 1);
    const FakeHttpServer::Request request = service.requests.first();
    QVERIFY(request.head.startsWith(QByteArray("POST ") + kScript + " HTTP/1.1\r\n"));
    QVERIFY(request.head.contains("\r\nContent-Type: application/x-www-form-urlencoded\r\n"));
    // data: printf '%s' 'Geheim-42' | sha256sum
    // hash: printf '%s' 'appIDXv9bQ2202612061030appLoginjan+devries@bedrijf.nlappPasswd<data>actionlogin
    //       itemjan+devries@bedrijf.nldata<data>options192.0.2.7fjsonts1796553000' | openssl dgst -sha256 -hmac
    //       Xv9bQ2202612061030
    QCOMPARE(request.body, QByteArray("appID=Xv9bQ2202612061030&action=login&item=jan%2Bdevries%40bedrijf.nl"
                                      "&data=835eff9f644bc569554d645ab83259d3b92244d07e9893b212e1239d568f565d"
                                      "&options=192.0.2.7&f=json&ts=1796553000"
                                      "&hash=f74076c921bce503304e34734c93c7528dc66834d838ebcc4252502434ddbdc3"));
}

void TestNotificationChannel::failingRegistrations_sixErrorsOneBalloonSixRetryLines()
{
    setNotificationSettings(true, QStringLiteral("verkeerd"));
    const int mark = logMark();
    newApi();
    QSignalSpy balloons(m_api, &KarvelonApi::showUserNotification);
    m_api->onSettingsUpdated();

    QCOMPARE(registrations(), 6);
    QCOMPARE(balloons.size(), 1);
    QCOMPARE(balloons.first().at(0).toBool(), true);
    QCOMPARE(balloons.first().at(1).toString(), kGaveUpBalloon);
    QStringList expected;
    for (int i = 0; i < 6; ++i)
        expected << QStringLiteral("Kon niet registreren bij notificatie service. Fout: 111: Ongeldig wachtwoord");
    for (int i = 0; i < 6; ++i)
        expected << kRetryLine;
    QCOMPARE(logSince(mark, QStringLiteral("Notifier")), expected);
    QVERIFY(!m_api->isNotificationSocketConnected());
    QCOMPARE(simState().value(QStringLiteral("totalConnections")).toInt(), 0);
}

void TestNotificationChannel::serverClose_reregisters_butNotAfterStop()
{
    newApi(200);
    QSignalSpy state(m_api, &KarvelonApi::notificationSocketConnectionChanged);
    QVERIFY(bringUp());
    control(*m_sim, "notify-close");
    QTRY_VERIFY_WITH_TIMEOUT(registrations() == 2, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(simState().value(QStringLiteral("registered")).toInt() == 1, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(m_api->isNotificationSocketConnected(), 15000);
    QCOMPARE(state.size(), 3);
    QCOMPARE(state.at(1).first().toBool(), false);
    QCOMPARE(state.at(2).first().toBool(), true);

    // A stop, and then the server closes too: nothing registers again.
    const int mark = logMark();
    state.clear();
    QCOMPARE(m_api->stopNotificationSocket(), false);
    control(*m_sim, "notify-close", QJsonObject{{QStringLiteral("transport"), true}});
    QTRY_COMPARE_WITH_TIMEOUT(state.size(), 1, 15000);
    QCOMPARE(state.first().first().toBool(), false);
    QVERIFY(!m_api->isNotificationSocketConnected());
    QTest::qWait(1500); // several retry periods
    QCOMPARE(registrations(), 2);
    QCOMPARE(state.size(), 1);
    QCOMPARE(logSince(mark, QStringLiteral("Notifier")), QStringList{QStringLiteral("Uitschakelen")});
}

void TestNotificationChannel::settings_switchedOffAndOn()
{
    setNotificationSettings(false);
    newApi();
    QSignalSpy state(m_api, &KarvelonApi::notificationSocketConnectionChanged);
    m_api->onSettingsUpdated();
    QTest::qWait(200);
    QCOMPARE(registrations(), 0);
    QCOMPARE(state.size(), 0);

    setNotificationSettings(true);
    QVERIFY(bringUp());
    QCOMPARE(registrations(), 1);

    const int mark = logMark();
    setNotificationSettings(false);
    m_api->onSettingsUpdated();
    QTRY_VERIFY_WITH_TIMEOUT(!m_api->isNotificationSocketConnected(), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(state.size(), 2, 15000);
    QCOMPARE(state.last().first().toBool(), false);
    QVERIFY(logSince(mark, QStringLiteral("Notifier")).contains(QStringLiteral("Uitschakelen")));
    QTRY_COMPARE_WITH_TIMEOUT(simState().value(QStringLiteral("connections")).toInt(), 0, 15000);

    setNotificationSettings(true);
    QVERIFY(bringUp());
    QCOMPARE(registrations(), 2);
}

void TestNotificationChannel::connectionDrops_exhausted_showBalloon()
{
    QVERIFY(bringUp());
    QSignalSpy balloons(m_api, &KarvelonApi::showUserNotification);
    control(*m_sim, "notify-drop", QJsonObject{{QStringLiteral("next"), 5}});
    QTRY_COMPARE_WITH_TIMEOUT(balloons.size(), 1, 30000);
    QCOMPARE(balloons.first().at(0).toBool(), true);
    QCOMPARE(balloons.first().at(1).toString(), kLimitBalloon);
    QVERIFY(!m_api->isNotificationSocketConnected());
}

void TestNotificationChannel::connectedState_readFromAnotherThread()
{
    // As in the program: the client lives on its own thread, the caller only reads.
    WorkerThread worker;
    worker.run([this]() { newApi(); });
    QCOMPARE(m_api->thread(), worker.thread());

    QMetaObject::invokeMethod(m_api, "onSettingsUpdated", Qt::QueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(m_api->isNotificationSocketConnected(), 15000);
    QMetaObject::invokeMethod(m_api, "stopNotificationSocket", Qt::QueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(!m_api->isNotificationSocketConnected(), 15000);

    // Released on its own thread, as the program's clean-up does.
    KarvelonApi* api = std::exchange(m_api, nullptr);
    worker.run([api]() { delete api; });
}

QTEST_GUILESS_MAIN(TestNotificationChannel)
#include "test_notificationchannel.moc"
