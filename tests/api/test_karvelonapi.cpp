// The web-service client against the service simulator running as a real
// process, and against a local HTTPS endpoint with a self-signed certificate.
#include "KarvelonApi.h"
#include "Logger.h"
#include "PbxSimulator.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QtTest>

using Pairs = QList<QPair<QString, QString>>;

namespace {
const QString kPassword = QStringLiteral("geheim&wacht=woord");
// The Thunderbird id holds every character that must be escaped on the wire.
const QString kTbId = QStringLiteral("tb&id=1+2#%\u00e9");
const QString kC2d = QStringLiteral("/api/cltodlapp.php");
const QString kPlugin = QStringLiteral("/api/ouctdpl.php");
const QString kCallFailed = QStringLiteral("Kon gesprek niet starten. Fout: ");
const QString kListFailed = QStringLiteral("Kon SIP accounts niet ophalen, fout: ");
const QString kNetError = QStringLiteral("Fout opgetreden tijdens aanroepen API: ");
const QString kOl = QStringLiteral("OutlookPlugin");
const QString kAc = QStringLiteral("AppleContactsPlugin");
const QString kTb = QStringLiteral("ThunderbirdPlugin");
const QStringList kAll{QStringLiteral("ClickToDial"), kOl, kAc, kTb};
// group, id, key, default SIP account
const QList<QStringList> kCredentials{{"ClickToDial", "c2d-test", "c2d-key", "201"},
                                      {kOl, "outlook-test", "ol-key", "210"},
                                      {kAc, "ac-test", "ac-key", "201"},
                                      {kTb, kTbId, "tb-key\u20ac", "202"}};

const char kSimConfig[] = R"({
    "customers": [ { "number": "100234", "password": "geheim&wacht=woord", "sipAccounts": [
        { "key": "2", "logname": "Twee", "SIPusername": "202" },
        { "key": "10", "logname": "Tien", "SIPusername": "210" },
        { "key": "1", "logname": "Een", "SIPusername": "201" } ] } ],
    "apis": [ { "apiID": "c2d-test", "key": "c2d-key", "options": "" },
        { "apiID": "outlook-test", "key": "ol-key", "options": "msoutlook" },
        { "apiID": "ac-test", "key": "ac-key", "options": "acontacts" },
        { "apiID": "tb&id=1+2#%\u00e9", "key": "tb-key\u20ac", "options": "thunderbird" } ],
    "notificationLogins": [], "incomingCallEverySeconds": 0 })";

// HTTPS on port 0 with a throw-away self-signed certificate; keeps what crosses it.
class SelfSignedServer : public QTcpServer
{
public:
    QSslCertificate certificate;
    QSslKey key;
    QByteArray received;
    int connections = 0;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        ++connections;
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        connect(socket, &QSslSocket::readyRead, this, [this, socket]() { received += socket->readAll(); });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        socket->startServerEncryption();
    }
};
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
    void call_overlapping_eachEmitsOnce();
    void listSipAccounts_data();
    void listSipAccounts();
    void listSipAccounts_reply_data();
    void listSipAccounts_reply();
    void selfSignedCertificate_failsWithReasonLogged();

private:
    // Messages logged since init() that start with prefix (and match severity/component when given).
    QStringList logged(const QString& prefix, int severity = -1, const QString& component = QStringLiteral("*")) const;
    QJsonObject lastRequest() { return m_sim.requests().last().toObject(); }
    void configure(const QStringList& groupsWithId);

    PbxSimulator m_sim;
    KarvelonApi* m_api = nullptr;
    int m_logMark = 0;
};

void TestKarvelonApi::initTestCase()
{
    TestSupport::setApplicationIdentity();
    QCOMPARE(KarvelonApi::instance(), nullptr);
    QVERIFY2(m_sim.start(QJsonDocument::fromJson(kSimConfig).object()), m_sim.output().constData());
    m_api = new KarvelonApi;
    QCOMPARE(KarvelonApi::instance(), m_api);
    QVERIFY(m_api->serviceUrls().apiBaseUrl.endsWith(QStringLiteral("/api/")));
}

