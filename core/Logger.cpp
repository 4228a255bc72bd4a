#include "Logger.h"

#include "Clock.h"
#include "LogRecord.h"
#include "PrivateFiles.h"

#include <QAbstractEventDispatcher>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <mutex>
#include <QStandardPaths>
#include <QTimer>

#include <cstring>

Logger* Logger::m_instance = nullptr;

namespace {

// Room for an ordinary record; a buffer grown far beyond it by one huge message is given back.
constexpr int s_lineReserve = 1024;
constexpr int s_lineKeepLimit = 64 * 1024;
// How often a logger without a usable file tries to open one again.
constexpr qint64 s_reopenIntervalMSecs = 1000;

QFileInfoList logDirectoryEntries(const QString& location)
{
    return QDir(location).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
}

} // namespace

// Called first on the main thread before any other thread exists, so no lock.
Logger* Logger::instance()
{
    if (!m_instance) {
        const QString dataLocation = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
        m_instance = new Logger(dataLocation.isEmpty() ? QString() : dataLocation + QStringLiteral("/logs/"));
    }
    return m_instance;
}

Logger::Logger(const QString& logLocation, QObject* parent) : QObject(parent)
{
    m_line.reserve(s_lineReserve);
    // Without a location there is no file: every log() is a no-op. An empty
    // location must never fall back to the working directory (purge would empty it).
    if (logLocation.isEmpty())
        return;
    m_logLocation = logLocation.endsWith(QLatin1Char('/')) ? logLocation : logLocation + QLatin1Char('/');
    openNewLogFile();
    purge(7);
    // Start the day-change cycle, so the log rolls over (and old files go) at midnight
    // even when the program runs for days.
    armDayTimer();
}

Logger::~Logger()
{
    if (m_instance == this)
        m_instance = nullptr;
    delete m_file;
}

void Logger::log(Logger::Severity severity, const QString& component, const QString& msg)
{
    const std::lock_guard<std::mutex> locker(m_mutex);
    if (!m_file)
        return;
    const qint64 now = Clock::currentMSecsSinceEpoch();
    // A late day timer (a suspended laptop does not count the hours asleep) must not
    // put today's records into yesterday's file.
    if (now < m_dayStartMSecs || now >= m_dayEndMSecs) {
        closeLogFile();
        openNewLogFile();
    }
    if (!m_file->isWritable()) {
        // The file could not be opened (the directory was gone or closed to us).
        // Try again now and then, so logging comes back once the fault is over
        // instead of staying silent for the rest of the day.
        if (now < m_nextOpenAttemptMSecs && now >= m_nextOpenAttemptMSecs - s_reopenIntervalMSecs)
            return;
        m_nextOpenAttemptMSecs = now + s_reopenIntervalMSecs;
        openNewLogFile();
        if (!m_file->isWritable())
            return;
    }
    if (m_line.capacity() > s_lineKeepLimit) {
        m_line = QByteArray();
        m_line.reserve(s_lineReserve);
    }
    m_line.resize(0);
    LogRecord::appendLine(m_line, int(severity), component, now, msg);
    // One write per record: the file is opened unbuffered and in append mode, so the
    // line lands whole at the end, even with a second process appending to the same file.
    m_file->write(m_line);
    m_file->flush();
}

QString Logger::logLocation() const
{
    return m_logLocation;
}

