// The web-service client against the service simulator running as a real
// process: call set-up from every source, the verdict on every kind of reply,
// SIP account retrieval with each choice of credentials.
#include "KarvelonApi.h"
#include "Logger.h"
#include "PbxSimulator.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

using Pairs = QList<QPair<QString, QString>>;

namespace {
const QString kPassword = QStringLiteral("geheim&wacht=woord");
// The thunderbird id holds every character that must be escaped on the wire.
const QString kThunderbirdId = QStringLiteral("tb&id=1+2#%\u00e9");

QJsonObject simConfig()
{
    return QJsonDocument::fromJson(QStringLiteral(R"({
        "customers": [ { "number": "100234", "password": "geheim&wacht=woord", "sipAccounts": [
            { "key": "2", "logname": "Twee", "SIPusername": "202" },
            { "key": "10", "logname": "Tien", "SIPusername": "210" },
            { "key": "1", "logname": "Een", "SIPusername": "201" } ] } ],
        "apis": [
            { "apiID": "c2d-test", "key": "c2d-key", "options": "" },
            { "apiID": "outlook-test", "key": "ol-key", "options": "msoutlook" },
            { "apiID": "ac-test", "key": "ac-key", "options": "acontacts" },
            { "apiID": "tb&id=1+2#%\u00e9", "key": "tb-key\u20ac", "options": "thunderbird" } ],
        "notificationLogins": [],
        "incomingCallEverySeconds": 0 })")
                                   .toUtf8())
        .object();
}

struct Credentials
{
    QString group;
    QString id;
    QString key;
    QString defaultSip;
};

const QList<Credentials>& allCredentials()
{
    static const QList<Credentials> credentials{
        {QStringLiteral("ClickToDial"), QStringLiteral("c2d-test"), QStringLiteral("c2d-key"), QStringLiteral("201")},
        {QStringLiteral("OutlookPlugin"), QStringLiteral("outlook-test"), QStringLiteral("ol-key"), QStringLiteral("210")},
        {QStringLiteral("AppleContactsPlugin"), QStringLiteral("ac-test"), QStringLiteral("ac-key"), QStringLiteral("201")},
        {QStringLiteral("ThunderbirdPlugin"), kThunderbirdId, QStringLiteral("tb-key\u20ac"), QStringLiteral("202")},
    };
    return credentials;
}
} // namespace

class TestKarvelonApi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void call_data();
    void call();
    void awaitResponse_verdict_data();
    void awaitResponse_verdict();
    void awaitResponse_timeout_failsAndLogsTimeoutOnce();
    void call_overlapping_eachEmitsOnce_data();
    void call_overlapping_eachEmitsOnce();
    void listSipAccounts_data();
    void listSipAccounts();
    void listSipAccounts_emptyListIsSuccess();
    void listSipAccounts_failureIsReported();
    void listSipAccounts_brokenBodyIsFailure_data();
    void listSipAccounts_brokenBodyIsFailure();

private:
    QList<QJsonObject> newLogRecords() const;
    int countLog(int severity, const QString& component, const QString& msg) const;
    QJsonObject lastRequest();
    void configure(const QStringList& groupsWithId);

    PbxSimulator m_sim;
    KarvelonApi* m_api = nullptr;
    int m_logMark = 0;
};

void TestKarvelonApi::initTestCase()
{
    TestSupport::setApplicationIdentity();
    QVERIFY(!TestSupport::testHome().isEmpty());
    QCOMPARE(KarvelonApi::instance(), nullptr);
    QVERIFY2(m_sim.start(simConfig()), m_sim.output().constData());
    m_api = new KarvelonApi;
    QCOMPARE(KarvelonApi::instance(), m_api);
    QVERIFY(m_api->serviceUrls().apiBaseUrl.endsWith(QStringLiteral("/api/")));
    m_api->setServiceUrlsForTesting({m_sim.apiBaseUrl(), m_sim.notifyUrl(), QUrl(), QUrl()});
}

void TestKarvelonApi::cleanupTestCase()
{
    delete m_api;
    m_sim.stop();
}

void TestKarvelonApi::init()
{
    QVERIFY(m_sim.reset());
    m_api->setRequestTimeoutForTesting(10000);
    configure({QStringLiteral("ClickToDial"), QStringLiteral("OutlookPlugin"), QStringLiteral("AppleContactsPlugin"),
               QStringLiteral("ThunderbirdPlugin")});
    m_logMark = Logger::instance()->readLogRecords().size();
}