void TestKarvelonApi::cleanupTestCase()
{
    // A client that is gone is no longer handed out; releasing an older one
    // leaves the newest in place.
    auto* newer = new KarvelonApi;
    delete m_api;
    QCOMPARE(KarvelonApi::instance(), newer);
    delete newer;
    QCOMPARE(KarvelonApi::instance(), nullptr);
    m_sim.stop();
}

void TestKarvelonApi::init()
{
    QVERIFY(m_sim.reset());
    m_api->setServiceUrlsForTesting({m_sim.apiBaseUrl(), m_sim.notifyUrl(), QUrl(), QUrl()});
    m_api->setRequestTimeoutForTesting(10000);
    configure(kAll);
    m_logMark = Logger::instance()->readLogRecords().size();
}

void TestKarvelonApi::configure(const QStringList& groupsWithId)
{
    Settings settings;
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("100234"));
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), kPassword);
    for (const QStringList& c : kCredentials) {
        const bool on = groupsWithId.contains(c.at(0));
        settings.set(c.at(0), QStringLiteral("Id"), on ? c.at(1) : QString());
        settings.set(c.at(0), QStringLiteral("Key"), on ? c.at(2) : QString());
        settings.set(c.at(0), QStringLiteral("DefaultSip"), c.at(3));
    }
}

QStringList TestKarvelonApi::logged(const QString& prefix, int severity, const QString& component) const
{
    QStringList messages;
    for (const QJsonObject& r : Logger::instance()->readLogRecords().mid(m_logMark)) {
        const QString msg = r.value(QStringLiteral("msg")).toString();
        if (msg.startsWith(prefix) && (severity < 0 || r.value(QStringLiteral("severity")).toInt() == severity)
            && (component == QLatin1String("*") || r.value(QStringLiteral("component")).toString() == component))
            messages << msg;
    }
    return messages;
}

void TestKarvelonApi::call_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("sipAccountId");
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("wrongKey");
    QTest::addColumn<bool>("hasOptions"); // also: the plug-in script rather than the click-to-dial one
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("sipacc");
    QTest::addColumn<QString>("telnr");
    QTest::addColumn<QString>("component");
    QTest::addColumn<QString>("failure"); // empty: the call succeeds

    const QString nr = QStringLiteral("0201234567");
    QTest::newRow("tray, default SIP account") << 0 << QString() << "(020) 123-45 67" << false << false << QString()
                                               << "201" << nr << "Click-to-Dial" << QString();
    QTest::newRow("tray, explicit SIP account") << 0 << "202" << nr << false << false << QString() << "202" << nr
                                                << "Click-to-Dial" << QString();
    QTest::newRow("Outlook") << 1024 << QString() << nr << false << true << "msoutlook" << "210" << nr
                             << "Click-to-Dial Outlook" << QString();
    QTest::newRow("Apple Contacts, explicit SIP account") << 1025 << "202" << nr << false << true << "acontacts"
                                                          << "202" << nr << "Click-to-Dial Apple Contacts" << QString();
    QTest::newRow("Thunderbird, id to escape, international number")
        << 1026 << QString() << "+32 2 555 12 34" << false << true << "thunderbird" << "202" << "003225551234"
        << "Click-to-Dial Thunderbird" << QString();
    QTest::newRow("any plug-in: tray credentials on the plug-in script")
        << 1 << QString() << nr << false << true << QString() << "201" << nr << "Click-to-Dial"
        << "103: apiID 'c2d-test' hoort bij click-to-dial, niet bij een plug-in";
    QTest::newRow("wrong key: signature refused") << 0 << QString() << nr << true << false << QString() << "201" << nr
                                                  << "Click-to-Dial" << "106: Ongeldige handtekening";
    QTest::newRow("unknown SIP account: refused in the body")
        << 1024 << "999" << nr << false << true << "msoutlook" << "999" << nr << "Click-to-Dial Outlook"
        << "201: Onbekend SIP-account '999'";
}

