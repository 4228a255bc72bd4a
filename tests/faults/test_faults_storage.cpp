// The log directory and the settings file failing while the program runs:
// nothing crashes, nothing already stored is lost, and writing works again
// once the fault is over. Run as root too (CI containers), so the faults are
// made in ways that hold for root: a directory replaced by a file, and a
// file size limit of zero, which fails every write like a full disk.
#include "../core/LoggerTestAccess.h"
#include "Clock.h"
#include "Logger.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QStringList messages(Logger& logger)
{
    QStringList result;
    const QList<QJsonObject> records = logger.readLogRecords();
    for (const QJsonObject& record : records)
        result.append(record.value(QStringLiteral("msg")).toString());
    return result;
}

// Every write of this process fails (EFBIG) while it lives.
class WritesFail
{
public:
    WritesFail()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit none = m_saved;
        none.rlim_cur = 0;
        m_ok = setrlimit(RLIMIT_FSIZE, &none) == 0;
    }
    ~WritesFail() { setrlimit(RLIMIT_FSIZE, &m_saved); }
    bool ok() const { return m_ok; }

private:
    rlimit m_saved{};
    bool m_ok = false;
};

} // namespace

class TestFaultsStorage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::setApplicationIdentity(); }
    void cleanup() { Clock::setInstance(nullptr); }

    void logDirectoryGone_loggingResumesWhenItIsBack()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        FixedClock clock(QDateTime(QDate(2026, 3, 2), QTime(9, 0)));
        Clock::setInstance(&clock);
        const QString logs = dir.filePath(QStringLiteral("logs"));
        const QString away = dir.filePath(QStringLiteral("logs.away"));
        auto logger = LoggerTestAccess::create(logs);
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("voor"));

        // The directory goes, and a file takes its place so it cannot be made again.
        QVERIFY(QDir().rename(logs, away));
        QVERIFY(QFile(logs).open(QIODevice::WriteOnly));
        logger->purge(7); // reopens, as the log viewer's purge and the day change do
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("tijdens"));
        QVERIFY(logger->readLogRecords().isEmpty());

        QVERIFY(QFile::remove(logs));
        QVERIFY(QDir().rename(away, logs));
        clock.advanceMSecs(1500);
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("na"));
        QCOMPARE(messages(*logger), (QStringList{QStringLiteral("voor"), QStringLiteral("na")}));

        // Removed altogether: made again, privately.
        QVERIFY(QDir(logs).removeRecursively());
        logger->purge(7);
        clock.advanceMSecs(1500);
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("opnieuw"));
        QCOMPARE(messages(*logger), QStringList{QStringLiteral("opnieuw")});
        QCOMPARE(QFileInfo(logs).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    }

    void logWritesFail_noTornLinesAfterwards()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        auto logger = LoggerTestAccess::create(dir.filePath(QStringLiteral("logs")));
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("een"));
        {
            WritesFail fault;
            QVERIFY(fault.ok());
            for (int i = 0; i < 10; ++i)
                logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("verloren"));
        }
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("twee"));
        QCOMPARE(messages(*logger), (QStringList{QStringLiteral("een"), QStringLiteral("twee")}));
    }

    void settingsUnwritable_storedValuesKept_laterWritesWork()
    {
        Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("100234"));
        Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), QStringLiteral("geheim"));
        const QString path = Settings().fileName();
        const QByteArray before = TestSupport::readFile(path);
        QVERIFY(before.contains("Number=100234"));
        {
            WritesFail fault;
            QVERIFY(fault.ok());
            Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("999"));
        }
        QCOMPARE(TestSupport::readFile(path), before);
        QCOMPARE(Settings().get(QStringLiteral("CustomerGroup"), QStringLiteral("Password")).toString(),
                 QStringLiteral("geheim"));

        Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("999"));
        QCOMPARE(Settings().get(QStringLiteral("CustomerGroup"), QStringLiteral("Number")).toString(),
                 QStringLiteral("999"));
        QCOMPARE(Settings().get(QStringLiteral("CustomerGroup"), QStringLiteral("Password")).toString(),
                 QStringLiteral("geheim"));
    }

    void settingsDirectoryReadOnly_storedValuesKept()
    {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only directories");
        Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("100234"));
        const QString path = Settings().fileName();
        const QString dir = QFileInfo(path).absolutePath();
        const QByteArray before = TestSupport::readFile(path);
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("5"));
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(TestSupport::readFile(path), before);
        // The failed save is in the log, so a user who asks can be told why.
        bool logged = false;
        const QList<QJsonObject> records = Logger::instance()->readLogRecords();
        for (const QJsonObject& r : records)
            logged = logged || r.value(QStringLiteral("msg")).toString().startsWith(QStringLiteral("Kon instellingen niet opslaan"));
        QVERIFY(logged);
        Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("5"));
        QCOMPARE(Settings().get(QStringLiteral("CustomerGroup"), QStringLiteral("Number")).toString(),
                 QStringLiteral("5"));
    }
};

QTEST_GUILESS_MAIN(TestFaultsStorage)
#include "test_faults_storage.moc"