void TestKarvelonApi::configure(const QStringList& groupsWithId)
{
    Settings settings;
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("100234"));
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), kPassword);
    for (const Credentials& c : allCredentials()) {
        const bool on = groupsWithId.contains(c.group);
        settings.set(c.group, QStringLiteral("Id"), on ? c.id : QString());
        settings.set(c.group, QStringLiteral("Key"), on ? c.key : QString());
        settings.set(c.group, QStringLiteral("DefaultSip"), c.defaultSip);
    }
}

QList<QJsonObject> TestKarvelonApi::newLogRecords() const
{
    return Logger::instance()->readLogRecords().mid(m_logMark);
}

int TestKarvelonApi::countLog(int severity, const QString& component, const QString& msg) const
{
    int count = 0;
    for (const QJsonObject& r : newLogRecords()) {
        if (r.value(QStringLiteral("severity")).toInt() == severity
            && r.value(QStringLiteral("component")).toString() == component
            && r.value(QStringLiteral("msg")).toString() == msg)
            ++count;
    }
    return count;
}

QJsonObject TestKarvelonApi::lastRequest()
{
    const QJsonArray requests = m_sim.requests();
    return requests.isEmpty() ? QJsonObject() : requests.last().toObject();
}

void TestKarvelonApi::call_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("sipAccountId");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("wrongKey");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<bool>("hasOptions");
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("sipacc");
    QTest::addColumn<QString>("telnr");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("component");
    QTest::addColumn<QString>("failure");

    const QString c2d = QStringLiteral("/api/cltodlapp.php");
    const QString plugin = QStringLiteral("/api/ouctdpl.php");
    QTest::newRow("tray, default SIP account")
        << 0 << QString() << QStringLiteral("(020) 123-45 67") << QString() << c2d << false << QString()
        << QStringLiteral("201") << QStringLiteral("0201234567") << true << QStringLiteral("Click-to-Dial") << QString();
    QTest::newRow("tray, explicit SIP account beats the default")
        << 0 << QStringLiteral("202") << QStringLiteral("0201234567") << QString() << c2d << false << QString()
        << QStringLiteral("202") << QStringLiteral("0201234567") << true << QStringLiteral("Click-to-Dial") << QString();
    QTest::newRow("tray, international number keeps its prefix")
        << 0 << QString() << QStringLiteral("+31 20 123 4567") << QString() << c2d << false << QString()
        << QStringLiteral("201") << QStringLiteral("0031201234567") << true << QStringLiteral("Click-to-Dial")
        << QString();
    QTest::newRow("Outlook")
        << 1024 << QString() << QStringLiteral("0201234567") << QString() << plugin << true
        << QStringLiteral("msoutlook") << QStringLiteral("210") << QStringLiteral("0201234567") << true
        << QStringLiteral("Click-to-Dial Outlook") << QString();
    QTest::newRow("Apple Contacts, explicit SIP account")
        << 1025 << QStringLiteral("202") << QStringLiteral("0201234567") << QString() << plugin << true
        << QStringLiteral("acontacts") << QStringLiteral("202") << QStringLiteral("0201234567") << true
        << QStringLiteral("Click-to-Dial Apple Contacts") << QString();
    QTest::newRow("Thunderbird, id that needs escaping")
        << 1026 << QString() << QStringLiteral("+32 2 555 12 34") << QString() << plugin << true
        << QStringLiteral("thunderbird") << QStringLiteral("202") << QStringLiteral("003225551234") << true
        << QStringLiteral("Click-to-Dial Thunderbird") << QString();
    QTest::newRow("any plug-in: tray credentials on the plug-in script")
        << 1 << QString() << QStringLiteral("0201234567") << QString() << plugin << true << QString()
        << QStringLiteral("201") << QStringLiteral("0201234567") << false << QStringLiteral("Click-to-Dial")
        << QStringLiteral("103: apiID 'c2d-test' hoort bij click-to-dial, niet bij een plug-in");
    QTest::newRow("wrong key: signature refused")
        << 0 << QString() << QStringLiteral("0201234567") << QStringLiteral("verkeerd") << c2d << false << QString()
        << QStringLiteral("201") << QStringLiteral("0201234567") << false << QStringLiteral("Click-to-Dial")
        << QStringLiteral("106: Ongeldige handtekening");
    QTest::newRow("unknown SIP account: refused in the body")
        << 1024 << QStringLiteral("999") << QStringLiteral("0201234567") << QString() << plugin << true
        << QStringLiteral("msoutlook") << QStringLiteral("999") << QStringLiteral("0201234567") << false
        << QStringLiteral("Click-to-Dial Outlook") << QStringLiteral("201: Onbekend SIP-account '999'");
}

