#include "Clock.h"
#include "LogRecord.h"
#include "Logger.h"
#include "LoggerTestAccess.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <vector>

#include <unistd.h>

namespace {

const char s_childSwitch[] = "--write-records";

// Text that breaks naive writers: JSON syntax, control characters, non-ASCII.
QStringList trickyMessages()
{
    return {
        QStringLiteral("Bel \"Jan de Vries\" op +31 (0)6 1234"),
        QStringLiteral("pad C:\\Users\\jan\\"),
        QStringLiteral("regel 1\nregel 2\r\nregel 3"),
        QStringLiteral("kolom\tkolom"),
        QStringLiteral("ctl") + QChar(0x01) + QChar(0x1F) + QChar(0x7F) + QStringLiteral("end"),
        QStringLiteral("voor") + QChar(0) + QStringLiteral("na"),
        QStringLiteral("caf\u00E9 \u20AC 12,50 ") + QString::fromUcs4(U"\U0001F600"),
        QString(),
    };
}
const QString s_trickyComponent = QStringLiteral("Instellingen \u00E9\"\\");

QString dateFileName(const QDate& date)
{
    return date.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".txt");
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QStringList messagesOf(const QList<QJsonObject>& records)
{
    QStringList messages;
    for (const QJsonObject& record : records)
        messages << record.value(QStringLiteral("msg")).toString();
    return messages;
}

// Child mode: logs the tricky messages into the given directory with whatever
// locale the parent chose, then exits.
int writeRecordsChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = QFile::decodeName(argv[2]);
    auto logger = LoggerTestAccess::create(dir);
    const QStringList messages = trickyMessages();
    for (const QString& message : messages)
        logger->log(Logger::Warning, s_trickyComponent, message);
    return LoggerTestAccess::openFileName(*logger).isEmpty() ? 2 : 0;
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    FixedClock m_clock{QDateTime(QDate(2024, 6, 12), QTime(10, 0))};

