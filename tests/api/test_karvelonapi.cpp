// The web-service client: digests against openssl, requests against the simulator, a self-signed TLS endpoint.
#include "KarvelonApi.h"
#include "PbxSimulator.h"
#include "SecretStore.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QTcpServer>
#include <QtTest>

using Pairs = QList<QPair<QString, QString>>;

namespace {
const QString kNr = QStringLiteral("0201234567");
// Every character of the Thunderbird id and key must survive the wire and the signature.
const QString kTbId = QStringLiteral("tb&id=1+2#%\u00e9");
const QStringList kAll{"ClickToDial", "OutlookPlugin", "AppleContactsPlugin", "ThunderbirdPlugin"};
const char kSimConfig[] = R"({"customers": [{"number": "100234", "password": "geheim&wacht=woord", "sipAccounts": [
    {"key": "2", "logname": "Twee", "SIPusername": "202"}, {"key": "10", "logname": "Tien", "SIPusername": "210"},
    {"key": "1", "logname": "Een", "SIPusername": "201"}]}], "apis": [{"apiID": "c2d-test", "key": "c2d-key"},
    {"apiID": "outlook-test", "key": "ol-key", "options": "msoutlook"}, {"apiID": "ac-test", "key": "ac-key",
    "options": "acontacts"}, {"apiID": "tb&id=1+2#%\u00e9", "key": "tb-key\u20ac", "options": "thunderbird"}]})";

// The credentials of the given groups only.
void configure(const QStringList& groups)
{
    const QStringList ids{"c2d-test", "outlook-test", "ac-test", kTbId}, sips{"201", "210", "201", "202"};
    const QStringList keys{"c2d-key", "ol-key", "ac-key", "tb-key\u20ac"};
    Settings settings;
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("100234"));
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), QStringLiteral("geheim&wacht=woord"));
    for (int i = 0; i < kAll.size(); ++i) {
        settings.set(kAll[i], QStringLiteral("Id"), groups.contains(kAll[i]) ? ids[i] : QString());
        settings.set(kAll[i], QStringLiteral("Key"), keys[i]);
        settings.set(kAll[i], QStringLiteral("DefaultSip"), sips[i]);
    }
}

// groups configured; number empty: a SIP account list; behaviour of the simulator, "refused": nothing listens;
// seen by the service: apiID|options|sipacc|telnr|its error number; failure: in the client's failure line, empty: ok
struct Row { const char* name; int source; QStringList groups; QString number, sip, behaviour, seen, failure; };
} // namespace

class TestKarvelonApi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
        QVERIFY2(m_sim.start(QJsonDocument::fromJson(kSimConfig).object()), m_sim.output().constData());
        configure(kAll); // the password and keys, the same in every row: the store reads them once
        m_secrets.load();
        QTRY_VERIFY(m_secrets.isLoaded());
    }
    void digests_matchOpenssl();
    void requests();
    void selfSignedCertificate_refusedAndLogged();

private:
    void check(const Row& row);
    PbxSimulator m_sim;
    SecretStore m_secrets{ServiceConfig()};
};

void TestKarvelonApi::digests_matchOpenssl()
{
    // Latin-1 bytes, '?' outside it. Mode 2: printf 'caf\xe9' | md5sum, that hex | sha256sum; mode 1: printf
    // 'wachtwoord?' | sha256sum; signatures: printf '<text>' | openssl dgst -sha256 -hmac '<key>'
    QCOMPARE(KarvelonApi::hashPassword(QStringLiteral("caf\u00e9"), 2),
             QStringLiteral("1e8152018e692c7590a612910bae58d0da556cde5711305e81a480b9b9371ee9"));
    QCOMPARE(KarvelonApi::hashPassword(QStringLiteral("wachtwoord\u20ac"), 1),
             QStringLiteral("c487b5e1182de4d4700a63d92a324b6cc7333ac0b5e724debc0cbd51b678b6b0"));
    QCOMPARE(KarvelonApi::hashUriString(QStringLiteral("na\u00efef"), QStringLiteral("sleutel")),
             QStringLiteral("b6e4fbf7e10c4cc6aa2ec406e2a07a0d2e0eaf5d4e0354f8b1513196be190cf8"));
    QCOMPARE(KarvelonApi::hashUriString(QStringLiteral("telnr\u20ac"), QStringLiteral("sleutel\u4e2d")),
             QStringLiteral("ca3c437157c880ccf47c4c19bdd4e700a27fe89f093f88eca66aedec95c14c94"));
}

