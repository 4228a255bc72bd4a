#include "SingleApplication.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QtEndian>
#include <QtTest>

#include <memory>
#include <unistd.h>

// Real processes of a small program built on SingleApplication: one running
// instance, others sending to it.
class TestSingleApplication : public QObject
{
    Q_OBJECT

private slots:
    void message_isDeliveredWhole_data();
    void message_isDeliveredWhole();
    void secondInstance_seesTheFirst();
    void frameInPieces_isAssembled();
    void frameAboveCap_isRefusedWithoutHarm();
    void socket_isOwnerOnly();
    void foreignTempDirectory_isNotUsed();
    void noInstance_sendFails();
    void killedInstance_staleLockDoesNotBlock();
    void instanceEnds_releasesLockAndSocket();

private:
    struct Server
    {
        std::unique_ptr<QProcess> process;
        QString serverName;
        QByteArray pending;
    };
    static QString peerPath();
    static std::unique_ptr<QProcess> start(const QStringList& arguments);
    static bool startServer(Server& server);
    static QStringList receivedMessages(Server& server);
    static int send(const QString& message);
    static void stopServer(Server& server);
};

QString TestSingleApplication::peerPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/singleapp_peer");
}

std::unique_ptr<QProcess> TestSingleApplication::start(const QStringList& arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(peerPath(), arguments);
    return process;
}

bool TestSingleApplication::startServer(Server& server)
{
    server.process = start({QStringLiteral("serve")});
    if (!server.process->waitForStarted(10000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (!server.process->canReadLine() && timer.elapsed() < 20000)
        server.process->waitForReadyRead(200);
    const QByteArray line = server.process->readLine().trimmed();
    if (!line.startsWith("READY "))
        return false;
    server.serverName = QString::fromUtf8(line.mid(6));
    return true;
}

QStringList TestSingleApplication::receivedMessages(Server& server)
{
    server.pending += server.process->readAllStandardOutput();
    QStringList messages;
    for (const QByteArray& line : server.pending.split('\n')) {
        if (line.startsWith("MSG ")) {
            const QByteArray bytes = QByteArray::fromBase64(line.mid(4));
            messages.append(QString::fromUtf8(bytes.constData(), bytes.size()));
        }
    }
    return messages;
}

int TestSingleApplication::send(const QString& message)
{
    std::unique_ptr<QProcess> sender = start({QStringLiteral("send")});
    if (!sender->waitForStarted(10000))
        return -1;
    sender->write(message.toUtf8().toBase64());
    sender->closeWriteChannel();
    if (!sender->waitForFinished(20000))
        return -1;
    return sender->exitStatus() == QProcess::NormalExit ? sender->exitCode() : -1;
}

void TestSingleApplication::stopServer(Server& server)
{
    if (!server.process)
        return;
    if (server.process->state() != QProcess::NotRunning) {
        send(QStringLiteral("quit"));
        if (!server.process->waitForFinished(10000)) {
            server.process->kill();
            server.process->waitForFinished(5000);
        }
    }
}

void TestSingleApplication::message_isDeliveredWhole_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("plain") << QStringLiteral("AlreadyStarted|Karvelon is al actief");
    QTest::newRow("empty") << QString();
    QTest::newRow("non-ascii") << QString::fromUtf8("ShowCallDialog|Zoë Ærts 😀;+31 20=Privé");
    QTest::newRow("line breaks and NUL") << QString::fromUtf8("a\nb\r\nc") + QChar(0) + QStringLiteral("d");
    QString large;
    for (int i = 0; large.size() < 200 * 1024; ++i)
        large += QStringLiteral("%1;").arg(i);
    QTest::newRow("200 KB") << large;
}

void TestSingleApplication::message_isDeliveredWhole()
{
    QFETCH(QString, message);
    Server server;
    QVERIFY(startServer(server));
    QCOMPARE(send(message), 0);
    QTRY_COMPARE_WITH_TIMEOUT(receivedMessages(server), QStringList{message}, 20000);
    stopServer(server);
    QCOMPARE(server.process->exitCode(), 0);
}

void TestSingleApplication::secondInstance_seesTheFirst()
{
    Server server;
    QVERIFY(startServer(server));
    std::unique_ptr<QProcess> second = start({QStringLiteral("serve")});
    QVERIFY(second->waitForFinished(20000));
    QCOMPARE(second->exitCode(), 3);
    QCOMPARE(second->readAllStandardOutput().trimmed(), QByteArray("RUNNING"));
    stopServer(server);
}

void TestSingleApplication::frameInPieces_isAssembled()
{
    Server server;
    QVERIFY(startServer(server));
    const QByteArray frame = SingleApplication::frameMessage(QString::fromUtf8("stukje voor stukje: é"));

    QLocalSocket client;
    client.connectToServer(server.serverName);
    QVERIFY(client.waitForConnected(5000));
    // Header split in two, payload split inside a UTF-8 sequence.
    for (const QByteArray& piece : {frame.left(2), frame.mid(2, 10), frame.mid(12, frame.size() - 13), frame.right(1)}) {
        client.write(piece);
        QVERIFY(client.waitForBytesWritten(5000));
        QTest::qWait(50);
    }
    QVERIFY(client.bytesAvailable() > 0 || client.waitForReadyRead(10000));
    QCOMPARE(client.read(1), QByteArray(1, SingleApplication::Acknowledgement));
    QTRY_COMPARE_WITH_TIMEOUT(receivedMessages(server), QStringList{QString::fromUtf8("stukje voor stukje: é")}, 10000);
    stopServer(server);
}

void TestSingleApplication::frameAboveCap_isRefusedWithoutHarm()
{
    Server server;
    QVERIFY(startServer(server));

    QLocalSocket client;
    client.connectToServer(server.serverName);
    QVERIFY(client.waitForConnected(5000));
    QByteArray header(4, Qt::Uninitialized);
    qToBigEndian<quint32>(SingleApplication::MaxMessageSize + 1, header.data());
    client.write(header + QByteArray(64 * 1024, 'x'));
    // The instance hangs up instead of collecting the bytes.
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 10000);
    QCOMPARE(client.bytesAvailable(), qint64(0));

    QCOMPARE(server.process->state(), QProcess::Running);
    QCOMPARE(send(QStringLiteral("daarna")), 0);
    QTRY_COMPARE_WITH_TIMEOUT(receivedMessages(server), QStringList{QStringLiteral("daarna")}, 10000);
    stopServer(server);
}

