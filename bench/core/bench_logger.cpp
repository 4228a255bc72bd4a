// Throughput of the log store: records per second written (each flushed) from
// one and from three threads, and the time readLogRecords needs for 140 000
// records. Prints figures; never fails for being slow.

#include "Clock.h"
#include "LogRecord.h"
#include "Logger.h"
#include "LoggerTestAccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString s_component = QStringLiteral("API");
const QString s_message = QStringLiteral("Gesprek naar 0612345678 gestart via SIP-account 12345 (Jan de Vri\u00EBs)");

double logFromThreads(Logger& logger, int threads, int perThread)
{
    QElapsedTimer timer;
    timer.start();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&logger, perThread] {
            for (int i = 0; i < perThread; ++i)
                logger.log(Logger::Info, s_component, s_message);
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    return double(threads) * perThread / (double(timer.nsecsElapsed()) / 1e9);
}

// The floor: the same line written with one plain write() per record.
double rawWritesPerSecond(const QString& path, int count)
{
    const QByteArray line = LogRecord::formatLine(1, s_component, Q_INT64_C(1718186400123), s_message);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (fd < 0)
        return 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
        if (::write(fd, line.constData(), size_t(line.size())) != line.size())
            break;
    }
    const double rate = count / (double(timer.nsecsElapsed()) / 1e9);
    ::close(fd);
    return rate;
}

// The system clock answers "now" in local time, which costs a time-zone lookup
// (several stat() calls) per record. This clock answers in UTC and shows what the
// log store itself costs.
class UtcClock : public Clock
{
protected:
    QDateTime now() const override
    {
        return QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch(), Qt::UTC);
    }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The "Log file ... opened" notes would drown the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_logger: no temporary directory\n");
        return 1;
    }

    const int rounds = 5;
    const int singleCount = 200000;
    const int perThread = 100000;
    std::vector<double> single;
    std::vector<double> triple;
    std::vector<double> singleUtc;
    std::vector<double> tripleUtc;
    std::vector<double> floor;
    UtcClock utcClock;
    for (int round = 0; round < rounds; ++round) {
        const QString location = dir.path() + QStringLiteral("/write%1/").arg(round);
        {
            auto logger = LoggerTestAccess::create(location);
            single.push_back(logFromThreads(*logger, 1, singleCount));
            triple.push_back(logFromThreads(*logger, 3, perThread));
        }
        Clock::setInstance(&utcClock);
        {
            auto logger = LoggerTestAccess::create(location);
            singleUtc.push_back(logFromThreads(*logger, 1, singleCount));
            tripleUtc.push_back(logFromThreads(*logger, 3, perThread));
        }
        Clock::setInstance(nullptr);
        floor.push_back(rawWritesPerSecond(location + QStringLiteral("raw.bin"), singleCount));
        QDir(location).removeRecursively();
    }
    std::printf("bench_logger: log(), each record flushed, %d-byte line\n",
                int(LogRecord::formatLine(1, s_component, Q_INT64_C(1718186400123), s_message).size()));
    std::printf("  one thread     %10.0f records/s (median of %d x %d records; best %.0f)\n", median(single), rounds,
                singleCount, *std::max_element(single.begin(), single.end()));
    std::printf("  three threads  %10.0f records/s (median of %d x 3 x %d records; best %.0f)\n", median(triple),
                rounds, perThread, *std::max_element(triple.begin(), triple.end()));
    std::printf("  with a clock that skips the time-zone lookup per record:\n");
    std::printf("  one thread     %10.0f records/s (best %.0f)\n", median(singleUtc),
                *std::max_element(singleUtc.begin(), singleUtc.end()));
    std::printf("  three threads  %10.0f records/s (best %.0f)\n", median(tripleUtc),
                *std::max_element(tripleUtc.begin(), tripleUtc.end()));
    std::printf("  plain write()  %10.0f writes/s  (floor: one write per record, no formatting)\n", median(floor));

    // readLogRecords over 140 000 records spread over a week of files.
    const QString readLocation = dir.path() + QStringLiteral("/read/");
    const int readCount = 140000;
    {
        auto writer = LoggerTestAccess::create(readLocation);
        for (int i = 0; i < readCount; ++i)
            writer->log(Logger::Severity(i % 4), s_component, s_message + QString::number(i));
    }
    auto reader = LoggerTestAccess::create(readLocation);
    std::vector<double> seconds;
    int records = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        records = reader->readLogRecords().size();
        seconds.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    std::printf("bench_logger: readLogRecords()\n");
    std::printf("  %d records in %.3f s (median of %d; best %.3f s)\n", records, median(seconds), rounds,
                *std::min_element(seconds.begin(), seconds.end()));
    return records == readCount ? 0 : 1;
}