    QString logDir() const { return m_dir.path() + QStringLiteral("/logs/"); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir(logDir()).removeRecursively());
        m_clock.setMoment(QDateTime(QDate(2024, 6, 12), QTime(10, 0)));
        Clock::setInstance(&m_clock);
    }
    void cleanup() { Clock::setInstance(nullptr); }

    void construction_createsDirectoryAndTodaysFile()
    {
        auto logger = LoggerTestAccess::create(m_dir.path() + QStringLiteral("/a/b/logs"));
        QCOMPARE(logger->logLocation(), m_dir.path() + QStringLiteral("/a/b/logs/"));
        QCOMPARE(LoggerTestAccess::openFileName(*logger), logger->logLocation() + QStringLiteral("20240612.txt"));
        QVERIFY(QFileInfo::exists(logger->logLocation() + QStringLiteral("20240612.txt")));
        QCOMPARE(QFileInfo(logger->logLocation()).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFile::Permissions());
    }

    void record_isOneLineOfKnownFormat()
    {
        auto logger = LoggerTestAccess::create(logDir());
        m_clock.setMoment(QDateTime::fromMSecsSinceEpoch(Q_INT64_C(1718186400123)));
        logger->log(Logger::Error, QStringLiteral("API"), QStringLiteral("Geen verbinding: \"time-out\""));
        const QString file = logDir() + dateFileName(Clock::currentDate());
        QCOMPARE(TestSupport::readFile(file),
                 QByteArray("{\"component\":\"API\",\"date\":\"1718186400123\","
                            "\"msg\":\"Geen verbinding: \\\"time-out\\\"\",\"severity\":3}\n"));
    }

    void trickyText_roundTripsThroughReadLogRecords()
    {
        auto logger = LoggerTestAccess::create(logDir());
        const QStringList messages = trickyMessages();
        for (const QString& message : messages)
            logger->log(Logger::Info, s_trickyComponent, message);
        const QList<QJsonObject> records = logger->readLogRecords();
        QCOMPARE(messagesOf(records), messages);
        for (const QJsonObject& record : records) {
            QCOMPARE(record.value(QStringLiteral("component")).toString(), s_trickyComponent);
            QCOMPARE(record.value(QStringLiteral("severity")).toInt(), int(Logger::Info));
            QCOMPARE(record.value(QStringLiteral("date")).toString(), QString::number(Clock::currentMSecsSinceEpoch()));
        }
    }

    // The writer must not depend on the locale's codec: a C locale would turn
    // every non-ASCII character into '?'.
    void trickyText_roundTripsWhenWrittenUnderCLocale()
    {
        // The child logs with the real date; the reader is made first so that its own
        // purge (by the test's date) cannot remove the child's file.
        auto reader = LoggerTestAccess::create(logDir());
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LANG"));
        env.remove(QStringLiteral("LC_CTYPE"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(s_childSwitch), logDir()});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);

        const QList<QJsonObject> records = reader->readLogRecords();
        QCOMPARE(messagesOf(records), trickyMessages());
        QCOMPARE(records.first().value(QStringLiteral("component")).toString(), s_trickyComponent);

        QByteArray content;
        const QStringList files = QDir(logDir()).entryList(QDir::Files);
        for (const QString& file : files)
            content += TestSupport::readFile(logDir() + file);
        QVERIFY(content.contains("caf\xC3\xA9 \xE2\x82\xAC"));
    }

    // Three threads at once: every line must still be one whole record, and each
    // thread's records keep their order.
    void concurrentLog_neverInterleavesWithinALine()
    {
        Clock::setInstance(nullptr);
        auto logger = LoggerTestAccess::create(logDir());
        const int perThread = 3000;
        // Longer than a pipe buffer page, so a torn write would show.
        const QString padding(5000, QLatin1Char('p'));
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < perThread; ++i) {
                    logger->log(Logger::Debug, QStringLiteral("thread%1").arg(t),
                                QStringLiteral("%1 %2").arg(i).arg(i % 50 == 0 ? padding : QStringLiteral("\u00E9\n")));
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();

        QByteArray content;
        const QStringList files = QDir(logDir()).entryList(QDir::Files);
        for (const QString& file : files)
            content += TestSupport::readFile(logDir() + file);
        QVERIFY(content.endsWith('\n'));
        const QList<QByteArray> lines = content.left(content.size() - 1).split('\n');
        QCOMPARE(lines.size(), 3 * perThread);
        int next[3] = {0, 0, 0};
        for (const QByteArray& line : lines) {
            QJsonObject record;
            QVERIFY2(LogRecord::parseLine(line, record), line.left(200).constData());
            const int t = record.value(QStringLiteral("component")).toString().mid(6).toInt();
            QVERIFY(t >= 0 && t < 3);
            QCOMPARE(record.value(QStringLiteral("msg")).toString().section(QLatin1Char(' '), 0, 0).toInt(), next[t]);
            ++next[t];
        }
        QCOMPARE(logger->readLogRecords().size(), 3 * perThread);
    }

    void readLogRecords_skipsUnreadableLines()
    {
        auto logger = LoggerTestAccess::create(logDir());
        const QByteArray good1 = LogRecord::formatLine(1, QStringLiteral("A"), 1, QStringLiteral("een"));
        const QByteArray good2 = LogRecord::formatLine(1, QStringLiteral("A"), 2, QStringLiteral("twee"));
        const QByteArray good3 = LogRecord::formatLine(1, QStringLiteral("A"), 3, QStringLiteral("drie"));
        const QByteArray good4 = LogRecord::formatLine(1, QStringLiteral("A"), 4, QStringLiteral("vier"));
        QByteArray content;
        content += good1;
        content += "{}\n";
        content += "geen JSON\n";
        content += "\n";
        content += "[1,2,3]\n";
        // Garbage after a NUL is cut off; the record before it still counts.
        content += good2.left(good2.size() - 1) + QByteArray("\0\xFF\xFE garbage", 12) + '\n';
        content += QByteArray("\0", 1) + good1;
        content += good3.left(good3.size() - 1) + "\r\n";
        content += "{\"msg\":\"afgebr";
        content += "\n";
        content += good4.left(good4.size() - 1); // last line without line feed
        QVERIFY(writeFile(logDir() + QStringLiteral("20240612.txt"), content));
        // A stray file is read as well: its JSON lines count.
        QVERIFY(writeFile(logDir() + QStringLiteral("notes.txt"), "aantekening\n" + good1));

        QStringList messages = messagesOf(logger->readLogRecords());
        messages.sort();
        // "een" twice: once from the day file, once from notes.txt.
        QCOMPARE(messages, QStringList({QStringLiteral("drie"), QStringLiteral("een"), QStringLiteral("een"),
                                        QStringLiteral("twee"), QStringLiteral("vier")}));
    }

    void secondStartSameDay_appendsToSameFile()
    {
        LoggerTestAccess::create(logDir())->log(Logger::Info, QStringLiteral("Karvelon"), QStringLiteral("eerste"));
        LoggerTestAccess::create(logDir())->log(Logger::Info, QStringLiteral("Karvelon"), QStringLiteral("tweede"));
        QCOMPARE(QDir(logDir()).entryList(QDir::Files), QStringList(QStringLiteral("20240612.txt")));
        auto reader = LoggerTestAccess::create(logDir());
        QCOMPARE(messagesOf(reader->readLogRecords()),
                 QStringList({QStringLiteral("eerste"), QStringLiteral("tweede")}));
    }

    void purge_data()
    {
        QTest::addColumn<QDate>("today");
        QTest::addColumn<int>("days");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("kept");

        QStringList june;
        for (int day = 1; day <= 12; ++day)
            june << dateFileName(QDate(2024, 6, day));
        june << QStringLiteral("20240513.txt") << QStringLiteral("20240613.txt") << QStringLiteral("20240619.txt")
             << QStringLiteral("notes.txt");
        const QStringList sixthToTwelfth = june.mid(5, 7);

        QTest::newRow("7 days on the 12th: keeps the 6th to the 12th, the day ahead and stray files")
            << QDate(2024, 6, 12) << 7 << june
            << (sixthToTwelfth + QStringList({QStringLiteral("20240613.txt"), QStringLiteral("notes.txt")}));
        QTest::newRow("0 days: removes everything, starts a fresh file for today")
            << QDate(2024, 6, 12) << 0 << june << QStringList(QStringLiteral("20240612.txt"));
        QTest::newRow("7 days across a leap-year month end")
            << QDate(2024, 3, 2) << 7
            << QStringList({QStringLiteral("20240302.txt"), QStringLiteral("20240225.txt"),
                            QStringLiteral("20240224.txt"), QStringLiteral("20240223.txt")})
            << QStringList({QStringLiteral("20240225.txt"), QStringLiteral("20240302.txt")});
    }
    void purge()
    {
        QFETCH(QDate, today);
        QFETCH(int, days);
        QFETCH(QStringList, files);
        QFETCH(QStringList, kept);

        m_clock.setMoment(QDateTime(today, QTime(12, 0)));
        auto logger = LoggerTestAccess::create(logDir());
        const QByteArray oldRecord = LogRecord::formatLine(1, QStringLiteral("A"), 1, QStringLiteral("oud"));
        for (const QString& file : files)
            QVERIFY(writeFile(logDir() + file, oldRecord));

        logger->purge(days);

        QStringList remaining = QDir(logDir()).entryList(QDir::Files);
        remaining.sort();
        kept.sort();
        QCOMPARE(remaining, kept);
        // Today's file is open again and takes new records.
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("nieuw"));
        QVERIFY(TestSupport::readFile(logDir() + dateFileName(today)).endsWith("\"msg\":\"nieuw\",\"severity\":1}\n"));
    }

    void dayTimer_isArmedAtConstructionForNextMidnight()
    {
        m_clock.setMoment(QDateTime(QDate(2024, 6, 12), QTime(22, 30)));
        auto logger = LoggerTestAccess::create(logDir());
        QTimer* timer = LoggerTestAccess::dayTimer(*logger);
        QVERIFY(timer);
        QVERIFY(timer->isActive());
        QVERIFY(timer->isSingleShot());
        QCOMPARE(timer->interval(), 90 * 60 * 1000);
    }

    void onNewDay_switchesToNewDaysFileAndRearms()
    {
        auto logger = LoggerTestAccess::create(logDir());
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("woensdag"));
        const QString oldDayFile = LoggerTestAccess::openFileName(*logger);
        QVERIFY(writeFile(logDir() + QStringLiteral("20240606.txt"), QByteArray()));

        m_clock.setMoment(QDateTime(QDate(2024, 6, 13), QTime(0, 0, 1)));
        logger->onNewDay();
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("donderdag"));

        QCOMPARE(LoggerTestAccess::openFileName(*logger), logDir() + QStringLiteral("20240613.txt"));
        QCOMPARE(oldDayFile, logDir() + QStringLiteral("20240612.txt"));
        Logger* raw = logger.get();
        QCOMPARE(messagesOf(readFileRecords(*raw, QStringLiteral("20240612.txt"))),
                 QStringList(QStringLiteral("woensdag")));
        QCOMPARE(
            messagesOf(readFileRecords(*raw, QStringLiteral("20240613.txt"))),
            QStringList({QStringLiteral("Log bestanden ouder dan 7 dagen opruimen"), QStringLiteral("donderdag")}));
        // The 6th is now seven days ago.
        QVERIFY(!QFileInfo::exists(logDir() + QStringLiteral("20240606.txt")));
        QTimer* timer = LoggerTestAccess::dayTimer(*logger);
        QVERIFY(timer && timer->isActive());
        QCOMPARE(timer->interval(), 24 * 60 * 60 * 1000 - 1000);
    }

    // The timer really drives the day change, without anyone calling onNewDay.
    void dayTimer_firesAtMidnight()
    {
        m_clock.setMoment(QDateTime(QDate(2024, 6, 12), QTime(23, 59, 59, 800)));
        auto logger = LoggerTestAccess::create(logDir());
        QCOMPARE(LoggerTestAccess::dayTimer(*logger)->interval(), 200);
        m_clock.setMoment(QDateTime(QDate(2024, 6, 13), QTime(0, 0, 0, 100)));
        QTRY_COMPARE_WITH_TIMEOUT(LoggerTestAccess::openFileName(*logger), logDir() + QStringLiteral("20240613.txt"),
                                  10000);
        QTRY_COMPARE_WITH_TIMEOUT(messagesOf(readFileRecords(*logger, QStringLiteral("20240613.txt"))),
                                  QStringList(QStringLiteral("Log bestanden ouder dan 7 dagen opruimen")), 10000);
    }

    // Even if the day timer is late (time asleep is not counted), a record goes
    // to the file of its own date.
    void log_afterMidnightWithoutTimer_usesNewDaysFile()
    {
        auto logger = LoggerTestAccess::create(logDir());
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("voor"));
        m_clock.setMoment(QDateTime(QDate(2024, 6, 13), QTime(7, 0)));
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("na"));
        QCOMPARE(messagesOf(readFileRecords(*logger, QStringLiteral("20240612.txt"))),
                 QStringList(QStringLiteral("voor")));
        QCOMPARE(messagesOf(readFileRecords(*logger, QStringLiteral("20240613.txt"))),
                 QStringList(QStringLiteral("na")));
    }

    void unwritableLocation_noCrashNoRecords_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a file where the directory should be") << QStringLiteral("file");
        QTest::newRow("a directory where today's file should be") << QStringLiteral("dir");
        QTest::newRow("read-only directory") << QStringLiteral("readonly");
    }
    void unwritableLocation_noCrashNoRecords()
    {
        QFETCH(QString, kind);
        QString location = logDir();
        QVERIFY(QDir().mkpath(logDir()));
        if (kind == QLatin1String("file")) {
            QVERIFY(writeFile(m_dir.path() + QStringLiteral("/blocker"), "x"));
            location = m_dir.path() + QStringLiteral("/blocker/logs/");
        } else if (kind == QLatin1String("dir")) {
            QVERIFY(QDir().mkpath(logDir() + QStringLiteral("20240612.txt")));
        } else {
            if (::geteuid() == 0)
                QSKIP("root writes into read-only directories");
            QVERIFY(QFile::setPermissions(logDir(), QFile::ReadOwner | QFile::ExeOwner));
        }
        {
            auto logger = LoggerTestAccess::create(location);
            QVERIFY(LoggerTestAccess::openFileName(*logger).isEmpty());
            logger->log(Logger::Error, QStringLiteral("A"), QStringLiteral("verloren"));
            logger->onNewDay();
            logger->purge(7);
            logger->log(Logger::Error, QStringLiteral("A"), QStringLiteral("verloren"));
            QVERIFY(logger->readLogRecords().isEmpty());
        }
        QFile::setPermissions(logDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(m_dir.path() + QStringLiteral("/blocker"));
    }

    // No data location: nothing is written, and nothing is read from or deleted in
    // the working directory.
    void emptyLocation_isANoOpAndLeavesWorkingDirectoryAlone()
    {
        const QString previous = QDir::currentPath();
        QVERIFY(QDir().mkpath(logDir()));
        QVERIFY(writeFile(logDir() + QStringLiteral("20240612.txt"),
                          LogRecord::formatLine(1, QStringLiteral("A"), 1, QStringLiteral("van iemand anders"))));
        QVERIFY(QDir::setCurrent(logDir()));
        {
            auto logger = LoggerTestAccess::create(QString());
            logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("niets"));
            QVERIFY(logger->readLogRecords().isEmpty());
            logger->purge(0);
            logger->onNewDay();
            QCOMPARE(logger->logLocation(), QString());
        }
        QVERIFY(QDir::setCurrent(previous));
        QCOMPARE(QDir(logDir()).entryList(QDir::Files), QStringList(QStringLiteral("20240612.txt")));
    }

    void instance_usesPerUserDataLocation()
    {
        TestSupport::setApplicationIdentity();
        Logger* logger = Logger::instance();
        QCOMPARE(Logger::instance(), logger);
        QCOMPARE(logger->logLocation(), QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                            QStringLiteral("/Karvelon/Karvelon/logs/"));
        if (!TestSupport::testHome().isEmpty())
            QVERIFY(logger->logLocation().startsWith(TestSupport::testHome()));
        logger->log(Logger::Info, QStringLiteral("Karvelon"), QStringLiteral("Initialiseren"));
        QCOMPARE(messagesOf(logger->readLogRecords()), QStringList(QStringLiteral("Initialiseren")));
        delete logger;
    }

private:
    static QList<QJsonObject> readFileRecords(const Logger& logger, const QString& fileName)
    {
        QList<QJsonObject> records;
        const QList<QByteArray> lines = TestSupport::readFile(logger.logLocation() + fileName).split('\n');
        for (const QByteArray& line : lines) {
            QJsonObject record;
            if (LogRecord::parseLine(line, record))
                records << record;
        }
        return records;
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], s_childSwitch) == 0)
        return writeRecordsChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestLogger test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_logger.moc"