void TestKarvelonApi::requests()
{
    const QString nr = QStringLiteral("020-123 4567"), tb = kTbId + "|thunderbird|0|0|";
    const QStringList ol{"OutlookPlugin"}, ac{"AppleContactsPlugin"}, th{"ThunderbirdPlugin"};
    const Row table[] = {
        {"click-to-dial", 0, kAll, nr, "201", "", "c2d-test||201|0201234567|", ""},
        {"Outlook, chosen account, other digits dropped", 1024, kAll, "\u0661\u0662 020 123 4567", "202", "",
         "outlook-test|msoutlook|202|0201234567|", ""},
        {"Thunderbird, + prefix", 1026, kAll, " +32 2 555 12 34", "202", "", kTbId + "|thunderbird|202|003225551234|", ""},
        {"any plug-in: tray id on the plug-in script", 1, kAll, nr, "201", "", "c2d-test||201|0201234567|103", "103: "},
        {"unknown SIP account", 1024, kAll, nr, "999", "", "outlook-test|msoutlook|999|0201234567|201", "201: "},
        {"list click-to-dial", 0, kAll, "", "", "", "c2d-test||0|0|", ""},
        {"list any plug-in: Outlook first", 1, kAll, "", "", "", "outlook-test|msoutlook|0|0|", ""},
        {"list Outlook falls back to Thunderbird", 1024, th, "", "", "", tb, ""},
        {"list Apple Contacts skips Outlook", 1025, ol + th, "", "", "", tb, ""},
        {"list Thunderbird: no fallback", 1026, ol + ac, "", "", "", "|thunderbird|0|0|102", "102: "},
        // Faults, after which the same client goes on.
        {"call 404 with a success body", 0, kAll, kNr, "201", R"({"status":404,"body":"{}"})", "", "Not Found"},
        {"call head wins over body", 0, kAll, kNr, "201",
         R"({"body":"{\"head\":{\"error_message\":\"Eerst\",\"error_number\":\"1\"},\"body\":{\"error_message\":\"Later\"}}"})",
         "", "1: Eerst"},
        {"call message in body only", 0, kAll, kNr, "201",
         R"({"body":"{\"head\":{\"error_message\":\"\"},\"body\":{\"error_message\":\"Leeg\",\"error_number\":\"8\"}}"})",
         "", "8: Leeg"},
        {"call not JSON", 0, kAll, kNr, "201", R"({"body":"not json"})", "", ""},
        {"call closed unanswered", 0, kAll, kNr, "201", R"({"close":true})", "", "closed"},
        {"call late", 0, kAll, kNr, "201", R"({"delayMs":2000})", "", "cancel"},
        {"call refused", 0, kAll, kNr, "201", "refused", "", "refused"},
        // A broken list is not "no accounts": the stored accounts would be dropped.
        {"list empty object", 0, kAll, "", "", R"({"body":"{}"})", "", ""},
        {"list not JSON", 0, kAll, "", "", R"({"body":"<html>Service Unavailable</html>"})", "", "ongeldig antwoord"}};
    for (const Row& row : table) {
        QVERIFY(m_sim.reset());
        check(row);
        if (QTest::currentTestFailed())
            return qWarning("row: %s", row.name);
    }
}