QList<QJsonObject> Logger::readLogRecords()
{
    QList<QJsonObject> records;
    if (m_logLocation.isEmpty())
        return records;
    const QFileInfoList entries = logDirectoryEntries(m_logLocation);
    for (const QFileInfo& entry : entries) {
        QFile file(entry.absoluteFilePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = file.readAll();
        const char* const data = content.constData();
        const int size = content.size();
        int start = 0;
        while (start < size) {
            const char* lineStart = data + start;
            const void* newline = std::memchr(lineStart, '\n', size_t(size - start));
            const int lineEnd = newline ? int(static_cast<const char*>(newline) - data) : size;
            int length = lineEnd - start;
            // A crash can leave NUL bytes in a file: whatever follows one on a line is garbage.
            if (const void* nul = std::memchr(lineStart, '\0', size_t(length)))
                length = int(static_cast<const char*>(nul) - lineStart);
            QJsonObject record;
            if (length > 0 && LogRecord::parseLine(QByteArray::fromRawData(lineStart, length), record))
                records.append(record);
            start = lineEnd + 1;
        }
    }
    return records;
}

void Logger::purge(int days)
{
    if (m_logLocation.isEmpty())
        return;
    // The lock is held throughout, so records logged meanwhile by other threads wait
    // instead of being dropped while no file is open.
    const std::lock_guard<std::mutex> locker(m_mutex);
    closeLogFile();
    const QDate today = Clock::currentDate();
    const QFileInfoList entries = logDirectoryEntries(m_logLocation);
    for (const QFileInfo& entry : entries) {
        // Files whose name is not a date count as today's: only purge(0) removes them.
        const QDate date = QDate::fromString(entry.baseName(), QStringLiteral("yyyyMMdd"));
        const qint64 distance = date.isValid() ? qAbs(today.daysTo(date)) : 0;
        if (days <= distance)
            QFile::remove(entry.absoluteFilePath());
    }
    openNewLogFile();
}

bool Logger::parseLogRecord(const QString& line, QJsonObject& record)
{
    return LogRecord::parseLine(line.toUtf8(), record);
}

// Callers hold m_mutex (except the constructor, before any other thread exists).
void Logger::openNewLogFile()
{
    if (m_logLocation.isEmpty())
        return;
    const QDateTime now = Clock::currentDateTime();
    QDateTime dayStart = now;
    dayStart.setTime(QTime(0, 0));
    QDateTime dayEnd = dayStart;
    dayEnd.setDate(now.date().addDays(1));
    // Where a daylight-saving jump swallows midnight, fall back to a day from now.
    m_dayStartMSecs = dayStart.isValid() ? dayStart.toMSecsSinceEpoch() : now.toMSecsSinceEpoch();
    m_dayEndMSecs = dayEnd.isValid() ? dayEnd.toMSecsSinceEpoch() : m_dayStartMSecs + 24 * 60 * 60 * 1000;
    const QString path = m_logLocation + QStringLiteral("%1.txt").arg(now.date().toString(QStringLiteral("yyyyMMdd")));
    // Made here rather than once at start, so a directory removed while we ran comes
    // back. The records name contacts and numbers: keep a directory we create to ourselves.
    if (!QFileInfo::exists(m_logLocation))
        PrivateFiles::makeDirectory(m_logLocation);
    delete m_file;
    m_file = new QFile(path);
    if (m_file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        qDebug() << "Log file" << path << "opened";
}

void Logger::closeLogFile()
{
    if (m_file)
        m_file->close();
}

void Logger::onNewDay()
{
    {
        const std::lock_guard<std::mutex> locker(m_mutex);
        closeLogFile();
        openNewLogFile();
    }
    armDayTimer();
    log(Logger::Info, QStringLiteral("Logger"), QStringLiteral("Log bestanden ouder dan 7 dagen opruimen"));
    purge(7);
}

void Logger::armDayTimer()
{
    // Timers need an event loop in this thread; without one (no application object
    // yet) there is nothing to arm.
    if (!QAbstractEventDispatcher::instance(thread()))
        return;
    if (!m_timer) {
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        // A coarse timer may fire minutes early over a span of hours.
        m_timer->setTimerType(Qt::PreciseTimer);
        connect(m_timer, &QTimer::timeout, this, &Logger::onNewDay);
    }
    const QDateTime now = Clock::currentDateTime();
    QDateTime midnight = now;
    midnight.setDate(now.date().addDays(1));
    midnight.setTime(QTime(0, 0));
    // Should the timer still fire a moment early, the next run finds midnight close
    // by and fires again right after it.
    const qint64 interval = qBound<qint64>(1, now.msecsTo(midnight), 25 * 60 * 60 * 1000);
    m_timer->start(int(interval));
}
