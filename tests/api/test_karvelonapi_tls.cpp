// A service endpoint with a certificate nobody vouches for: the client must
// refuse it (TLS errors are never ignored) and log why.
#include "KarvelonApi.h"
#include "Logger.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QtTest>

namespace {
// HTTPS on port 0 with a throw-away self-signed certificate; counts what a
// client manages to send through the encrypted channel.
class SelfSignedServer : public QTcpServer
{
public:
    SelfSignedServer(const QSslCertificate& certificate, const QSslKey& key)
        : m_certificate(certificate), m_key(key)
    {
    }

    int connections = 0;
    QByteArray received;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        ++connections;
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        connect(socket, &QSslSocket::readyRead, this, [this, socket]() { received += socket->readAll(); });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        socket->startServerEncryption();
    }

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
};
} // namespace

class TestKarvelonApiTls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void call_selfSignedCertificate_failsWithReasonLogged();
    void listSipAccounts_selfSignedCertificate_failsWithReasonLogged();

private:
    int sslWarnings(int from) const;

    SelfSignedServer* m_server = nullptr;
    KarvelonApi* m_api = nullptr;
};

void TestKarvelonApiTls::initTestCase()
{
    TestSupport::setApplicationIdentity();
    QVERIFY(QSslSocket::supportsSsl());
    const QString dir = TestSupport::testHome();
    QVERIFY(!dir.isEmpty());
    const QString certPath = dir + QStringLiteral("/cert.pem");
    const QString keyPath = dir + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.start(QStringLiteral(KARVELON_OPENSSL_EXECUTABLE),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certPath, QStringLiteral("-days"),
                   QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")});
    QVERIFY(openssl.waitForFinished(60000));
    QVERIFY2(openssl.exitCode() == 0, openssl.readAllStandardError().constData());
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(certPath);
    QCOMPARE(certificates.size(), 1);
    const QSslKey key(TestSupport::readFile(keyPath), QSsl::Ec);
    QVERIFY(!key.isNull());

    m_server = new SelfSignedServer(certificates.first(), key);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));

    Settings settings;
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("100234"));
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), QStringLiteral("geheim"));
    settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Id"), QStringLiteral("c2d"));
    settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Key"), QStringLiteral("k"));

    m_api = new KarvelonApi;
    m_api->setServiceUrlsForTesting(
        {QStringLiteral("https://127.0.0.1:%1/api/").arg(m_server->serverPort()), QUrl(), QUrl(), QUrl()});
}

void TestKarvelonApiTls::cleanupTestCase()
{
    delete m_api;
    delete m_server;
}

int TestKarvelonApiTls::sslWarnings(int from) const
{
    const QString prefix = QStringLiteral("Kon geen verbinding met API maken. Foutmelding: ");
    int count = 0;
    const QList<QJsonObject> records = Logger::instance()->readLogRecords().mid(from);
    for (const QJsonObject& r : records) {
        const QString msg = r.value(QStringLiteral("msg")).toString();
        if (r.value(QStringLiteral("severity")).toInt() == Logger::Warning
            && r.value(QStringLiteral("component")).toString() == QStringLiteral("API") && msg.startsWith(prefix)) {
            // The reason itself, not just the sentence around it.
            const QString reason = msg.mid(prefix.size());
            if (reason.contains(QStringLiteral("self signed"), Qt::CaseInsensitive)
                || reason.contains(QStringLiteral("self-signed"), Qt::CaseInsensitive))
                ++count;
            else
                qWarning("unexpected reason: %s", qPrintable(reason));
        }
    }
    return count;
}

void TestKarvelonApiTls::call_selfSignedCertificate_failsWithReasonLogged()
{
    const int mark = Logger::instance()->readLogRecords().size();
    QSignalSpy spy(m_api, &KarvelonApi::callInitiated);
    m_api->call(QStringLiteral("0201234567"), SourceType::ClickToDial);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), false);
    QCOMPARE(sslWarnings(mark), 1);
    QVERIFY(m_server->connections >= 1);
    // Nothing of the request (and its password digest) crossed the refused channel.
    QVERIFY(m_server->received.isEmpty());

    bool handshakeLine = false;
    for (const QJsonObject& r : Logger::instance()->readLogRecords().mid(mark)) {
        const QString msg = r.value(QStringLiteral("msg")).toString();
        if (msg.startsWith(QStringLiteral("Fout opgetreden tijdens aanroepen API: ")))
            handshakeLine = msg.endsWith(QStringLiteral(" (%1)").arg(int(QNetworkReply::SslHandshakeFailedError)));
    }
    QVERIFY(handshakeLine);
}

void TestKarvelonApiTls::listSipAccounts_selfSignedCertificate_failsWithReasonLogged()
{
    const int mark = Logger::instance()->readLogRecords().size();
    bool ok = true;
    QVERIFY(m_api->listSipAccounts(SourceType::ClickToDial, ok).isEmpty());
    QVERIFY(!ok);
    QCOMPARE(sslWarnings(mark), 1);
    QVERIFY(m_server->received.isEmpty());
}

QTEST_GUILESS_MAIN(TestKarvelonApiTls)
#include "test_karvelonapi_tls.moc"
