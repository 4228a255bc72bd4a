#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

// One call in the history: an incoming call as the notification service
// announced it, or a call the user started.
struct CallRecord
{
    enum Direction
    {
        Incoming,
        Outgoing,
    };

    Direction direction = Incoming;
    qint64 msecsSinceEpoch = 0;
    QString number;       // the caller's number, or the number dialled as the user gave it
    QString name;         // the contact, when known
    QString line;         // incoming: the number that was called
    QString source;       // outgoing: where the request came from ("ClickToDial", "OutlookPlugin", ...)
    bool accepted = false; // outgoing: the service set the call up
    // incoming: the name was found in the user's own address books, not sent by the service
    bool nameFromAddressBook = false;

    // One line of the history file: a JSON object and a line feed.
    QByteArray toLine() const;
    // False for a line that holds no call.
    static bool fromLine(const QByteArray& line, CallRecord& record);
};

// The calls of the last days, newest last, kept in a file of their own (one
// JSON record per line, readable by its owner only). Appending is one short
// write; the file is rewritten with only the newest calls once it holds about
// twice as many as are kept. A damaged line is skipped, a file that is not
// ours or a symbolic link is neither read nor written: the history then
// lives for this run only. Failures go to the activity log; one that repeats
// is logged again only after another one came in between.
class CallHistory : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultMaxCalls = 1000;
    // At start-up no more than this much of the file's end is read.
    static constexpr qint64 MaxReadBytes = 4 * 1024 * 1024;

    explicit CallHistory(const QString& filePath, int maxCalls = DefaultMaxCalls, QObject* parent = nullptr);
    ~CallHistory() override;

    // "calls.jsonl" in the per-user data directory, beside the log directory.
    static QString defaultFilePath();

    QString filePath() const { return m_filePath; }
    // Oldest first.
    const QVector<CallRecord>& calls() const { return m_calls; }
    // The newest count calls, newest first.
    QVector<CallRecord> recent(int count) const;

    void add(const CallRecord& record);
    void clear();

signals:
    // Around each change, for a model that follows the calls row by row.
    void callAboutToBeAdded();
    void callAdded();
    void oldestAboutToBeDropped(int count);
    void oldestDropped(int count);
    void aboutToBeCleared();
    void cleared();
    // After any change.
    void changed();

private:
    Q_DISABLE_COPY(CallHistory)

    void load();
    bool append(const QByteArray& line);
    void compact();
    void warnOnce(const QString& message);

    QString m_filePath;
    int m_maxCalls;
    QVector<CallRecord> m_calls;
    int m_linesInFile = 0;
    QString m_lastWarning;
};
