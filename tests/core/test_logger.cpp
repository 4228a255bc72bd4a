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
const QString s_trickyComponent = QStringLiteral("Instellingen \u00E9\"\\");

// Text that breaks naive writers: JSON syntax, control characters, non-ASCII.
QStringList trickyMessages()
{
    return {QStringLiteral("Bel \"Jan\" op C:\\pad\\"), QStringLiteral("regel 1\nregel 2\r\n\tkolom"),
            QStringLiteral("ctl\x01\x1F\x7F voor") + QChar(0) + QStringLiteral("na"),
            QStringLiteral("caf\u00E9 \u20AC 12,50 ") + QString::fromUcs4(U"\U0001F600"), QString()};
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray recordLine(const QString& msg)
{
    return LogRecord::formatLine(1, QStringLiteral("A"), 1, msg);
}

QStringList messagesOf(const QList<QJsonObject>& records)
{
    QStringList messages;
    for (const QJsonObject& record : records)
        messages << record.value(QStringLiteral("msg")).toString();
    return messages;
}

// The messages of one log file, in order.
QStringList fileMessages(const QString& path)
{
    QList<QJsonObject> records;
    const QList<QByteArray> lines = TestSupport::readFile(path).split('\n');
    for (const QByteArray& text : lines) {
        QJsonObject record;
        if (LogRecord::parseLine(text, record))
            records << record;
    }
    return messagesOf(records);
}

QByteArray allFiles(const QString& dir)
{
    QByteArray content;
    const QStringList files = QDir(dir).entryList(QDir::Files);
    for (const QString& file : files)
        content += TestSupport::readFile(dir + file);
    return content;
}

// Child mode: logs the tricky messages into the given directory under the locale the parent chose.
int writeRecordsChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    auto logger = LoggerTestAccess::create(QFile::decodeName(argv[2]));
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

    // Expected bytes written by hand: UTF-8 of é is C3 A9, of € E2 82 AC, of U+1F600 F0 9F 98 80.
    void jsonString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("readBack");
        const auto row = [](const char* name, const QString& text, const QByteArray& json) {
            QTest::newRow(name) << text << json << text;
        };
        row("double quote", QStringLiteral("zeg \"hallo\""), "\"zeg \\\"hallo\\\"\"");
        row("backslash", QStringLiteral("C:\\temp\\"), "\"C:\\\\temp\\\\\"");
        row("line feed and carriage return", QStringLiteral("a\nb\r\n"), "\"a\\nb\\r\\n\"");
        row("tab, backspace, form feed", QStringLiteral("a\tb\bc\fd"), "\"a\\tb\\bc\\fd\"");
        row("other control characters", QString(QChar(0x01)) + QChar(0x1F) + QChar(0x7F), "\"\\u0001\\u001f\x7f\"");
        row("NUL", QStringLiteral("voor") + QChar(0) + QStringLiteral("na"), "\"voor\\u0000na\"");
        row("UTF-8 of two, three and four bytes", QStringLiteral("caf\u00E9 \u20AC") + QString::fromUcs4(U"\U0001F600"),
            "\"caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80\"");
        QTest::newRow("lone surrogate becomes U+FFFD")
            << (QStringLiteral("x") + QChar(0xD83D) + QStringLiteral("y")) << QByteArray("\"x\xEF\xBF\xBDy\"")
            << (QStringLiteral("x") + QChar(QChar::ReplacementCharacter) + QStringLiteral("y"));
    }
    void jsonString()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, json);
        QFETCH(QString, readBack);
        QByteArray out("prefix:");
        LogRecord::appendJsonString(out, text);
        QCOMPARE(out, QByteArray("prefix:") + json);

        // The same text in both string members reads back unchanged, on one line.
        const QByteArray line = LogRecord::formatLine(1, text, 7, text);
        QCOMPARE(line.count('\n'), 1);
        QVERIFY(line.endsWith('\n'));
        QJsonObject record;
        QVERIFY(LogRecord::parseLine(line, record));
        QCOMPARE(record.value(QStringLiteral("msg")).toString(), readBack);
        QCOMPARE(record.value(QStringLiteral("component")).toString(), readBack);
        QCOMPARE(record.value(QStringLiteral("date")).toString(), QStringLiteral("7"));
        QCOMPARE(record.value(QStringLiteral("severity")).toInt(), 1);
    }

    // Makes the directory (owner-only) and today's file; one record is one line of known bytes.
    void record_isOneLineOfKnownFormat()
    {
        auto logger = LoggerTestAccess::create(m_dir.path() + QStringLiteral("/a/b/logs"));
        QCOMPARE(logger->logLocation(), m_dir.path() + QStringLiteral("/a/b/logs/"));
        const QString file = logger->logLocation() + QStringLiteral("20240612.txt");
        QCOMPARE(LoggerTestAccess::openFileName(*logger), file);
        QCOMPARE(QFileInfo(logger->logLocation()).permissions() & (QFile::ReadOther | QFile::ReadGroup),
                 QFile::Permissions());
        m_clock.setMoment(QDateTime::fromMSecsSinceEpoch(Q_INT64_C(1718186400123)));
        logger->log(Logger::Error, QStringLiteral("API"), QStringLiteral("Geen verbinding: \"time-out\" \u00EB"));
        QCOMPARE(TestSupport::readFile(file), QByteArray("{\"component\":\"API\",\"date\":\"1718186400123\","
                                                         "\"msg\":\"Geen verbinding: \\\"time-out\\\" \xC3\xAB\","
                                                         "\"severity\":3}\n"));
    }

    // Written by a real process under each locale: a C locale must not turn non-ASCII into '?'.
    void trickyText_roundTrips_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("UTF-8 locale") << QStringLiteral("C.UTF-8");
        QTest::newRow("C locale") << QStringLiteral("C");
    }
    void trickyText_roundTrips()
    {
        QFETCH(QString, locale);
        // Made first, so that its purge (by the test's date) cannot remove the child's file.
        auto reader = LoggerTestAccess::create(logDir());
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LANG"));
        env.remove(QStringLiteral("LC_CTYPE"));
        env.insert(QStringLiteral("LC_ALL"), locale);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(s_childSwitch), logDir()});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);

        const QList<QJsonObject> records = reader->readLogRecords();
        QCOMPARE(messagesOf(records), trickyMessages());
        for (const QJsonObject& record : records) {
            QCOMPARE(record.value(QStringLiteral("component")).toString(), s_trickyComponent);
            QCOMPARE(record.value(QStringLiteral("severity")).toInt(), int(Logger::Warning));
        }
        QVERIFY(allFiles(logDir()).contains("caf\xC3\xA9 \xE2\x82\xAC"));
    }

    // Three threads at once: every line stays one whole record, each thread's records in order.
    void concurrentLog_neverInterleavesWithinALine()
    {
        Clock::setInstance(nullptr);
        auto logger = LoggerTestAccess::create(logDir());
        const int perThread = 3000;
        const QString padding(5000, QLatin1Char('p')); // beyond a pipe buffer page, so a torn write shows
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < perThread; ++i)
                    logger->log(Logger::Debug, QStringLiteral("thread%1").arg(t),
                                QStringLiteral("%1 %2").arg(i).arg(i % 50 == 0 ? padding : QStringLiteral("\u00E9\n")));
            });
        }
        for (std::thread& thread : threads)
            thread.join();

        const QByteArray content = allFiles(logDir());
        QVERIFY(content.endsWith('\n'));
        const QList<QByteArray> lines = content.left(content.size() - 1).split('\n');
        QCOMPARE(lines.size(), 3 * perThread);
        int next[3] = {0, 0, 0};
        for (const QByteArray& text : lines) {
            QJsonObject record;
            QVERIFY2(LogRecord::parseLine(text, record), text.left(200).constData());
            const int t = record.value(QStringLiteral("component")).toString().mid(6).toInt();
            QVERIFY(t >= 0 && t < 3);
            QCOMPARE(record.value(QStringLiteral("msg")).toString().section(QLatin1Char(' '), 0, 0).toInt(), next[t]++);
        }
        QCOMPARE(logger->readLogRecords().size(), 3 * perThread);
    }

    void readLogRecords_skipsUnreadableLines()
    {
        auto logger = LoggerTestAccess::create(logDir());
        const QByteArray two = recordLine(QStringLiteral("twee")), three = recordLine(QStringLiteral("drie")),
                         four = recordLine(QStringLiteral("vier"));
        QByteArray content = recordLine(QStringLiteral("een")) + "{}\ngeen JSON\n\n[1,2,3]\n";
        // Garbage after a NUL is cut off; the record before it still counts.
        content += two.left(two.size() - 1) + QByteArray("\0\xFF\xFE garbage", 12) + '\n';
        content += QByteArray("\0", 1) + recordLine(QStringLiteral("een"));
        content += three.left(three.size() - 1) + "\r\n{\"msg\":\"afgebr\n";
        content += four.left(four.size() - 1); // last line without line feed
        QVERIFY(writeFile(logDir() + QStringLiteral("20240612.txt"), content));
        // A stray file is read as well.
        QVERIFY(writeFile(logDir() + QStringLiteral("notes.txt"), "aantekening\n" + recordLine(QStringLiteral("los"))));

        QStringList messages = messagesOf(logger->readLogRecords());
        messages.sort();
        QCOMPARE(messages, QStringList({QStringLiteral("drie"), QStringLiteral("een"), QStringLiteral("los"),
                                        QStringLiteral("twee"), QStringLiteral("vier")}));
    }

    void secondStartSameDay_appendsToSameFile()
    {
        LoggerTestAccess::create(logDir())->log(Logger::Info, QStringLiteral("A"), QStringLiteral("eerste"));
        LoggerTestAccess::create(logDir())->log(Logger::Info, QStringLiteral("A"), QStringLiteral("tweede"));
        QCOMPARE(QDir(logDir()).entryList(QDir::Files), QStringList(QStringLiteral("20240612.txt")));
        QCOMPARE(fileMessages(logDir() + QStringLiteral("20240612.txt")),
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
            june << QDate(2024, 6, day).toString(QStringLiteral("yyyyMMdd'.txt'"));
        june << QStringLiteral("20240513.txt") << QStringLiteral("20240613.txt") << QStringLiteral("20240619.txt")
             << QStringLiteral("notes.txt");

        QTest::newRow("7 days on the 12th: keeps the 6th to the 12th, the day ahead and stray files")
            << QDate(2024, 6, 12) << 7 << june
            << (june.mid(5, 7) + QStringList({QStringLiteral("20240613.txt"), QStringLiteral("notes.txt")}));
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
        for (const QString& file : files)
            QVERIFY(writeFile(logDir() + file, recordLine(QStringLiteral("oud"))));
        logger->purge(days);

        QStringList remaining = QDir(logDir()).entryList(QDir::Files);
        remaining.sort();
        kept.sort();
        QCOMPARE(remaining, kept);
        // Today's file is open again and takes new records.
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("nieuw"));
        QVERIFY(TestSupport::readFile(logDir() + today.toString(QStringLiteral("yyyyMMdd'.txt'")))
                    .endsWith("\"msg\":\"nieuw\",\"severity\":1}\n"));
    }

    // The timer armed at construction drives the day change by itself: new file, purge, re-armed.
    void dayTimer_switchesFilePurgesAndRearmsAtMidnight()
    {
        QVERIFY(QDir().mkpath(logDir()));
        QVERIFY(writeFile(logDir() + QStringLiteral("20240606.txt"), QByteArray()));
        m_clock.setMoment(QDateTime(QDate(2024, 6, 12), QTime(23, 59, 59, 800)));
        auto logger = LoggerTestAccess::create(logDir());
        QTimer* timer = LoggerTestAccess::dayTimer(*logger);
        QVERIFY(timer && timer->isActive() && timer->isSingleShot());
        QCOMPARE(timer->interval(), 200);
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("woensdag"));
        QVERIFY(QFileInfo::exists(logDir() + QStringLiteral("20240606.txt")));

        m_clock.setMoment(QDateTime(QDate(2024, 6, 13), QTime(0, 0, 0, 100)));
        QTRY_COMPARE_WITH_TIMEOUT(LoggerTestAccess::openFileName(*logger), logDir() + QStringLiteral("20240613.txt"),
                                  10000);
        QTRY_COMPARE_WITH_TIMEOUT(fileMessages(logDir() + QStringLiteral("20240613.txt")),
                                  QStringList(QStringLiteral("Log bestanden ouder dan 7 dagen opruimen")), 10000);
        QCOMPARE(fileMessages(logDir() + QStringLiteral("20240612.txt")), QStringList(QStringLiteral("woensdag")));
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(logDir() + QStringLiteral("20240606.txt")), 10000);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 24 * 60 * 60 * 1000 - 100);
    }

    // A late day timer (time asleep is not counted) must not put a record in yesterday's file.
    void log_afterMidnightWithoutTimer_usesNewDaysFile()
    {
        auto logger = LoggerTestAccess::create(logDir());
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("voor"));
        m_clock.setMoment(QDateTime(QDate(2024, 6, 13), QTime(7, 0)));
        logger->log(Logger::Info, QStringLiteral("A"), QStringLiteral("na"));
        QCOMPARE(fileMessages(logDir() + QStringLiteral("20240612.txt")), QStringList(QStringLiteral("voor")));
        QCOMPARE(fileMessages(logDir() + QStringLiteral("20240613.txt")), QStringList(QStringLiteral("na")));
    }

    // Also no location at all: then nothing may be read or deleted in the working directory.
    void unusableLocation_noCrashNoRecords_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a file where the directory should be") << QStringLiteral("file");
        QTest::newRow("a directory where today's file should be") << QStringLiteral("dir");
        QTest::newRow("read-only directory") << QStringLiteral("readonly");
        QTest::newRow("no location") << QStringLiteral("none");
    }
    void unusableLocation_noCrashNoRecords()
    {
        QFETCH(QString, kind);
        const QString previous = QDir::currentPath();
        QString location = logDir();
        QVERIFY(QDir().mkpath(logDir()));
        if (kind == QLatin1String("file")) {
            QVERIFY(writeFile(m_dir.path() + QStringLiteral("/blocker"), "x"));
            location = m_dir.path() + QStringLiteral("/blocker/logs/");
        } else if (kind == QLatin1String("dir")) {
            QVERIFY(QDir().mkpath(logDir() + QStringLiteral("20240612.txt")));
        } else if (kind == QLatin1String("readonly")) {
            if (::geteuid() == 0)
                QSKIP("root writes into read-only directories");
            QVERIFY(QFile::setPermissions(logDir(), QFile::ReadOwner | QFile::ExeOwner));
        } else {
            location.clear();
            QVERIFY(writeFile(logDir() + QStringLiteral("20240612.txt"), recordLine(QStringLiteral("van iemand"))));
            QVERIFY(QDir::setCurrent(logDir()));
        }
        {
            auto logger = LoggerTestAccess::create(location);
            QVERIFY(LoggerTestAccess::openFileName(*logger).isEmpty());
            logger->log(Logger::Error, QStringLiteral("A"), QStringLiteral("verloren"));
            logger->onNewDay();
            logger->purge(0);
            logger->log(Logger::Error, QStringLiteral("A"), QStringLiteral("verloren"));
            QVERIFY(logger->readLogRecords().isEmpty());
        }
        QVERIFY(QDir::setCurrent(previous));
        QFile::setPermissions(logDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(m_dir.path() + QStringLiteral("/blocker"));
        if (kind == QLatin1String("none")) {
            QCOMPARE(QDir(logDir()).entryList(QDir::Files), QStringList(QStringLiteral("20240612.txt")));
            QCOMPARE(allFiles(logDir()), recordLine(QStringLiteral("van iemand")));
        }
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
