#include "Clock.h"
#include "LoggerTestAccess.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <thread>
#include <vector>

#include <sys/resource.h>

namespace {
// Text that breaks naive writers: JSON syntax, control characters, NUL, UTF-8 of two, three and four bytes.
const QStringList kTricky{QStringLiteral("Bel \"Jan\" op C:\\pad\\\r\n\tkolom \x01\x1F\x7F\b\f") + QChar(0) + "na",
                          "caf\u00E9 \u20AC " + QString::fromUcs4(U"\U0001F600"), QString()};

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QStringList messages(Logger& logger)
{
    QStringList result;
    for (const QJsonObject& record : logger.readLogRecords())
        result << record.value("component").toString() + ":" + record.value("msg").toString();
    return result;
}
} // namespace

class TestStorage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FixedClock m_clock{QDateTime()};
    QString logDir() const { return m_dir.path() + "/logs/"; }
    QString dayFile(int day) const { return logDir() + QString("202406%1.txt").arg(day, 2, 10, QChar('0')); }

private slots:
    void init()
    {
        QVERIFY(QDir(logDir()).removeRecursively());
        m_clock.setMoment(QDateTime(QDate(2024, 6, 12), QTime(10, 0)));
        Clock::setInstance(&m_clock);
    }
    void cleanup() { Clock::setInstance(nullptr); }

    // Passwords are stored as typed: file and directory stay owner-only after every write, even once opened up.
    void settings_everyWriteLeavesFileOwnerOnly()
    {
        TestSupport::setApplicationIdentity();
        const QString path = Settings().fileName();
        for (int i = 0; i < 3; ++i) {
            Settings().set("CustomerGroup", "Password", QStringLiteral("geheim%1").arg(i));
            QCOMPARE(QFileInfo(path).permissions() & 0x77, QFile::Permissions());
            QCOMPARE(QFileInfo(QFileInfo(path).absolutePath()).permissions() & 0x77, QFile::Permissions());
            QVERIFY(QFile::setPermissions(path, QFile::Permissions(0x6644))); // rw-r--r--
        }
    }

    // Written by a real process under a C locale, which must not turn non-ASCII into '?'. Unreadable lines are skipped.
    void nonAscii_isUtf8UnderACLocale()
    {
        auto reader = LoggerTestAccess::create(logDir()); // first, so its purge by our date spares the child's file
        QVERIFY(writeFile(logDir() + "20240101.txt", QByteArray("{}\n[1]\ngeen\0JSON\n{\"msg\":\"af", 26)));
        qputenv("LC_ALL", "C"); // for the child only: this process chose its text codec long ago
        QCOMPARE(QProcess::execute(QCoreApplication::applicationFilePath(), {"--write-records", logDir()}), 0);
        QCOMPARE(messages(*reader), QStringList(kTricky).replaceInStrings(QRegularExpression("^"), "\u00E9:"));
    }

    // Three writers at once (some records beyond a pipe buffer page): every record stays whole, each writer's in order.
    void concurrentWriters_keepRecordsWholeAndInOrder()
    {
        auto logger = LoggerTestAccess::create(logDir());
        const auto text = [](int i) { return QString::number(i) + QString(i % 50 ? 1 : 5000, QChar(0xE9)); };
        QStringList expected;
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([&logger, &text, t] {
                for (int i = 0; i < 3000; ++i)
                    logger->log(Logger::Info, QString::number(t), text(i));
            });
            for (int i = 0; i < 3000; ++i)
                expected << QString::number(t) + ":" + text(i);
        }
        for (std::thread& thread : threads)
            thread.join();
        QStringList actual = messages(*logger);
        std::stable_sort(actual.begin(), actual.end(), [](const QString& a, const QString& b) { return a[0] < b[0]; });
        QCOMPARE(actual, expected);
    }

    void purge_data()
    {
        QTest::addColumn<QDate>("today");
        QTest::addColumn<int>("days");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("kept");
        const QStringList june{"20240605.txt", "20240606.txt", "20240612.txt", "20240613.txt", "notes.txt"};
        const QDate june12(2024, 6, 12);
        QTest::newRow("7 days: from the 6th on, strays too") << june12 << 7 << june << QStringList(june.mid(1));
        QTest::newRow("0 days: a fresh file for today only") << june12 << 0 << june << QStringList(june.mid(2, 1));
        const QStringList feb{"20240223.txt", "20240224.txt", "20240225.txt", "20240302.txt"};
        QTest::newRow("7 days, leap-year month end") << QDate(2024, 3, 2) << 7 << feb << QStringList(feb.mid(2));
    }
    void purge()
    {
        QFETCH(QDate, today);
        QFETCH(int, days);
        QFETCH(QStringList, files);
        m_clock.setMoment(QDateTime(today, QTime(12, 0)));
        auto logger = LoggerTestAccess::create(logDir());
        for (const QString& file : files)
            QVERIFY(writeFile(logDir() + file, "{}\n"));
        logger->purge(days);
        QTEST(QDir(logDir()).entryList(QDir::Files, QDir::Name), "kept");
    }

    // Past midnight the next record goes to the new day's file even before the day timer fires (time asleep
    // does not count); the timer then purges and re-arms for the next midnight.
    void midnight_newFilePurgeAndRearm()
    {
        QVERIFY(QDir().mkpath(logDir()) && writeFile(dayFile(6), QByteArray()));
        m_clock.setMoment(QDateTime(QDate(2024, 6, 12), QTime(23, 59, 59, 800)));
        auto logger = LoggerTestAccess::create(logDir());
        QTimer* timer = LoggerTestAccess::dayTimer(*logger);
        QCOMPARE(timer->interval(), 200);
        logger->log(Logger::Info, "A", "woensdag");
        m_clock.setMoment(QDateTime(QDate(2024, 6, 13), QTime(0, 0, 0, 100)));
        logger->log(Logger::Info, "A", "donderdag");
        QVERIFY(!TestSupport::readFile(dayFile(12)).contains("donderdag"));
        QVERIFY(TestSupport::readFile(dayFile(13)).contains("donderdag"));
        QTRY_VERIFY(!QFileInfo::exists(dayFile(6)));
        QCOMPARE(timer->interval(), 24 * 60 * 60 * 1000 - 100);
    }

    // Nothing crashes or is torn while the location is unusable, and logging resumes once it is fixed. Without
    // any location nothing in the working directory may be read or removed.
    void unusableLocation_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QStringList>("records");
        QTest::newRow("a file where the directory should be") << 0 << QStringList{"A:na"};
        QTest::newRow("every write fails, as on a full disk") << 1 << QStringList{"A:voor", "A:na"};
        QTest::newRow("no location at all") << 2 << QStringList();
    }
    void unusableLocation()
    {
        QFETCH(int, fault);
        auto logger = LoggerTestAccess::create(logDir());
        logger->log(Logger::Info, "A", "voor");
        QVERIFY(fault != 2 || QDir::setCurrent(logDir()));
        logger = LoggerTestAccess::create(fault == 2 ? QString() : logDir());
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const rlimit none{0, saved.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(fault != 0 || (QDir(logDir()).removeRecursively() && writeFile(logDir().chopped(1), "x")));
        QVERIFY(fault != 1 || setrlimit(RLIMIT_FSIZE, &none) == 0);
        logger->purge(fault == 2 ? 0 : 7);
        logger->log(Logger::Info, "A", "verloren");
        QVERIFY(setrlimit(RLIMIT_FSIZE, &saved) == 0 && QDir::setCurrent(m_dir.path()));
        QVERIFY(fault != 0 || QFile::remove(logDir().chopped(1)));
        m_clock.advanceMSecs(1500);
        logger->log(Logger::Info, "A", "na");
        QTEST(messages(*logger), "records");
        QCOMPARE(QFileInfo(logDir()).permissions() & 0x77, QFile::Permissions()); // made again, owner-only
        QVERIFY(fault != 2 || TestSupport::readFile(dayFile(12)).contains("voor"));
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--write-records") == 0) {
        QCoreApplication app(argc, argv); // child: logs the tricky texts under the locale the parent chose
        auto logger = LoggerTestAccess::create(QFile::decodeName(argv[2]));
        for (const QString& message : kTricky)
            logger->log(Logger::Info, "\u00E9", message);
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestStorage test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_storage.moc"