void TestKarvelonApi::call()
{
    QFETCH(int, source);
    QFETCH(QString, sipAccountId);
    QFETCH(QString, number);
    QFETCH(bool, wrongKey);
    QFETCH(bool, hasOptions);
    QFETCH(QString, options);
    QFETCH(QString, sipacc);
    QFETCH(QString, telnr);
    QFETCH(QString, component);
    QFETCH(QString, failure);
    const bool success = failure.isEmpty();

    if (wrongKey)
        Settings().set(QStringLiteral("ClickToDial"), QStringLiteral("Key"), QStringLiteral("verkeerd"));
    QSignalSpy spy(m_api, &KarvelonApi::callInitiated);
    m_api->call(number, static_cast<SourceType::Type>(source), sipAccountId);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), success);

    const QJsonObject request = lastRequest();
    QCOMPARE(request.value(QStringLiteral("endpoint")).toString(), hasOptions ? kPlugin : kC2d);
    QCOMPARE(request.value(QStringLiteral("verdict")).toString(),
             success ? QStringLiteral("ok") : QStringLiteral("rejected"));
    const QJsonObject params = request.value(QStringLiteral("params")).toObject();
    QCOMPARE(params.contains(QStringLiteral("options")), hasOptions);
    QCOMPARE(params.value(QStringLiteral("options")).toString(), options);
    QCOMPARE(params.value(QStringLiteral("sipacc")).toString(), sipacc);
    QCOMPARE(params.value(QStringLiteral("telnr")).toString(), telnr);
    if (source == 1026)
        QCOMPARE(params.value(QStringLiteral("apiID")).toString(), kTbId);

    QCOMPARE(logged(QStringLiteral("Gesprek initieren naar: ") + telnr, Logger::Info, component).size(), 1);
    // The URL is logged without the password digest; the request itself carries it.
    const QString digest = KarvelonApi::hashPassword(kPassword, 2);
    QVERIFY(logged(QString()).filter(digest).isEmpty());
    QCOMPARE(logged(m_sim.apiBaseUrl(), Logger::Debug, QString()).filter(QStringLiteral("&pwd=***&")).size(), 1);
    QVERIFY(request.value(QStringLiteral("rawQuery")).toString().contains(QStringLiteral("pwd=") + digest));
    QCOMPARE(logged(kCallFailed, Logger::Error, component),
             success ? QStringList() : QStringList{kCallFailed + failure});
}

void TestKarvelonApi::awaitResponse_verdict_data()
{
    QTest::addColumn<QJsonObject>("behaviour");
    QTest::addColumn<QString>("description"); // what follows "Fout: "; "*x": contains x; empty: success
    QTest::addColumn<int>("networkError");    // -1: no network error line

    const auto body = [](const char* json) { return QJsonObject{{QStringLiteral("body"), QString::fromUtf8(json)}}; };
    QTest::newRow("200, both messages empty")
        << body(R"({"head":{"error_message":"","error_number":""},"body":{"error_message":""}})") << QString() << -1;
    QTest::newRow("404") << QJsonObject{{QStringLiteral("status"), 404}} << "*Not Found" << 203;
    QTest::newRow("500 with a success body")
        << QJsonObject{{QStringLiteral("status"), 500},
                       {QStringLiteral("body"), QStringLiteral(R"({"head":{"error_message":""},"body":{}})")}}
        << "*Internal Server Error" << 401;
    QTest::newRow("head wins over body")
        << body(R"({"head":{"error_message":"Eerst","error_number":"1"},"body":{"error_message":"Later"}})")
        << "1: Eerst" << -1;
    QTest::newRow("message in body only")
        << body(R"({"head":{"error_message":"","error_number":""},"body":{"error_message":"Leeg","error_number":"8"}})")
        << "8: Leeg" << -1;
    QTest::newRow("numeric message counts as none")
        << body(R"({"head":{"error_message":5,"error_number":"5"},"body":{"error_message":6}})") << QString() << -1;
    QTest::newRow("no head: not examined") << body(R"({"body":{"error_message":"genegeerd","error_number":"9"}})")
                                           << QString() << -1;
    QTest::newRow("empty body") << body("") << QString() << -1;
    QTest::newRow("not JSON") << body("not json") << QString() << -1;
    QTest::newRow("connection closed") << QJsonObject{{QStringLiteral("close"), true}} << "*closed" << 2;
}

