#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <mutex>
#include <QObject>
#include <QString>

class QFile;
class QTimer;

// The program's activity log: one JSON record per line, one file per local
// calendar day in the per-user data directory ("logs/yyyyMMdd.txt").
class Logger : public QObject
{
    Q_OBJECT

public:
    enum Severity
    {
        Debug = 0,
        Info = 1,
        Warning = 2,
        Error = 3,
    };
    Q_ENUM(Severity)

    static Logger* instance();

    void log(Logger::Severity severity, const QString& component, const QString& msg);
    QString logLocation() const;
    QList<QJsonObject> readLogRecords();
    void purge(int days);
    static bool parseLogRecord(const QString& line, QJsonObject& record);
    void openNewLogFile();

    ~Logger() override;

public slots:
    void onNewDay();

protected:
    // Tests build their own loggers over a directory of their choice.
    explicit Logger(const QString& logLocation, QObject* parent = nullptr);
    friend class LoggerTestAccess;

private:
    Q_DISABLE_COPY(Logger)
    void armDayTimer();
    void closeLogFile();

    QFile* m_file = nullptr;
    QTimer* m_timer = nullptr;
    QString m_logLocation;
    // A std::mutex rather than a QMutex: the thread sanitizer sees it (Qt 5 locks with
    // bare futex calls), so a race on the guarded members would not go unseen.
    std::mutex m_mutex;
    static Logger* m_instance;

    // Guarded by m_mutex: the span of time (ms since the epoch) of the day the open
    // file belongs to, and the buffer each record is rendered into (reused so
    // logging does not allocate).
    qint64 m_dayStartMSecs = 0;
    qint64 m_dayEndMSecs = 0;
    // When a logger without a usable file may next try to open one.
    qint64 m_nextOpenAttemptMSecs = 0;
    QByteArray m_line;
};
