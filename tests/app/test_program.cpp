#include "Logger.h"
#include "SingleApplication.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QtEndian>
#include <QtTest>

#include <memory>

namespace {
QString programPath()
{
    return qEnvironmentVariable("KARVELON_TEST_BINARY_DIR") + QStringLiteral("/app/karvelon");
}

// Stands in for a running instance of the program: holds its lock and
// listens on its socket, reading the wire format independently of our code
// (4-byte big-endian length, UTF-8, one acknowledgement byte back).
class FakeInstance : public QObject
{
public:
    FakeInstance()
        : m_lock(SingleApplication::lockFilePathFor(programPath()))
    {
    }

    bool start()
    {
        m_lock.setStaleLockTime(0);
        if (!m_lock.tryLock(0))
            return false;
        const QString name = SingleApplication::serverNameFor(programPath());
        QLocalServer::removeServer(name);
        if (!m_server.listen(name))
            return false;
        connect(&m_server, &QLocalServer::newConnection, this, [this]() {
            while (QLocalSocket* socket = m_server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer]() {
                    buffer->append(socket->readAll());
                    while (buffer->size() >= 4) {
                        const quint32 length = qFromBigEndian<quint32>(buffer->constData());
                        if (quint32(buffer->size() - 4) < length)
                            break;
                        messages.append(QString::fromUtf8(buffer->constData() + 4, int(length)));
                        buffer->remove(0, 4 + int(length));
                        socket->write("\x06", 1);
                    }
                });
                connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        return true;
    }

    QStringList messages;

private:
    QLockFile m_lock;
    QLocalServer m_server;
};

struct Run
{
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QByteArray standardError;
};

Run runProgram(const QStringList& arguments, const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(programPath(), arguments);
    Run run;
    // Served while the program runs, so the fake instance can answer it.
    QElapsedTimer timer;
    timer.start();
    while (process.state() != QProcess::NotRunning && timer.elapsed() < 60000)
        QTest::qWait(20);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exitCode = process.exitCode();
    run.status = process.exitStatus();
    run.standardError = process.readAllStandardError();
    return run;
}

qint64 lockHolder()
{
    QLockFile lock(SingleApplication::lockFilePathFor(programPath()));
    qint64 pid = 0;
    QString host;
    QString app;
    return lock.getLockInfo(&pid, &host, &app) ? pid : 0;
}
} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void secondStart_deliversAlreadyStarted();
    void call_arrivesUnchanged_data();
    void call_arrivesUnchanged();
    void call_withoutInstance_failsWithMessage();
    void badOption_isRejected();
    void debugSwitch_writesBareRecordsToFile();
    void staleLockOfKilledInstance_doesNotBlock();
    void quit_endsCleanly();
};

void TestProgram::initTestCase()
{
    QVERIFY2(QFileInfo(programPath()).isExecutable(), qPrintable(programPath()));
}

void TestProgram::secondStart_deliversAlreadyStarted()
{
    FakeInstance instance;
    QVERIFY(instance.start());
    const Run run = runProgram({});
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(instance.messages, QStringList{QStringLiteral("AlreadyStarted|Karvelon is al actief")});
}

void TestProgram::call_arrivesUnchanged_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("plus sign and spaces")
        << QStringList{"--call", "Jan de Vries;+31 (0)20 123 45 67=Werk;06 1234 5678=Mobiel"}
        << "ShowCallDialog|Jan de Vries;+31 (0)20 123 45 67=Werk;06 1234 5678=Mobiel";
    QTest::newRow("equals form") << QStringList{"--call=Helpdesk;0123=Werk"} << "ShowCallDialog|Helpdesk;0123=Werk";
    QTest::newRow("non-ascii") << QStringList{"--call", QString::fromUtf8("Zoë Ærts;+32 2=Privé")}
                               << QString::fromUtf8("ShowCallDialog|Zoë Ærts;+32 2=Privé");
    QTest::newRow("empty value") << QStringList{"--call", ""} << "ShowCallDialog|";
}

void TestProgram::call_arrivesUnchanged()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    FakeInstance instance;
    QVERIFY(instance.start());
    const Run run = runProgram(arguments);
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(instance.messages, QStringList{message});
    QVERIFY(!run.standardError.contains("niet actief"));
}