void TestKarvelonApi::call()
{
    QFETCH(int, source);
    QFETCH(QString, sipAccountId);
    QFETCH(QString, number);
    QFETCH(QString, wrongKey);
    QFETCH(QString, endpoint);
    QFETCH(bool, hasOptions);
    QFETCH(QString, options);
    QFETCH(QString, sipacc);
    QFETCH(QString, telnr);
    QFETCH(bool, success);
    QFETCH(QString, component);
    QFETCH(QString, failure);

    if (!wrongKey.isEmpty())
        Settings().set(QStringLiteral("ClickToDial"), QStringLiteral("Key"), wrongKey);

    QSignalSpy spy(m_api, &KarvelonApi::callInitiated);
    m_api->call(number, static_cast<SourceType::Type>(source), sipAccountId);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), success);

    const QJsonObject request = lastRequest();
    QCOMPARE(request.value(QStringLiteral("endpoint")).toString(), endpoint);
    QCOMPARE(request.value(QStringLiteral("verdict")).toString(),
             success ? QStringLiteral("ok") : QStringLiteral("rejected"));
    const QJsonObject params = request.value(QStringLiteral("params")).toObject();
    QCOMPARE(params.contains(QStringLiteral("options")), hasOptions);
    QCOMPARE(params.value(QStringLiteral("options")).toString(), options);
    QCOMPARE(params.value(QStringLiteral("sipacc")).toString(), sipacc);
    QCOMPARE(params.value(QStringLiteral("telnr")).toString(), telnr);
    if (source == 1026)
        QCOMPARE(params.value(QStringLiteral("apiID")).toString(), kThunderbirdId);

    QCOMPARE(countLog(Logger::Info, component, QStringLiteral("Gesprek initieren naar: %1").arg(telnr)), 1);
    // The URL goes to the log without the password digest.
    const QString digest = KarvelonApi::hashPassword(kPassword, 2);
    bool urlLogged = false;
    for (const QJsonObject& r : newLogRecords()) {
        const QString msg = r.value(QStringLiteral("msg")).toString();
        QVERIFY2(!msg.contains(digest), qPrintable(msg));
        if (msg.contains(QStringLiteral("&pwd=***&")) && r.value(QStringLiteral("severity")).toInt() == Logger::Debug)
            urlLogged = true;
    }
    QVERIFY(urlLogged);
    QVERIFY(request.value(QStringLiteral("rawQuery")).toString().contains(QStringLiteral("pwd=") + digest));

    QCOMPARE(countLog(Logger::Error, component, QStringLiteral("Kon gesprek niet starten. Fout: %1").arg(failure)),
             success ? 0 : 1);
}

void TestKarvelonApi::awaitResponse_verdict_data()
{
    QTest::addColumn<QJsonObject>("behaviour");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("description"); // what follows "Fout: "; "*x" = contains x
    QTest::addColumn<int>("networkError");    // -1: no network error line

    const auto body = [](const char* json) { return QJsonObject{{QStringLiteral("body"), QString::fromUtf8(json)}}; };
    QTest::newRow("200, both messages empty")
        << body(R"({"head":{"error_message":"","error_number":""},"body":{"error_message":""}})") << true << QString()
        << -1;
    QTest::newRow("404") << QJsonObject{{QStringLiteral("status"), 404}} << false << QStringLiteral("*Not Found") << 203;
    QTest::newRow("500") << QJsonObject{{QStringLiteral("status"), 500}} << false
                         << QStringLiteral("*Internal Server Error") << 401;
    QTest::newRow("500 with a success body")
        << QJsonObject{{QStringLiteral("status"), 500},
                       {QStringLiteral("body"), QStringLiteral(R"({"head":{"error_message":""},"body":{}})")}}
        << false << QStringLiteral("*Internal Server Error") << 401;
    QTest::newRow("message in head")
        << body(R"({"head":{"error_message":"Kapot","error_number":"7"},"body":{}})") << false
        << QStringLiteral("7: Kapot") << -1;
    QTest::newRow("message in body only")
        << body(R"({"head":{"error_message":"","error_number":""},"body":{"error_message":"Leeg","error_number":"8"}})")
        << false << QStringLiteral("8: Leeg") << -1;
    QTest::newRow("head wins over body")
        << body(R"({"head":{"error_message":"Eerst","error_number":"1"},"body":{"error_message":"Later","error_number":"2"}})")
        << false << QStringLiteral("1: Eerst") << -1;
    QTest::newRow("message in body, head without members")
        << body(R"({"head":{},"body":{"error_message":"Alleen body"}})") << false << QStringLiteral(": Alleen body")
        << -1;
    QTest::newRow("numeric message counts as none")
        << body(R"({"head":{"error_message":5,"error_number":"5"},"body":{"error_message":6}})") << true << QString()
        << -1;
    QTest::newRow("no head: not examined")
        << body(R"({"body":{"error_message":"genegeerd","error_number":"9"}})") << true << QString() << -1;
    QTest::newRow("empty body") << body("") << true << QString() << -1;
    QTest::newRow("not JSON") << body("not json") << true << QString() << -1;
    QTest::newRow("JSON array") << body("[1,2]") << true << QString() << -1;
    QTest::newRow("connection closed") << QJsonObject{{QStringLiteral("close"), true}} << false
                                       << QStringLiteral("*closed") << 2;
}