void TestKarvelonApi::awaitResponse_verdict()
{
    QFETCH(QJsonObject, behaviour);
    QFETCH(QString, description);
    QFETCH(int, networkError);

    QVERIFY(m_sim.setBehaviour(behaviour));
    QSignalSpy spy(m_api, &KarvelonApi::callInitiated);
    m_api->call(QStringLiteral("0201234567"), SourceType::ClickToDial);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), description.isEmpty());

    const QString component = QStringLiteral("Click-to-Dial");
    const QStringList failures = logged(kCallFailed, Logger::Error, component);
    QCOMPARE(failures.size(), description.isEmpty() ? 0 : 1);
    if (description.startsWith(QLatin1Char('*')))
        QVERIFY2(failures.first().contains(description.mid(1), Qt::CaseInsensitive), qPrintable(failures.first()));
    else if (!description.isEmpty())
        QCOMPARE(failures.first(), kCallFailed + description);
    const QStringList network = logged(kNetError, Logger::Error, component);
    QCOMPARE(network.size(), networkError < 0 ? 0 : 1);
    if (networkError >= 0)
        QVERIFY2(network.first().endsWith(QStringLiteral(" (%1)").arg(networkError)), qPrintable(network.first()));
    QCOMPARE(logged(QStringLiteral("Done"), Logger::Debug, QString()), QStringList{QStringLiteral("Done")});
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

    QTest::qWait(delayMs); // the late answer must change nothing
    QCOMPARE(spy.count(), 1);
    const QString component = QStringLiteral("Click-to-Dial Outlook");
    QCOMPARE(logged(QStringLiteral("Timeout"), Logger::Info, component), QStringList{QStringLiteral("Timeout")});
    QCOMPARE(logged(kNetError).filter(QRegularExpression(QStringLiteral(" \\(5\\)$"))).size(), 1);
    QCOMPARE(logged(kCallFailed).size(), 1);
}

void TestKarvelonApi::call_overlapping_eachEmitsOnce()
{
    // The first answer is slow, the second fast: the second call starts and ends inside
    // the first one's wait, queued as the controller does.
    QVERIFY(m_sim.setBehaviour({{QStringLiteral("delayMs"), 1200}, {QStringLiteral("once"), true}}));
    QSignalSpy spy(m_api, &KarvelonApi::callInitiated);
    QMetaObject::invokeMethod(m_api, "call", Qt::QueuedConnection, Q_ARG(QString, QStringLiteral("0201111111")),
                              Q_ARG(SourceType::Type, SourceType::ClickToDial), Q_ARG(QString, QString()));
    QMetaObject::invokeMethod(m_api, "call", Qt::QueuedConnection, Q_ARG(QString, QStringLiteral("0202222222")),
                              Q_ARG(SourceType::Type, SourceType::MsOutlook), Q_ARG(QString, QString()));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 30000);
    QTest::qWait(200);
    QCOMPARE(spy.count(), 2);
    QVERIFY(spy.at(0).at(0).toBool() && spy.at(1).at(0).toBool());
    const QJsonArray requests = m_sim.requests();
    QCOMPARE(requests.size(), 2);
    for (const QJsonValue& r : requests)
        QCOMPARE(r.toObject().value(QStringLiteral("verdict")).toString(), QStringLiteral("ok"));
}

