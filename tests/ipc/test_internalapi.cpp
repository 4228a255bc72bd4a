#include "InternalKarvelonApi.h"
#include "Logger.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QtTest>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
int countRecords(const QString& message)
{
    int count = 0;
    const QList<QJsonObject> records = Logger::instance()->readLogRecords();
    for (const QJsonObject& record : records) {
        if (record.value(QStringLiteral("msg")).toString() == message)
            ++count;
    }
    return count;
}

int countRecordsStartingWith(const QString& prefix)
{
    int count = 0;
    const QList<QJsonObject> records = Logger::instance()->readLogRecords();
    for (const QJsonObject& record : records) {
        if (record.value(QStringLiteral("msg")).toString().startsWith(prefix))
            ++count;
    }
    return count;
}
} // namespace

class TestInternalApi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void oneCommandPerWrite_emitsOneSignalEach();
    void twoCommandsInOneWrite_areOneCommand();
    void lowerCaseWord_isRejectedAndConnectionStaysOpen();
    void nameWithoutNumbers_emitsNothing();
    void oversizedRead_isCappedAndServerGoesOn();
    void staleSocketFile_doesNotPreventStart();
    void socket_isOwnerOnly();
    void onItsOwnThread_signalArrivesQueued();
    void unusablePath_logsWarning();

private:
    static bool connectClient(QLocalSocket& client, const QString& serverName);
};

void TestInternalApi::initTestCase()
{
    TestSupport::setApplicationIdentity();
    SourceType::registerMetaType();
}

bool TestInternalApi::connectClient(QLocalSocket& client, const QString& serverName)
{
    client.connectToServer(serverName);
    return client.waitForConnected(5000);
}

void TestInternalApi::oneCommandPerWrite_emitsOneSignalEach()
{
    InternalKarvelonApi api(TestSupport::uniqueSocketPath(QStringLiteral("cmd")), nullptr);
    QVERIFY(api.isListening());
    QSignalSpy spy(&api, &InternalKarvelonApi::showCallDialog);

    QLocalSocket client;
    QVERIFY(connectClient(client, api.serverName()));
    client.write("ShowCallDialog;Helpdesk;0123=Werk;0456=Mobiel");
    QVERIFY(client.waitForBytesWritten(5000));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
    client.write("ShowCallDialog;Zo\xc3\xab;+31 20 123=Priv\xc3\xa9");
    QVERIFY(client.waitForBytesWritten(5000));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 10000);

    QCOMPARE(spy.at(0).at(0).value<SourceType::Type>(), SourceType::MsOutlook);
    QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("Helpdesk"));
    QCOMPARE(spy.at(0).at(2).toStringList(), (QStringList{"0123 (Werk)", "0456 (Mobiel)"}));
    QCOMPARE(spy.at(1).at(1).toString(), QString::fromUtf8("Zoë"));
    QCOMPARE(spy.at(1).at(2).toStringList(), QStringList{QString::fromUtf8("+31 20 123 (Privé)")});
    // No reply of any kind.
    QCOMPARE(client.bytesAvailable(), qint64(0));
}

void TestInternalApi::twoCommandsInOneWrite_areOneCommand()
{
    InternalKarvelonApi api(TestSupport::uniqueSocketPath(QStringLiteral("cmd")), nullptr);
    QSignalSpy spy(&api, &InternalKarvelonApi::showCallDialog);

    QLocalSocket client;
    QVERIFY(connectClient(client, api.serverName()));
    client.write("ShowCallDialog;A;1=xShowCallDialog;B;2=y");
    QVERIFY(client.waitForBytesWritten(5000));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
    QTest::qWait(200);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("A"));
    QCOMPARE(spy.at(0).at(2).toStringList(), (QStringList{"1 (xShowCallDialog)", "B", "2 (y)"}));
}

void TestInternalApi::lowerCaseWord_isRejectedAndConnectionStaysOpen()
{
    InternalKarvelonApi api(TestSupport::uniqueSocketPath(QStringLiteral("cmd")), nullptr);
    QSignalSpy spy(&api, &InternalKarvelonApi::showCallDialog);
    const int rejectedBefore = countRecords(QStringLiteral("Ongeldig commando ontvangen"));

    QLocalSocket client;
    QVERIFY(connectClient(client, api.serverName()));
    client.write("showcalldialog;Helpdesk;0123=Werk");
    QVERIFY(client.waitForBytesWritten(5000));
    QTRY_COMPARE_WITH_TIMEOUT(countRecords(QStringLiteral("Ongeldig commando ontvangen")), rejectedBefore + 1, 10000);
    QCOMPARE(spy.count(), 0);

    QCOMPARE(client.state(), QLocalSocket::ConnectedState);
    client.write("ShowCallDialog;Helpdesk;0123=Werk");
    QVERIFY(client.waitForBytesWritten(5000));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
}

