// Three threads logging 100 000 records while the log viewer's reading runs
// over and over: every line on disk is whole, and every record is there, in
// each thread's order.
#include "../core/LoggerTestAccess.h"
#include "LoadFigures.h"
#include "LogRecord.h"
#include "Logger.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class TestLoadLogging : public QObject
{
    Q_OBJECT

private slots:
    void threeWritersOneReader_noTornLineNothingLost()
    {
        constexpr int writers = 3;
        constexpr int total = 100000;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString location = dir.filePath(QStringLiteral("logs"));
        auto logger = LoggerTestAccess::create(location);

        std::atomic<int> running{writers};
        QElapsedTimer clock;
        clock.start();
        std::vector<std::thread> threads;
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back([w, &logger, &running]() {
                const int count = total / writers + (w < total % writers ? 1 : 0);
                const QString component = QStringLiteral("T%1").arg(w);
                for (int i = 0; i < count; ++i)
                    logger->log(Logger::Info, component, QStringLiteral("%1 \"é\"\n€ %2").arg(i).arg(QString(i % 50, QLatin1Char('x'))));
                --running;
            });
        }

        // The reader: the viewer's own reading, and the raw file, while they write.
        int reads = 0;
        int tornLines = 0;
        while (running.load() > 0) {
            logger->readLogRecords();
            const QStringList files = QDir(location).entryList(QDir::Files);
            for (const QString& name : files) {
                const QByteArray content = TestSupport::readFile(QDir(location).filePath(name));
                // Only whole lines count; the last one may still be on its way.
                const QList<QByteArray> lines = content.left(content.lastIndexOf('\n') + 1).split('\n');
                for (const QByteArray& line : lines) {
                    QJsonObject record;
                    if (!line.isEmpty() && !LogRecord::parseLine(line, record))
                        ++tornLines;
                }
            }
            ++reads;
        }
        for (std::thread& t : threads)
            t.join();
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(tornLines, 0);

        const QList<QJsonObject> records = logger->readLogRecords();
        QCOMPARE(records.size(), total);
        QVector<int> next(writers, 0);
        for (const QJsonObject& record : records) {
            const int w = record.value(QStringLiteral("component")).toString().mid(1).toInt();
            const QString msg = record.value(QStringLiteral("msg")).toString();
            QCOMPARE(msg.section(QLatin1Char(' '), 0, 0).toInt(), next[w]);
            ++next[w];
        }
        qInfo("logging: %d records from %d threads in %lld ms (%.0f records/s) with %d concurrent full reads; "
              "peak RSS %lld KiB",
              total, writers, elapsed, total * 1000.0 / qMax<qint64>(1, elapsed), reads, LoadFigures::peakRssKib());
    }
};

QTEST_GUILESS_MAIN(TestLoadLogging)
#include "test_load_logging.moc"
