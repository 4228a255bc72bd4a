// Socket.IO frames, the public-address lookup, the recovery rules; client and channel against the simulator.
#include "Clock.h"
#include "ConnectionSupervisor.h"
#include "NotificationChannel.h"
#include "PbxSimulator.h"
#include "PrivateBus.h"
#include "SecretStore.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SocketIO.h"
#include "SocketIOFrame.h"
#include "SystemTrayIcon.h"
#include "TestSupport.h"
#include "WanIpResolver.h"
#include "WorkerThread.h"

#include <QtDBus>
#include <QtNetwork>
#include <QtTest>

using namespace SettingsKeys;

static const QString kLogin = QStringLiteral("jan+devries@bedrijf.nl");

class TestNotify : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        m_secrets.load();
        QTRY_VERIFY(m_secrets.isLoaded());
    }
    void frames()
    {
        const char* const table[][2] = { // frame, then: type pingTimeout pingInterval event data
            {R"(0{"sid":"a","upgrades":[],"pingInterval":25000,"pingTimeout":20000})", "Open 20000 25000  {}"},
            {R"(0{"pingTimeout":"20000"})", "Open 0 0  {}"},
            {R"(0{"pingTimeout":1e300})", "Open 536870911 0  {}"},
            {"0{pingTimeout:5}", "Open 0 0  {}"},
            {R"(42["notify",{"x":1}])", R"(Event 0 0 notify {"x":1})"},
            {R"(42["notify",{"x":1},{"y":2}])", "Event 0 0 notify {}"},
            {R"(42["notify","text"])", "Event 0 0 notify {}"},
            {"42[]", "Ignored 0 0  {}"},
            {R"(42["notify",{)", "Ignored 0 0  {}"},
            {"41", "Disconnect 0 0  {}"},
            {"3", "Pong 0 0  {}"},
            {"\xff\xfe\x01", "Unrecognised 0 0  {}"}};
        const char* const types[] = {"Open", "Pong", "Event", "Disconnect", "Ignored", "Unrecognised"};
        for (const auto& row : table) {
            const QString frame = QString::fromUtf8(row[0]);
            const SocketIOFrame f = SocketIOFrame::parse(frame);
            const QByteArray data = QJsonDocument(f.eventData).toJson(QJsonDocument::Compact);
            const QString got = QString::asprintf("%s %d %d %s %s", types[f.type], f.pingTimeoutMsecs,
                                                  f.pingIntervalMsecs, qUtf8Printable(f.eventName), data.constData());
            QCOMPARE(frame + " -> " + got, frame + " -> " + QString::fromUtf8(row[1]));
            QCOMPARE(SocketIOFrame::textOfBinary(frame.toUtf8() + QByteArray("\0junk", 5)), frame); // up to the 0
        }
        QCOMPARE(SocketIO::socketUrl(QUrl(QStringLiteral("https://u:p@host:4123/path?x")), 7).toString(),
                 QStringLiteral("wss://host:4123/socket.io/?EIO=3&transport=websocket&t=7"));
    }
    void wanIp()
    {
        // The simulator's HTML page and text service, saying this; none: a server that never answers (time limit).
        QVERIFY2(startSim(), m_sim.output().constData());
        QTcpServer stalled;
        QVERIFY(stalled.listen(QHostAddress::LocalHost));
        const auto url = [&](const QUrl& service, const char* say) {
            return say ? QUrl(service.toString() + "?say=" + QUrl::toPercentEncoding(QLatin1String(say)))
                       : QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(stalled.serverPort()));
        };
        const struct { const char *page, *text, *address; } table[] = {
            {"192.0.2.7", nullptr, "192.0.2.7"},            // the text service stalled: the page's
            {"2001:db8::1", nullptr, ""},                   // two colons: none
            {"192.0.2.7", " 198.51.100.4 \r\n", "198.51.100.4"}, // the text has the last word
            {"192.0.2.7", "\n", "192.0.2.7"},                // a blank text keeps the page's
            {nullptr, "192.0.2.9\n", "192.0.2.9"},           // the page stalled: the text's
            {nullptr, nullptr, ""}};
        const ServiceConfig sim = m_sim.config();
        QNetworkAccessManager manager;
        for (const auto& row : table) {
            const QString tag = QString::number(&row - table) + QLatin1Char(':');
            WanIpResolver resolver(&manager, url(sim.wanIpHtmlUrl, row.page), url(sim.wanIpTextUrl, row.text), 300);
            QSignalSpy resolved(&resolver, &WanIpResolver::resolved);
            resolver.start();
            QVERIFY(resolved.wait(5000));
            QCOMPARE(tag + resolved.first().first().toString(), tag + QLatin1String(row.address));
        }
    }
    void socketIO_reconnectsUpToTheLimit_watchdogEndsSilence()
    {
        // A short heartbeat: the connection may stay quiet for 600 + 400 ms.
        QVERIFY2(startSim({{"notifyPingIntervalMs", 600}, {"notifyPingTimeoutMs", 400}}), m_sim.output().constData());
        SocketIO io(100);
        QStringList events;
        for (const char* name : {"serveroutput", "disconnected", "ErrorLimitReached"})
            io.on(QLatin1String(name), [&events, name](const QJsonObject&) { events << QLatin1String(name); });
        io.connect(m_sim.config().notifyUrl);
        QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("serveroutput")), 1, 15000);

        // An abrupt drop, healed by the client itself; afterwards still one ping per period.
        control("notify-drop");
        QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("serveroutput")), 2, 15000);
        control("notify-reset");
        QTest::qWait(1000);
        QVERIFY(qAbs(notifyState()[QStringLiteral("pings")].toInt() - 8) <= 5);

        // The connection goes, and so do the next five attempts: five reconnections, then the limit.
        control("notify-drop", R"({"next":5})");
        QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("ErrorLimitReached")), 1, 30000);
        QCOMPARE(notifyState()[QStringLiteral("dropped")].toInt(), 5);
        QCOMPARE(events.count(QStringLiteral("serveroutput")), 2);

        // A server that goes quiet is given up after the silence limit.
        io.connect(m_sim.config().notifyUrl);
        QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("serveroutput")), 3, 15000);
        QCOMPARE(io.silenceLimit(), 1000);
        const int disconnections = events.count(QStringLiteral("disconnected"));
        control("notify-silent");
        QTRY_COMPARE_WITH_TIMEOUT(events.count(QStringLiteral("disconnected")), disconnections + 1, 15000);
        QVERIFY(!io.isConnected());
    }
    void transientKinds_backoffFigures_countdown()
    {
        using R = QNetworkReply;
        using S = QSslError;
        const struct { R::NetworkError error; int status; bool refused; S::SslError ssl; bool transient; } kinds[] = {
            {R::SslHandshakeFailedError, 0, false, S::NoError, true},
            {R::SslHandshakeFailedError, 0, false, S::SelfSignedCertificate, false}, // untrusted: the user's to fix
            {R::ServiceUnavailableError, 503, false, S::NoError, true},
            {R::UnknownContentError, 429, false, S::NoError, true},
            {R::AuthenticationRequiredError, 401, false, S::NoError, false},
            {R::NoError, 200, true, S::NoError, false}}; // an error_message from the service
        for (const auto& k : kinds)
            QVERIFY2(ConnectionSupervisor::isTransient(k.error, k.status, k.refused, {k.ssl}) == k.transient,
                     qPrintable(QString::number(&k - kinds)));
        // failures, jitter unit -> wait: doubling from 1 s, 50..150 %, never above 60 s.
        const int table[][3] = {{1, 0, 500}, {1, 99, 1490}, {3, 50, 4000}, {6, 50, 32000}, {7, 0, 30000},
                                {7, 50, 60000}, {40, 99, 60000}};
        for (const auto& row : table)
            QCOMPARE(ConnectionSupervisor::backoffMsecs(row[0], 1000, 60000, row[1] / 100.0), row[2]);
        QVERIFY(SystemTrayIcon::toolTipText(ConnectionSupervisor::Waiting, 17).endsWith(" over 17 s"));
    }

    // Every transition of the recovery, in sequences, with the state and the wait each leaves: "<event>:<state><wait>"
    // (Stopped Waiting Connecting Up Disabled Asleep; waits in ms, rounded up to tens; "+" an attempt that replaces a
    // live connection, "!" an attempt that does not). Jitter fixed at the middle: the waits are the doubling itself.
    void supervisor_transitions()
    {
        const char* const table[][2] = {
            // failures double the wait up to the cap; a connection that answered starts over
            {"start due fail due fail due fail due fail due reg ok fail",
             "start:W0 due:C0+ fail:W100 due:C0! fail:W200 due:C0! fail:W400 due:C0! fail:W400 due:C0! reg:C0 ok:U0 "
             "fail:W100"},
            // news of the same outage does not push a due retry back; a refusal waits for the user
            {"start due fail fail lost due refuse fail wake due start", "start:W0 due:C0+ fail:W100 fail:W100 lost:W100 "
                                                                        "due:C0! refuse:D0 fail:D0 wake:D0 due:D0 start:W0"},
            // asleep nothing happens; waking tries soon, from the first delay, replacing what looks alive
            {"start due fail due fail sleep fail due wake due fail", "start:W0 due:C0+ fail:W100 due:C0! fail:W200 "
                                                                     "sleep:A0 fail:A0 due:A0 wake:W50 due:C0+ fail:W100"},
            // a lost connection waits before registering again; a registration whose connection never answers fails
            {"start due lost reg ok lost due reg due", "start:W0 due:C0+ lost:C0 reg:C0 ok:U0 lost:W100 due:C0! reg:C0 "
                                                       "due:W200"},
            // stopped is stopped, also while a retry was due
            {"start due fail stop due ok wake", "start:W0 due:C0+ fail:W100 stop:S0 due:S0 ok:S0 wake:S0"}};
        ServiceConfig config;
        config.backoffInitialMsecs = 100, config.backoffMaxMsecs = 400, config.wakeJitterMsecs = 100;
        config.requestTimeoutMsecs = 100, config.wanIpTimeoutMsecs = 50;
        for (const auto& row : table) {
            ConnectionSupervisor supervisor(config, [] { return 0.5; });
            QString attempt;
            int wait = 0; // as scheduled when the state last changed
            connect(&supervisor, &ConnectionSupervisor::attempt, this, [&attempt](bool replace) { attempt = replace ? "+" : "!"; });
            connect(&supervisor, &ConnectionSupervisor::stateChanged, this, [&wait](ConnectionSupervisor::State, int msecs) { wait = (msecs + 9) / 10 * 10; });
            QStringList trace;
            for (const QString& event : QString::fromLatin1(row[0]).split(' ')) {
                attempt.clear();
                const auto before = supervisor.state();
                if (event == "due") // until the timer has done what it does, if anything
                    (void)QTest::qWaitFor([&]() { return !attempt.isEmpty() || supervisor.state() != before; }, 1000);
                else if (event == "start") supervisor.start();
                else if (event == "stop") supervisor.stop();
                else if (event == "reg") supervisor.registered();
                else if (event == "ok") supervisor.succeeded();
                else if (event == "fail") supervisor.failed(true);
                else if (event == "refuse") supervisor.failed(false);
                else if (event == "lost") supervisor.lost();
                else if (event == "sleep") supervisor.sleep();
                else if (event == "wake") supervisor.wake();
                trace << QStringLiteral("%1:%2%3%4").arg(event).arg(QLatin1Char("SCUWDA"[int(supervisor.state())]))
                             .arg(wait).arg(attempt);
            }
            QCOMPARE(trace.join(' '), QString::fromLatin1(row[1]));
        }
    }
    void channel_refusalStops_outagesHealByThemselves_stopEndsBackoff()
    {
        QVERIFY2(startSim(), m_sim.output().constData());
        m_secrets.save({{"Notifications", "Password", ""}});
        WorkerThread worker;
        const auto api = makeApi(worker, [](ServiceConfig& c) {
            c.backoffInitialMsecs = 300, c.backoffMaxMsecs = 600, c.outageNoticeMsecs = 1500;
        });
        QStringList calls, balloons; // recorded on this thread
        QList<int> states;
        connect(api.get(), &NotificationChannel::incomingCall, this,
                [&calls](const IncomingCall& call) { calls << call.caller() + '|' + call.did + '|' + call.details; });
        connect(api.get(), &NotificationChannel::showUserNotification, this,
                [&balloons](bool, const QString& text) { balloons << text.left(16); });
        connect(api.get(), &NotificationChannel::stateChanged, this,
                [&states](ConnectionSupervisor::State state) { states << state; });

        // Without a password nothing goes out: the channel waits for the settings, as after a refusal.
        QMetaObject::invokeMethod(api.get(), "onSettingsUpdated", Qt::QueuedConnection);
        QTRY_COMPARE(balloons, QStringList{"Notificaties uit"});
        QVERIFY(TestSupport::logged().last().startsWith(
            "Kon niet registreren bij notificatie service. Fout: Notifications/Password is niet ingesteld"));
        balloons.clear();

        // Refused by the service: one registration, one balloon, no further tries.
        m_secrets.save({{"Notifications", "Password", "verkeerd"}});
        QMetaObject::invokeMethod(api.get(), "onSettingsUpdated", Qt::QueuedConnection);
        QTRY_COMPARE(balloons, QStringList{"Notificaties uit"});
        QTest::qWait(1000);
        QCOMPARE(registrations(), 1);
        QCOMPARE(states.last(), int(ConnectionSupervisor::Disabled));

        // Saving the settings starts it again.
        const int mark = TestSupport::logged().size();
        m_secrets.save({{"Notifications", "Password", "Geheim-42"}});
        QMetaObject::invokeMethod(api.get(), "onSettingsUpdated", Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(states.last() == ConnectionSupervisor::Connected && notifyState()["registered"] == 1, 15000);
        QCOMPARE(states.last(), int(ConnectionSupervisor::Connected));
        // Registered from the public address; the register frame carries the login and the key issued.
        const QJsonObject request = m_sim.requests().last().toObject();
        const QJsonObject frame = notifyState()["registers"].toArray().first().toObject();
        QCOMPARE(QStringList({request["verdict"].toString(), request["params"]["options"].toString(),
                              frame["wskey"].toString(), frame["username"].toString()}),
                 QStringList({"ok", "127.0.0.1", request["wskey"].toString(), kLogin}));
        // The password digest is as good as the password: it is never logged.
        QVERIFY(TestSupport::logged().mid(mark).filter(request["params"]["data"].toString()).isEmpty());

        // Caller text, number called, the other fields sorted by name.
        control("notify", R"({"callerID":"101","did":"202","contact":"Jos\u00e9","callid":"7","b":"2","a":"1"})");
        control("notify", R"({"callerID":"101","did":"203","contact":"","wachtrij":3})");
        QTRY_COMPARE_WITH_TIMEOUT(calls, (QStringList{"Jos\u00e9 (101)|202|a: 1\r\nb: 2", "101|203|wachtrij: "}),
                                  15000);

        // A drop the client heals by itself is left alone: no second registration tears it down.
        control("notify-drop");
        QTRY_COMPARE_WITH_TIMEOUT(notifyState()["registers"].toArray().size(), 2, 15000);
        QTest::qWait(1500);
        QCOMPARE(registrations(), 2);
        QCOMPARE(notifyState()["registered"].toInt(), 1);

        // The server is away for several backoff periods, then restarts on its ports: back without the user,
        // with one balloon for the outage and one for the recovery, and the next call shown.
        const int apiPort = m_sim.apiPort(), notifyPort = m_sim.notifyPort();
        m_sim.stop();
        QTRY_COMPARE_WITH_TIMEOUT(balloons.size(), 2, 15000);
        QCOMPARE(states.last(), int(ConnectionSupervisor::Waiting));
        QVERIFY2(startSim({}, apiPort, notifyPort), m_sim.output().constData());
        QTRY_VERIFY_WITH_TIMEOUT(notifyState()["registered"].toInt() == 1, 15000);
        control("notify", R"({"callerID":"102","did":"202"})");
        QTRY_COMPARE_WITH_TIMEOUT(calls.size(), 3, 15000);
        QTRY_COMPARE(balloons, (QStringList{"Notificaties uit", "Geen verbinding ", "Notificaties zij"}));

        // Switched off during the backoff: no attempt follows.
        m_sim.stop();
        QTRY_COMPARE_WITH_TIMEOUT(states.last(), int(ConnectionSupervisor::Waiting), 15000);
        worker.run([&api]() {
            Settings().set(QStringLiteral("Notifications"), QStringLiteral("Enabled"), false);
            api->onSettingsUpdated();
        });
        QVERIFY2(startSim({}, apiPort, notifyPort), m_sim.output().constData());
        QTest::qWait(1500);
        QCOMPARE(registrations(), 0);
        QCOMPARE(notifyState()["connections"].toInt(), 0);
        QCOMPARE(states.last(), int(ConnectionSupervisor::Stopped));
    }
    // Without a system bus the clocks tell of a resume; with one, logind's and NetworkManager's signals.
    void channel_wakesOnClockJumpSleepAndNetworkSignals()
    {
        QVERIFY2(startSim(), m_sim.output().constData());
        WorkerThread worker;
        if (qEnvironmentVariableIsEmpty("KARVELON_PRIVATE_SYSTEM_BUS")) {
            QVERIFY(m_sim.setBehaviour({{"status", 500}}));
            FixedClock clock(QDateTime::currentDateTime());
            Clock::setInstance(&clock);
            auto api = makeApi(worker, [](ServiceConfig& c) { c.backoffInitialMsecs = 60000, c.resumeCheckMsecs = 100; });
            QMetaObject::invokeMethod(api.get(), "onSettingsUpdated", Qt::QueuedConnection);
            QTRY_COMPARE(registrations(), 1);
            QVERIFY(m_sim.setBehaviour({}));
            QTest::qWait(500);
            QCOMPARE(registrations(), 1); // the backoff holds
            // The wall clock runs ahead of the monotonic one, as after a night's sleep.
            worker.run([&clock]() { clock.advanceMSecs(120000); });
            QTRY_COMPARE_WITH_TIMEOUT(registrations(), 2, 2000);
            QTRY_VERIFY(notifyState()["registered"].toInt() == 1);
            api.reset(), Clock::setInstance(nullptr); // the worker may read the clock until then

            // A process connects to its system bus once: this test runs again in a child, with a private bus as its
            // system bus, where the mocks (system-bus templates) take their place from the same variable.
            PrivateBus bus;
            QVERIFY(bus.start());
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8());
            qputenv("KARVELON_PRIVATE_SYSTEM_BUS", "1");
            QVERIFY(bus.startMock(QStringLiteral("logind"), QStringLiteral("org.freedesktop.login1")));
            QVERIFY(bus.startMock(QStringLiteral("networkmanager"), QStringLiteral("org.freedesktop.NetworkManager")));
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(QTest::currentTestFunction())});
            QVERIFY(child.waitForFinished(120000));
            QCOMPARE(child.exitCode(), 0);
            return;
        }
        QDBusConnection bus = QDBusConnection::systemBus();
        const auto mockCall = [&bus](const QString& service, const QString& method, const QVariantList& args) {
            QDBusMessage call = QDBusMessage::createMethodCall(service, '/' + QString(service).replace('.', '/'),
                                                               "org.freedesktop.DBus.Mock", method);
            call.setArguments(args);
            return bus.call(call).type() == QDBusMessage::ReplyMessage;
        };
        const auto prepareForSleep = [&mockCall](bool sleeping) {
            return mockCall("org.freedesktop.login1", "EmitSignal",
                            {"org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                             QVariantList{QVariant::fromValue(QDBusVariant(sleeping))}});
        };

        const auto api = makeApi(worker, [](ServiceConfig& c) { c.backoffInitialMsecs = 60000; });
        int woke = 0; // told on, for "Niet storen"; counted on this thread
        connect(api.get(), &NotificationChannel::awake, this, [&woke]() { ++woke; });
        QMetaObject::invokeMethod(api.get(), "onSettingsUpdated", Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(notifyState()["registered"].toInt() == 1, 15000);

        // Going to sleep closes the connection; waking registers again at once.
        QVERIFY(prepareForSleep(true));
        QTRY_COMPARE(notifyState()["connections"].toInt(), 0);
        QVERIFY(prepareForSleep(false));
        QTRY_COMPARE_WITH_TIMEOUT(registrations(), 2, 2000);
        QTRY_COMPARE(woke, 1);
        QTRY_VERIFY_WITH_TIMEOUT(notifyState()["registered"].toInt() == 1, 15000);
        // So does the network coming back.
        QVERIFY(mockCall("org.freedesktop.NetworkManager", "SetGlobalConnectionState", {uint(70)}));
        QTRY_COMPARE_WITH_TIMEOUT(registrations(), 3, 2000);
    }

private:
    bool startSim(QJsonObject config = {}, int apiPort = 0, int notifyPort = 0)
    {
        const QJsonObject login{{"username", kLogin}, {"password", "Geheim-42"}, {"customer", "100234"}};
        config["notificationLogins"] = QJsonArray{login};
        for (const QString key : {"customers", "apis"})
            config[key] = QJsonDocument::fromJson(TestSupport::readFile(KARVELON_SIM_DIR "/demo-config.json"))[key];
        Settings settings; // blanks typed into the login are not part of it
        settings.set(kNotificationsGroup, kEnabled, true);
        settings.set(kNotificationsGroup, kUsername, QStringLiteral("jan+de vries@bedrijf.nl"));
        m_secrets.save({{kNotificationsGroup, kPassword, QStringLiteral("Geheim-42")}});
        return m_sim.start(config, apiPort, notifyPort);
    }
    void control(const char* name, const char* body = "{}")
    {
        m_sim.control("POST", QLatin1String(name), QJsonDocument::fromJson(body).object());
    }
    QJsonObject notifyState() { return m_sim.control("GET", QStringLiteral("notify-state")).toObject(); }
    // A channel on the worker thread, against the simulator with the timings tune sets; released with the pointer.
    template <typename Tune> std::shared_ptr<NotificationChannel> makeApi(WorkerThread& worker, Tune tune)
    {
        ServiceConfig config = m_sim.config();
        tune(config);
        NotificationChannel* api = nullptr; // made on the worker thread, so that it belongs to it
        worker.run([&api, &config, this]() { api = new NotificationChannel(config, &m_secrets); });
        return std::shared_ptr<NotificationChannel>(api, [&worker](NotificationChannel* p) { worker.run([p]() { delete p; }); });
    }
    int registrations()
    {
        const QJsonArray r = m_sim.requests();
        return std::count_if(r.begin(), r.end(),
                             [](const QJsonValue& v) { return v["endpoint"] == "/api/krpopnotify.php"; });
    }
    PbxSimulator m_sim;
    SecretStore m_secrets{ServiceConfig()}; // no keyring on the test's bus: the settings file
};

QTEST_GUILESS_MAIN(TestNotify)
#include "test_notify.moc"