void TestKarvelonApi::listSipAccounts_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<QStringList>("configured");
    QTest::addColumn<QString>("apiId"); // empty: none found, the retrieval fails
    QTest::addColumn<QString>("component");

    QTest::newRow("click-to-dial") << 0 << kAll << "c2d-test" << "Click-to-Dial";
    QTest::newRow("any plug-in takes Outlook first") << 1 << QStringList{kOl, kAc} << "outlook-test" << "msoutlook";
    QTest::newRow("Outlook falls back to Thunderbird") << 1024 << QStringList{kTb} << kTbId << "thunderbird";
    QTest::newRow("Apple Contacts uses its own") << 1025 << QStringList{kOl, kAc} << "ac-test" << "acontacts";
    QTest::newRow("Apple Contacts skips Outlook") << 1025 << QStringList{kOl, kTb} << kTbId << "thunderbird";
    QTest::newRow("Thunderbird") << 1026 << kAll << kTbId << "thunderbird";
    QTest::newRow("Thunderbird has no fallback") << 1026 << QStringList{kOl} << QString() << "thunderbird";
    QTest::newRow("no plug-in configured") << 1024 << QStringList{} << QString() << "thunderbird";
}

void TestKarvelonApi::listSipAccounts()
{
    QFETCH(int, source);
    QFETCH(QStringList, configured);
    QFETCH(QString, apiId);
    QFETCH(QString, component);
    const bool success = !apiId.isEmpty();

    configure(configured);
    bool ok = !success;
    const Pairs accounts = m_api->listSipAccounts(static_cast<SourceType::Type>(source), ok);
    QCOMPARE(ok, success);

    const QJsonObject request = lastRequest();
    QCOMPARE(request.value(QStringLiteral("endpoint")).toString(), source ? kPlugin : kC2d);
    const QJsonObject params = request.value(QStringLiteral("params")).toObject();
    QCOMPARE(params.value(QStringLiteral("apiID")).toString(), apiId);
    QCOMPARE(params.contains(QStringLiteral("options")), source != 0);
    if (source != 0)
        QCOMPARE(params.value(QStringLiteral("options")).toString(), component);
    QCOMPARE(params.value(QStringLiteral("sipacc")).toString(), QStringLiteral("0"));
    QCOMPARE(params.value(QStringLiteral("telnr")).toString(), QStringLiteral("0"));
    QCOMPARE(logged(QStringLiteral("SIP accounts ophalen voor '%1' met key '%2'").arg(component, apiId),
                    Logger::Info, component)
                 .size(),
             1);

    if (success) {
        // Member "10" comes before "2": names compare as text.
        const Pairs expected{qMakePair(QStringLiteral("Een"), QStringLiteral("201")),
                             qMakePair(QStringLiteral("Tien"), QStringLiteral("210")),
                             qMakePair(QStringLiteral("Twee"), QStringLiteral("202"))};
        QCOMPARE(accounts, expected);
        QCOMPARE(logged(QStringLiteral("SIP accounts opgehaald: "), Logger::Info, component),
                 QStringList{QStringLiteral("SIP accounts opgehaald: Een, Tien, Twee, ")});
    } else {
        QVERIFY(accounts.isEmpty());
        QCOMPARE(logged(kListFailed, Logger::Error, component),
                 QStringList{kListFailed + QStringLiteral("102: Onbekende apiID ''")});
    }
}