void TestInternalApi::nameWithoutNumbers_emitsNothing()
{
    InternalKarvelonApi api(TestSupport::uniqueSocketPath(QStringLiteral("cmd")), nullptr);
    QSignalSpy spy(&api, &InternalKarvelonApi::showCallDialog);
    const int rejectedBefore = countRecords(QStringLiteral("Ongeldig commando ontvangen"));

    QLocalSocket client;
    QVERIFY(connectClient(client, api.serverName()));
    client.write("ShowCallDialog;Helpdesk");
    QVERIFY(client.waitForBytesWritten(5000));
    QTRY_COMPARE_WITH_TIMEOUT(countRecords(QStringLiteral("CMD: ShowCallDialog;Helpdesk")), 1, 10000);
    // Marks the end of what the first command could have caused.
    client.write("ShowCallDialog;Next;1=x");
    QVERIFY(client.waitForBytesWritten(5000));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
    QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("Next"));
    QCOMPARE(countRecords(QStringLiteral("Ongeldig commando ontvangen")), rejectedBefore);
}

void TestInternalApi::oversizedRead_isCappedAndServerGoesOn()
{
    InternalKarvelonApi api(TestSupport::uniqueSocketPath(QStringLiteral("cmd")), nullptr);
    QSignalSpy spy(&api, &InternalKarvelonApi::showCallDialog);
    const QString dropRecord = QStringLiteral("Te lang commando op interne API");
    const int dropsBefore = countRecordsStartingWith(dropRecord);

    // Written in full before the server's thread (this one) gets to read, so
    // the server sees all of it in one read.
    const QByteArray prefix("ShowCallDialog;Big;0123=Werk;");
    const QByteArray command = prefix + QByteArray(100 * 1024, 'x');
    QLocalSocket client;
    QVERIFY(connectClient(client, api.serverName()));
    client.write(command);
    while (client.bytesToWrite() > 0)
        QVERIFY(client.waitForBytesWritten(5000));

    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
    const QStringList numbers = spy.at(0).at(2).toStringList();
    QCOMPARE(numbers.size(), 2);
    QCOMPARE(numbers.at(0), QStringLiteral("0123 (Werk)"));
    QCOMPARE(numbers.at(1), QString(int(InternalKarvelonApi::MaxCommandSize) - prefix.size(), QLatin1Char('x')));
    QTRY_COMPARE_WITH_TIMEOUT(countRecordsStartingWith(dropRecord), dropsBefore + 1, 10000);

    // The rest was dropped, not taken as further commands; the connection still works.
    client.write("ShowCallDialog;After;1=x");
    QVERIFY(client.waitForBytesWritten(5000));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 10000);
    QCOMPARE(spy.at(1).at(1).toString(), QStringLiteral("After"));
}

void TestInternalApi::staleSocketFile_doesNotPreventStart()
{
    // A socket file whose server is gone, as a killed run leaves it behind.
    const QString path = TestSupport::uniqueSocketPath(QStringLiteral("stale"));
    const QByteArray encoded = QFile::encodeName(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    QVERIFY(size_t(encoded.size()) < sizeof(address.sun_path));
    std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    QVERIFY(QFileInfo::exists(path));

    InternalKarvelonApi api(path, nullptr);
    QVERIFY(api.isListening());
    QSignalSpy spy(&api, &InternalKarvelonApi::showCallDialog);
    QLocalSocket client;
    QVERIFY(connectClient(client, path));
    client.write("ShowCallDialog;Helpdesk;0123=Werk");
    QVERIFY(client.waitForBytesWritten(5000));
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
}

void TestInternalApi::socket_isOwnerOnly()
{
    InternalKarvelonApi api(TestSupport::uniqueSocketPath(QStringLiteral("cmd")), nullptr);
    QVERIFY(api.isListening());
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QCOMPARE(QFileInfo(api.serverName()).permissions() & others, QFileDevice::Permissions());
}

void TestInternalApi::onItsOwnThread_signalArrivesQueued()
{
    const QString path = TestSupport::uniqueSocketPath(QStringLiteral("cmd"));
    QThread thread;
    InternalKarvelonApi* api = nullptr;
    QSemaphore ready;
    connect(
        &thread, &QThread::started, &thread,
        [&]() {
            api = new InternalKarvelonApi(path, nullptr);
            connect(&thread, &QThread::finished, api, &QObject::deleteLater);
            ready.release();
        },
        Qt::DirectConnection);
    thread.start();
    ready.acquire();

    QStringList names;
    QThread* deliveredOn = nullptr;
    connect(api, &InternalKarvelonApi::showCallDialog, this,
            [&](SourceType::Type, const QString& name, const QStringList&) {
                names.append(name);
                deliveredOn = QThread::currentThread();
            });

    QLocalSocket client;
    QVERIFY(connectClient(client, path));
    client.write("ShowCallDialog;Helpdesk;0123=Werk");
    QVERIFY(client.waitForBytesWritten(5000));
    QTRY_COMPARE_WITH_TIMEOUT(names, QStringList{"Helpdesk"}, 10000);
    QCOMPARE(deliveredOn, QThread::currentThread());

    thread.quit();
    QVERIFY(thread.wait(10000));
}

void TestInternalApi::unusablePath_logsWarning()
{
    const QString path = TestSupport::testHome() + QStringLiteral("/no/such/dir/cmd");
    const int before = countRecordsStartingWith(QStringLiteral("Interne server niet gestart. Fout: "));
    InternalKarvelonApi api(path, nullptr);
    QVERIFY(!api.isListening());
    QCOMPARE(countRecordsStartingWith(QStringLiteral("Interne server niet gestart. Fout: ")), before + 1);
}

QTEST_GUILESS_MAIN(TestInternalApi)
#include "test_internalapi.moc"