void TestKarvelonApi::check(const Row& row)
{
    configure(row.groups);
    ServiceConfig config = m_sim.config();
    config.requestTimeoutMsecs = 1000;
    QTcpServer probe; // a port given back: nothing listens
    if (row.behaviour == QLatin1String("refused") && probe.listen(QHostAddress::LocalHost, 0))
        config.apiBaseUrl = QStringLiteral("http://127.0.0.1:%1/api/").arg(probe.serverPort()), probe.close();
    const QJsonObject fault = QJsonDocument::fromJson(row.behaviour.toUtf8()).object();
    QVERIFY(m_sim.setBehaviour(fault));
    KarvelonApi api(config, &m_secrets);
    QSignalSpy called(&api, &KarvelonApi::callFinished), listed(&api, &KarvelonApi::sipAccountsFetched);
    Pairs accounts;
    const auto attempt = [&]() { // the verdict, once it came
        QSignalSpy& spy = row.number.isEmpty() ? listed : called;
        if (row.number.isEmpty())
            api.fetchSipAccounts(SourceType::Type(row.source));
        else
            api.call(42, row.number, SourceType::Type(row.source), row.sip);
        if (!spy.wait(5000) || spy.size() != 1)
            return false;
        const QVariantList verdict = spy.takeFirst();
        accounts = verdict.value(2).value<Pairs>();
        return verdict.value(1).toBool() && (!row.number.isEmpty() || verdict.value(0).value<SourceType::Type>() == row.source);
    };
    const int mark = TestSupport::logged().size();
    QCOMPARE(attempt(), row.failure.isEmpty());
    const QRegularExpression failureLine(QStringLiteral("^Kon .*out: .*") + row.failure); // "Kon ... [Ff]out: ..."
    QCOMPARE(TestSupport::logged().mid(mark).filter(failureLine).size(), row.failure.isEmpty() ? 0 : 1);
    if (!row.seen.isEmpty()) {
        const QJsonObject request = m_sim.requests().last().toObject();
        const QJsonObject params = request[QStringLiteral("params")].toObject();
        QStringList actual{request["endpoint"].toString(), QString::number(params.contains(QStringLiteral("options")))};
        for (const char* key : {"apiID", "options", "sipacc", "telnr", "error_number"})
            actual << (params.contains(QLatin1String(key)) ? params : request)[QLatin1String(key)].toString();
        QCOMPARE(actual.join('|'), (row.source ? "/api/ouctdpl.php|1|" : "/api/cltodlapp.php|0|") + row.seen);
        // The password digest travels, but never into the log.
        const QString pwd = params[QStringLiteral("pwd")].toString();
        QVERIFY(!pwd.isEmpty() && TestSupport::logged().mid(mark).filter(pwd).isEmpty());
        if (row.number.isEmpty() && row.failure.isEmpty()) // ordered by member name as text: "1", "10", "2"
            QCOMPARE(accounts, (Pairs{{"Een", "201"}, {"Tien", "210"}, {"Twee", "202"}}));
    }
    if (fault.isEmpty())
        return;
    // The fault is over: the same client goes on, and a late answer changes nothing.
    QVERIFY(m_sim.setBehaviour(QJsonObject()));
    QVERIFY(attempt());
    QTest::qWait(fault[QStringLiteral("delayMs")].toInt());
    QCOMPARE(called.size() + listed.size(), 0);
}

void TestKarvelonApi::selfSignedCertificate_refusedAndLogged()
{
    const QString cert = TestSupport::testHome() + "/cert.pem", key = TestSupport::testHome() + "/key.pem";
    QProcess openssl;
    openssl.start(QStringLiteral(KARVELON_OPENSSL_EXECUTABLE),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                   key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1"});
    QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    // A TLS server with that certificate, which prints what it receives.
    openssl.start(QStringLiteral(KARVELON_OPENSSL_EXECUTABLE),
                  {"s_server", "-accept", "127.0.0.1:0", "-cert", cert, "-key", key});
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += openssl.readAllStandardOutput()).contains("ACCEPT") && out.endsWith('\n'), 30000);
    ServiceConfig config;
    config.apiBaseUrl =
        QStringLiteral("https://%1/api/").arg(QString::fromLatin1(out.mid(out.indexOf("127.0.0.1:")).trimmed()));
    KarvelonApi api(config, &m_secrets);

    const int mark = TestSupport::logged().size();
    QSignalSpy called(&api, &KarvelonApi::callFinished), listed(&api, &KarvelonApi::sipAccountsFetched);
    api.call(1, kNr, SourceType::ClickToDial, QStringLiteral("201"));
    QVERIFY(called.wait());
    api.fetchSipAccounts(SourceType::ClickToDial);
    QVERIFY(listed.wait());
    QVERIFY(!called.first().at(1).toBool() && !listed.first().at(1).toBool());
    // Each attempt logs the reason, and nothing (no password digest) crossed the refused channel.
    const QRegularExpression reason(QStringLiteral("self.signed"), QRegularExpression::CaseInsensitiveOption);
    QCOMPARE(TestSupport::logged().mid(mark).filter(reason).size(), 2);
    QVERIFY(!(out + openssl.readAllStandardOutput()).contains("GET"));
    openssl.kill(), openssl.waitForFinished();
}

QTEST_GUILESS_MAIN(TestKarvelonApi)
#include "test_karvelonapi.moc"