void TestKarvelonApi::listSipAccounts_reply_data()
{
    QTest::addColumn<QJsonObject>("behaviour");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("line"); // the result line; "*x": contains x

    const auto body = [](const char* text) { return QJsonObject{{QStringLiteral("body"), QString::fromUtf8(text)}}; };
    QTest::newRow("empty object: no accounts") << body("{}") << true << "SIP accounts opgehaald: ";
    QTest::newRow("status 500") << QJsonObject{{QStringLiteral("status"), 500}} << false << "*Internal Server Error";
    // A broken list is not "no accounts": the registry would drop the stored ones.
    const QString broken = kListFailed + QStringLiteral("ongeldig antwoord");
    QTest::newRow("not JSON") << body("<html>Service Unavailable</html>") << false << broken;
    QTest::newRow("empty") << body("") << false << broken;
    QTest::newRow("array") << body("[1,2]") << false << broken;
}

void TestKarvelonApi::listSipAccounts_reply()
{
    QFETCH(QJsonObject, behaviour);
    QFETCH(bool, success);
    QFETCH(QString, line);
    QVERIFY(m_sim.setBehaviour(behaviour));
    bool ok = !success;
    QVERIFY(m_api->listSipAccounts(SourceType::ClickToDial, ok).isEmpty());
    QCOMPARE(ok, success);
    const QStringList lines = logged(success ? QStringLiteral("SIP accounts opgehaald: ") : kListFailed,
                                     success ? Logger::Info : Logger::Error, QStringLiteral("Click-to-Dial"));
    QCOMPARE(lines.size(), 1);
    if (line.startsWith(QLatin1Char('*')))
        QVERIFY2(lines.first().contains(line.mid(1)), qPrintable(lines.first()));
    else
        QCOMPARE(lines.first(), line);
}

void TestKarvelonApi::selfSignedCertificate_failsWithReasonLogged()
{
    QVERIFY(QSslSocket::supportsSsl());
    const QString certPath = TestSupport::testHome() + QStringLiteral("/cert.pem");
    const QString keyPath = TestSupport::testHome() + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.start(QStringLiteral(KARVELON_OPENSSL_EXECUTABLE),
                  QStringList{"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                              "-keyout", keyPath, "-out", certPath, "-days", "2", "-subj", "/CN=127.0.0.1"});
    QVERIFY(openssl.waitForFinished(60000));
    QVERIFY2(openssl.exitCode() == 0, openssl.readAllStandardError().constData());
    SelfSignedServer server;
    server.certificate = QSslCertificate::fromPath(certPath).value(0);
    server.key = QSslKey(TestSupport::readFile(keyPath), QSsl::Ec);
    QVERIFY(!server.certificate.isNull() && !server.key.isNull());
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    m_api->setServiceUrlsForTesting(
        {QStringLiteral("https://127.0.0.1:%1/api/").arg(server.serverPort()), QUrl(), QUrl(), QUrl()});

    QSignalSpy spy(m_api, &KarvelonApi::callInitiated);
    m_api->call(QStringLiteral("0201234567"), SourceType::ClickToDial);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), false);
    const QStringList network = logged(kNetError);
    QVERIFY(!network.isEmpty());
    QVERIFY2(network.last().endsWith(QStringLiteral(" (%1)").arg(int(QNetworkReply::SslHandshakeFailedError))),
             qPrintable(network.last()));
    bool ok = true;
    QVERIFY(m_api->listSipAccounts(SourceType::ClickToDial, ok).isEmpty());
    QVERIFY(!ok);

    // Each attempt logs the reason itself, not just the sentence around it.
    const QStringList warnings =
        logged(QStringLiteral("Kon geen verbinding met API maken. Foutmelding: "), Logger::Warning, QStringLiteral("API"));
    QCOMPARE(warnings.size(), 2);
    for (const QString& w : warnings)
        QVERIFY2(w.contains(QRegularExpression(QStringLiteral("self.signed"), QRegularExpression::CaseInsensitiveOption)),
                 qPrintable(w));
    QVERIFY(server.connections >= 2);
    // Nothing of the requests (and their password digest) crossed the refused channel.
    QVERIFY(server.received.isEmpty());
}

QTEST_GUILESS_MAIN(TestKarvelonApi)
#include "test_karvelonapi.moc"