void TestSingleApplication::socket_isOwnerOnly()
{
    Server server;
    QVERIFY(startServer(server));
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QVERIFY(QFileInfo(server.serverName).exists());
    QCOMPARE(QFileInfo(server.serverName).permissions() & others, QFileDevice::Permissions());
    stopServer(server);
}

// Without a session runtime directory the lock and socket go to a private
// directory in /tmp; if another user made that name first, it is not used.
void TestSingleApplication::foreignTempDirectory_isNotUsed()
{
    if (::getuid() != 0)
        QSKIP("needs root to give the directory to another user");
    const QString foreign = QDir::tempPath() + QStringLiteral("/karvelon-%1").arg(::getuid());
    QVERIFY(QDir().mkpath(foreign));
    QCOMPARE(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
    QVERIFY(QFile::setPermissions(foreign, QFileDevice::Permissions(0x7777)));

    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    const QString lock = SingleApplication::lockFilePathFor(QCoreApplication::applicationFilePath());
    qputenv("XDG_RUNTIME_DIR", runtime);

    QVERIFY2(!lock.startsWith(foreign), qPrintable(lock));
    const QFileInfo dir(QFileInfo(lock).absolutePath());
    QCOMPARE(dir.ownerId(), ::getuid());
    QCOMPARE(int(dir.permissions() & 0x0077), 0);
}

void TestSingleApplication::noInstance_sendFails()
{
    QCOMPARE(send(QStringLiteral("niemand luistert")), 1);
}

void TestSingleApplication::killedInstance_staleLockDoesNotBlock()
{
    Server first;
    QVERIFY(startServer(first));
    first.process->kill(); // SIGKILL: no clean-up at all
    QVERIFY(first.process->waitForFinished(10000));
    const QString lockFile = SingleApplication::lockFilePathFor(peerPath());
    QVERIFY(QFileInfo::exists(lockFile));
    QVERIFY(QFileInfo::exists(first.serverName));

    // A sender does not wait for a dead instance.
    QCOMPARE(send(QStringLiteral("verloren")), 1);

    Server second;
    QVERIFY(startServer(second));
    QCOMPARE(second.serverName, first.serverName);
    QCOMPARE(send(QStringLiteral("na de crash")), 0);
    QTRY_COMPARE_WITH_TIMEOUT(receivedMessages(second), QStringList{QStringLiteral("na de crash")}, 10000);
    stopServer(second);
}

void TestSingleApplication::instanceEnds_releasesLockAndSocket()
{
    Server server;
    QVERIFY(startServer(server));
    stopServer(server);
    QCOMPARE(server.process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.process->exitCode(), 0);
    QVERIFY(!QFileInfo::exists(server.serverName));
    QVERIFY(!QFileInfo::exists(SingleApplication::lockFilePathFor(peerPath())));
}

QTEST_GUILESS_MAIN(TestSingleApplication)
#include "test_singleapplication.moc"