void TestKarvelonApi::awaitResponse_verdict()
{
    QFETCH(QJsonObject, behaviour);
    QFETCH(bool, success);
    QFETCH(QString, description);
    QFETCH(int, networkError);

    QVERIFY(m_sim.setBehaviour(behaviour));
    QSignalSpy spy(m_api, &KarvelonApi::callInitiated);
    m_api->call(QStringLiteral("0201234567"), SourceType::ClickToDial);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), success);

    const QString component = QStringLiteral("Click-to-Dial");
    const QString prefix = QStringLiteral("Kon gesprek niet starten. Fout: ");
    int failureLines = 0;
    int networkLines = 0;
    for (const QJsonObject& r : newLogRecords()) {
        const QString msg = r.value(QStringLiteral("msg")).toString();
        if (r.value(QStringLiteral("component")).toString() != component || r.value(QStringLiteral("severity")).toInt() != Logger::Error)
            continue;
        if (msg.startsWith(prefix)) {
            ++failureLines;
            const QString text = msg.mid(prefix.size());
            if (description.startsWith(QLatin1Char('*')))
                QVERIFY2(text.contains(description.mid(1), Qt::CaseInsensitive), qPrintable(text));
            else
                QCOMPARE(text, description);
        } else if (msg.startsWith(QStringLiteral("Fout opgetreden tijdens aanroepen API: "))) {
            ++networkLines;
            QVERIFY2(msg.endsWith(QStringLiteral(" (%1)").arg(networkError)), qPrintable(msg));
        }
    }
    QCOMPARE(failureLines, success ? 0 : 1);
    QCOMPARE(networkLines, networkError < 0 ? 0 : 1);
    QCOMPARE(countLog(Logger::Debug, QString(), QStringLiteral("Done")), 1);
}

void TestKarvelonApi::awaitResponse_timeout_failsAndLogsTimeoutOnce()
{
    const int delayMs = 2500;
    m_api->setRequestTimeoutForTesting(300);
    QVERIFY(m_sim.setBehaviour({{QStringLiteral("delayMs"), delayMs}}));
    QSignalSpy spy(m_api, &KarvelonApi::callInitiated);
    QElapsedTimer elapsed;
    elapsed.start();
    m_api->call(QStringLiteral("0201234567"), SourceType::MsOutlook);
    QVERIFY(elapsed.elapsed() < delayMs);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), false);

    // Let the late answer arrive: it must change nothing.
    QTest::qWait(delayMs);
    QCOMPARE(spy.count(), 1);
    const QString component = QStringLiteral("Click-to-Dial Outlook");
    QCOMPARE(countLog(Logger::Info, component, QStringLiteral("Timeout")), 1);
    int cancelled = 0;
    for (const QJsonObject& r : newLogRecords()) {
        const QString msg = r.value(QStringLiteral("msg")).toString();
        if (msg.startsWith(QStringLiteral("Fout opgetreden tijdens aanroepen API: ")) && msg.endsWith(QStringLiteral(" (5)")))
            ++cancelled;
    }
    QCOMPARE(cancelled, 1);
    int failureLines = 0;
    for (const QJsonObject& r : newLogRecords())
        failureLines += r.value(QStringLiteral("msg")).toString().startsWith(QStringLiteral("Kon gesprek niet starten. Fout: "));
    QCOMPARE(failureLines, 1);
}