void TestProgram::call_withoutInstance_failsWithMessage()
{
    const Run run = runProgram({QStringLiteral("--call"), QStringLiteral("Helpdesk;0123=Werk")});
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    const QList<QByteArray> lines = run.standardError.split('\n');
    QCOMPARE(lines.count(QByteArray("Karvelon is niet actief: het belverzoek kon niet worden doorgegeven.")), 1);
}

void TestProgram::badOption_isRejected()
{
    for (const QString& option : {QStringLiteral("--help"), QStringLiteral("--bogus")}) {
        const Run run = runProgram({option});
        QCOMPARE(run.status, QProcess::NormalExit);
        QVERIFY(run.exitCode != 0);
        QVERIFY(run.standardError.contains(option.mid(2).toUtf8()));
    }
    QVERIFY(!QFileInfo::exists(SingleApplication::lockFilePathFor(programPath())));
}

void TestProgram::debugSwitch_writesBareRecordsToFile()
{
    const QString file = QDir::tempPath() + QStringLiteral("/zurorarlog.txt");
    QFile::remove(file);
    // Plug-in loading reports itself through qDebug: a Qt diagnostic that
    // every start produces.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_DEBUG_PLUGINS"), QStringLiteral("1"));
    const Run run = runProgram({QStringLiteral("--debug"), QStringLiteral("--call"), QStringLiteral("x;1=2")}, environment);
    QCOMPARE(run.exitCode, 1);

    const QByteArray contents = TestSupport::readFile(file);
    QVERIFY(contents.endsWith("\r\n"));
    const QList<QByteArray> records = contents.split('\n');
    bool found = false;
    for (const QByteArray& record : records) {
        if (record.startsWith("QFactoryLoader::QFactoryLoader() checking directory path"))
            found = record.endsWith('\r');
    }
    QVERIFY2(found, contents.left(400).constData());
    QVERIFY(!run.standardError.contains("QFactoryLoader"));
    // Our own refusal is no Qt diagnostic: it stays on standard error.
    QVERIFY(run.standardError.contains("Karvelon is niet actief"));
}

void TestProgram::staleLockOfKilledInstance_doesNotBlock()
{
    const QString serverName = SingleApplication::serverNameFor(programPath());
    QProcess first;
    first.start(programPath(), QStringList());
    QVERIFY(first.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(serverName) && lockHolder() == first.processId(), 30000);
    const qint64 firstPid = first.processId();
    first.kill(); // SIGKILL: lock file and socket stay behind
    QVERIFY(first.waitForFinished(10000));
    QCOMPARE(lockHolder(), firstPid);

    QProcess second;
    second.start(programPath(), QStringList());
    QVERIFY(second.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(lockHolder() == second.processId(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(serverName), 30000);

    // The new instance takes requests.
    const Run call = runProgram({QStringLiteral("--call"), QStringLiteral("Helpdesk;0123=Werk")});
    QCOMPARE(call.exitCode, 0);
    QCOMPARE(second.state(), QProcess::Running);

    second.kill();
    QVERIFY(second.waitForFinished(10000));
}

void TestProgram::quit_endsCleanly()
{
    const QString commandSocket = TestSupport::uniqueSocketPath(QStringLiteral("cmd"));
    QProcess process;
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/controller_quit"), {commandSocket});
    QVERIFY(process.waitForFinished(60000));
    const QByteArray standardError = process.readAllStandardError();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0, standardError.constData());
    for (const char* trouble : {"QThread", "Timers cannot", "QSocketNotifier", "Sanitizer", "runtime error",
                                "QObject::~QObject", "Cannot create children", "another thread"}) {
        QVERIFY2(!standardError.contains(trouble), standardError.constData());
    }

    // It did run: the command server was up on the path given.
    TestSupport::setApplicationIdentity();
    bool started = false;
    const QList<QJsonObject> records = Logger::instance()->readLogRecords();
    for (const QJsonObject& record : records)
        started |= record.value(QStringLiteral("msg")).toString() == QStringLiteral("Interne API gestart op: ") + commandSocket;
    QVERIFY(started);
}

QTEST_GUILESS_MAIN(TestProgram)
#include "test_program.moc"
