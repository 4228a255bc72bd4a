#include "CallHistory.h"
#include "Clock.h"
#include "LoggerTestAccess.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QtTest>

#include <csignal>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

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
    QString callsFile() const { return m_dir.filePath("calls.jsonl"); }
    static CallRecord call(const QString& nr) { return {CallRecord::Incoming, 1700000000000, nr, {}, {}, {}, false}; }

private slots:
    void init()
    {
        QVERIFY(QDir(logDir()).removeRecursively());
        QFile::remove(callsFile());
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

    // Files of exactly the given age go; so do strays; the month end of a leap year counts its days.
    void purge()
    {
        const QStringList june{"20240605.txt", "20240606.txt", "20240612.txt", "20240613.txt", "notes.txt"};
        const QStringList feb{"20240223.txt", "20240224.txt", "20240225.txt", "20240302.txt"};
        const struct { QDate today; int days; QStringList files, kept; } table[] = {
            {QDate(2024, 6, 12), 7, june, june.mid(1)},
            {QDate(2024, 6, 12), 0, june, june.mid(2, 1)}, // a fresh file for today only
            {QDate(2024, 3, 2), 7, feb, feb.mid(2)}};
        for (const auto& row : table) {
            QVERIFY(QDir(logDir()).removeRecursively());
            m_clock.setMoment(QDateTime(row.today, QTime(12, 0)));
            auto logger = LoggerTestAccess::create(logDir());
            for (const QString& file : row.files)
                QVERIFY(writeFile(logDir() + file, "{}\n"));
            logger->purge(row.days);
            QCOMPARE(QDir(logDir()).entryList(QDir::Files, QDir::Name), row.kept);
        }
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

    // Faults: 0 a file where the directory should be, 1 every write fails (full disk), 2 no location at all. Nothing
    // crashes or is torn, logging resumes once fixed, and with no location the working directory is left alone.
    void unusableLocation()
    {
        const QStringList records[] = {{"A:na"}, {"A:voor", "A:na"}, {}};
        for (int fault : {0, 1, 2}) {
            init();
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
            QCOMPARE(messages(*logger), records[fault]);
            QCOMPARE(QFileInfo(logDir()).permissions() & 0x77, QFile::Permissions()); // made again, owner-only
            QVERIFY(fault != 2 || TestSupport::readFile(dayFile(12)).contains("voor"));
        }
    }

    // Every field survives a restart; only the newest calls are kept, and the file is compacted; owner-only.
    void callHistory_fieldsSurviveARestart_newestKept_ownerOnly()
    {
        const CallRecord in{CallRecord::Incoming, 1700000000000, "0612345678", "<b>Piet</b>", "0201234567", {}, false,
                            true}; // the name from the user's address book
        const CallRecord out{CallRecord::Outgoing, 1700000000001, "+31 20 123", {}, {}, "OutlookPlugin", true};
        CallHistory(callsFile()).add(in);
        CallHistory(callsFile()).add(out);
        const QVector<CallRecord> read = CallHistory(callsFile()).recent(3);
        QCOMPARE(read.size(), 2);
        QCOMPARE(read.at(0).toLine(), out.toLine());
        QCOMPARE(read.at(1).toLine(), in.toLine());
        QVERIFY(read.at(0).accepted && read.at(0).source == out.source && read.at(1).line == in.line);
        for (int i = 0; i < 12; ++i)
            CallHistory(callsFile(), 5).add(call(QString::number(i)));
        CallHistory history(callsFile(), 5);
        QCOMPARE(history.calls().size(), 5);
        QCOMPARE(history.calls().first().number + history.calls().last().number, QStringLiteral("711"));
        QVERIFY(TestSupport::readFile(callsFile()).count('\n') <= 10);
        QCOMPARE(QFileInfo(callsFile()).permissions() & 0x77, QFile::Permissions());
    }

    // Damaged lines and a huge file: what is readable is kept, and the file is rewritten. A symbolic link, or someone
    // else's file (root only), is neither read nor written.
    void callHistory_damagedOrForeignFiles()
    {
        for (const QByteArray& content :
             {"not json\n{\"dir\":\"sideways\",\"time\":5}\n" + call("1").toLine() + QByteArray("\0\0{\"dir\":\n", 10),
              QByteArray(2 * CallHistory::MaxReadBytes, 'x') + '\n' + call("1").toLine()}) {
            QVERIFY(writeFile(callsFile(), content));
            CallHistory history(callsFile());
            QCOMPARE(history.calls().size(), 1);
            QCOMPARE(history.calls().at(0).number, QStringLiteral("1"));
            QVERIFY(QFileInfo(callsFile()).size() < 1024);
        }
        for (const bool symlink : {true, false}) {
            QFile::remove(callsFile());
            const QString target = symlink ? m_dir.filePath("target") : callsFile();
            QVERIFY(writeFile(target, call("1").toLine()));
            if (symlink)
                QVERIFY(QFile::link(target, callsFile()));
            else if (::getuid() != 0 || ::chown(qPrintable(callsFile()), 65534, 65534) != 0)
                QSKIP("changing a file's owner needs root");
            CallHistory history(callsFile());
            QVERIFY(history.calls().isEmpty());
            history.add(call("2"));
            history.clear();
            QCOMPARE(TestSupport::readFile(target), call("1").toLine());
            QCOMPARE(QFileInfo(callsFile()).isSymLink(), symlink);
        }
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--write-records") == 0) { // child: logs kTricky under the parent's locale
        auto logger = LoggerTestAccess::create(QFile::decodeName(argv[2]));
        for (const QString& message : kTricky)
            logger->log(Logger::Info, "\u00E9", message);
        return 0;
    }
    TestStorage test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_storage.moc"