void TestKarvelonApi::call_overlapping_eachEmitsOnce_data()
{
    QTest::addColumn<QJsonObject>("behaviour");
    QTest::newRow("both slow") << QJsonObject{{QStringLiteral("delayMs"), 700}};
    QTest::newRow("second finishes inside the first")
        << QJsonObject{{QStringLiteral("delayMs"), 1200}, {QStringLiteral("once"), true}};
}

void TestKarvelonApi::call_overlapping_eachEmitsOnce()
{
    QFETCH(QJsonObject, behaviour);
    QVERIFY(m_sim.setBehaviour(behaviour));
    QSignalSpy spy(m_api, &KarvelonApi::callInitiated);
    // Queued like the controller does: the second call starts inside the first one's wait.
    QMetaObject::invokeMethod(m_api, "call", Qt::QueuedConnection, Q_ARG(QString, QStringLiteral("0201111111")),
                              Q_ARG(SourceType::Type, SourceType::ClickToDial), Q_ARG(QString, QString()));
    QMetaObject::invokeMethod(m_api, "call", Qt::QueuedConnection, Q_ARG(QString, QStringLiteral("0202222222")),
                              Q_ARG(SourceType::Type, SourceType::MsOutlook), Q_ARG(QString, QString()));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 30000);
    QTest::qWait(200);
    QCOMPARE(spy.count(), 2);
    QVERIFY(spy.at(0).at(0).toBool());
    QVERIFY(spy.at(1).at(0).toBool());

    const QJsonArray requests = m_sim.requests();
    QCOMPARE(requests.size(), 2);
    for (const QJsonValue& r : requests)
        QCOMPARE(r.toObject().value(QStringLiteral("verdict")).toString(), QStringLiteral("ok"));
}

void TestKarvelonApi::listSipAccounts_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<QStringList>("configured");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("apiId");
    QTest::addColumn<bool>("hasOptions");
    QTest::addColumn<QString>("component");
    QTest::addColumn<bool>("success");

    const QString c2d = QStringLiteral("/api/cltodlapp.php");
    const QString plugin = QStringLiteral("/api/ouctdpl.php");
    const QString ol = QStringLiteral("OutlookPlugin");
    const QString ac = QStringLiteral("AppleContactsPlugin");
    const QString tb = QStringLiteral("ThunderbirdPlugin");
    const QStringList all{QStringLiteral("ClickToDial"), ol, ac, tb};

    QTest::newRow("click-to-dial") << 0 << all << c2d << QStringLiteral("c2d-test") << false
                                   << QStringLiteral("Click-to-Dial") << true;
    QTest::newRow("any plug-in takes Outlook first") << 1 << all << plugin << QStringLiteral("outlook-test") << true
                                                     << QStringLiteral("msoutlook") << true;
    QTest::newRow("any plug-in, Outlook and Apple Contacts") << 1 << QStringList{ol, ac} << plugin
                                                             << QStringLiteral("outlook-test") << true
                                                             << QStringLiteral("msoutlook") << true;
    QTest::newRow("Outlook falls back to Thunderbird") << 1024 << QStringList{tb} << plugin << kThunderbirdId << true
                                                       << QStringLiteral("thunderbird") << true;
    QTest::newRow("Apple Contacts uses its own") << 1025 << QStringList{ol, ac} << plugin << QStringLiteral("ac-test")
                                                 << true << QStringLiteral("acontacts") << true;
    QTest::newRow("Apple Contacts skips Outlook") << 1025 << QStringList{ol, tb} << plugin << kThunderbirdId << true
                                                  << QStringLiteral("thunderbird") << true;
    QTest::newRow("Thunderbird") << 1026 << all << plugin << kThunderbirdId << true << QStringLiteral("thunderbird")
                                 << true;
    QTest::newRow("Thunderbird has no fallback") << 1026 << QStringList{ol} << plugin << QString() << true
                                                 << QStringLiteral("thunderbird") << false;
    QTest::newRow("no plug-in configured") << 1024 << QStringList{} << plugin << QString() << true
                                           << QStringLiteral("thunderbird") << false;
}

void TestKarvelonApi::listSipAccounts()
{
    QFETCH(int, source);
    QFETCH(QStringList, configured);
    QFETCH(QString, endpoint);
    QFETCH(QString, apiId);
    QFETCH(bool, hasOptions);
    QFETCH(QString, component);
    QFETCH(bool, success);

    configure(configured);
    bool ok = !success;
    const Pairs accounts = m_api->listSipAccounts(static_cast<SourceType::Type>(source), ok);
    QCOMPARE(ok, success);

    const QJsonObject request = lastRequest();
    QCOMPARE(request.value(QStringLiteral("endpoint")).toString(), endpoint);
    const QJsonObject params = request.value(QStringLiteral("params")).toObject();
    QCOMPARE(params.value(QStringLiteral("apiID")).toString(), apiId);
    QCOMPARE(params.contains(QStringLiteral("options")), hasOptions);
    if (hasOptions)
        QCOMPARE(params.value(QStringLiteral("options")).toString(), component);
    QCOMPARE(params.value(QStringLiteral("sipacc")).toString(), QStringLiteral("0"));
    QCOMPARE(params.value(QStringLiteral("telnr")).toString(), QStringLiteral("0"));
    QCOMPARE(countLog(Logger::Info, component,
                      QStringLiteral("SIP accounts ophalen voor '%1' met key '%2'").arg(component, apiId)),
             1);

    if (success) {
        // Member "10" comes before "2": names compare as text.
        const Pairs expected{qMakePair(QStringLiteral("Een"), QStringLiteral("201")),
                             qMakePair(QStringLiteral("Tien"), QStringLiteral("210")),
                             qMakePair(QStringLiteral("Twee"), QStringLiteral("202"))};
        QCOMPARE(accounts, expected);
        QCOMPARE(countLog(Logger::Info, component, QStringLiteral("SIP accounts opgehaald: Een, Tien, Twee, ")), 1);
    } else {
        QVERIFY(accounts.isEmpty());
        QCOMPARE(countLog(Logger::Error, component,
                          QStringLiteral("Kon SIP accounts niet ophalen, fout: 102: Onbekende apiID ''")),
                 1);
    }
}

void TestKarvelonApi::listSipAccounts_emptyListIsSuccess()
{
    QVERIFY(m_sim.setBehaviour({{QStringLiteral("body"), QStringLiteral("{}")}}));
    bool ok = false;
    const Pairs accounts = m_api->listSipAccounts(SourceType::ClickToDial, ok);
    QVERIFY(ok);
    QVERIFY(accounts.isEmpty());
    QCOMPARE(countLog(Logger::Info, QStringLiteral("Click-to-Dial"), QStringLiteral("SIP accounts opgehaald: ")), 1);
}

void TestKarvelonApi::listSipAccounts_failureIsReported()
{
    QVERIFY(m_sim.setBehaviour({{QStringLiteral("status"), 500}}));
    bool ok = true;
    QVERIFY(m_api->listSipAccounts(SourceType::MsOutlook, ok).isEmpty());
    QVERIFY(!ok);
    QVERIFY(m_api->listSipAccounts(SourceType::MsOutlook).isEmpty());
    int failures = 0;
    for (const QJsonObject& r : newLogRecords()) {
        failures += r.value(QStringLiteral("component")).toString() == QStringLiteral("msoutlook")
                    && r.value(QStringLiteral("msg")).toString().startsWith(
                        QStringLiteral("Kon SIP accounts niet ophalen, fout: "));
    }
    QCOMPARE(failures, 2);
}

void TestKarvelonApi::listSipAccounts_brokenBodyIsFailure_data()
{
    QTest::addColumn<QString>("body");
    QTest::newRow("not json") << QStringLiteral("<html>Service Unavailable</html>");
    QTest::newRow("empty") << QString();
    QTest::newRow("array") << QStringLiteral("[1,2]");
}

// A call treats an unreadable body as success, but a list that cannot be read
// must not pass for "no accounts": the registry would drop the stored ones.
void TestKarvelonApi::listSipAccounts_brokenBodyIsFailure()
{
    QFETCH(QString, body);
    QVERIFY(m_sim.setBehaviour({{QStringLiteral("body"), body}}));
    bool ok = true;
    QVERIFY(m_api->listSipAccounts(SourceType::ClickToDial, ok).isEmpty());
    QVERIFY(!ok);
    QCOMPARE(countLog(Logger::Error, QStringLiteral("Click-to-Dial"),
                      QStringLiteral("Kon SIP accounts niet ophalen, fout: ongeldig antwoord")),
             1);
}

QTEST_GUILESS_MAIN(TestKarvelonApi)
#include "test_karvelonapi.moc"
