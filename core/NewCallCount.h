#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class CallHistory;
struct CallRecord;

// The incoming calls the user has not looked at: those that came in since
// "Recente gesprekken" or the "Gesprekken" window was last opened. The one
// owner of that count; the tray's badge and tooltip and the journal's bold
// rows follow it.
//
// The count is read off the history itself (incoming calls newer than the
// "seen up to" mark), so recording an incoming call is what counts it, and a
// cleared history counts nothing. The mark is kept beside the history file,
// in a file of its own ("calls.seen" beside "calls.jsonl": the time in
// milliseconds since the epoch, owner only), so calls.jsonl keeps only calls
// and older versions read it as before. A missing or damaged mark takes
// every call there is as seen; like the history, a mark that is not ours or
// a symbolic link is neither read nor written. GUI thread only; every call returns at once.
class NewCallCount : public QObject
{
    Q_OBJECT

public:
    // Follows the history while both live; not owned.
    explicit NewCallCount(CallHistory* history, QObject* parent = nullptr);
    ~NewCallCount() override;

    // The mark's file for a history file: same folder and name, suffix ".seen".
    static QString seenFilePath(const QString& historyPath);
    // Whether a call counts as new against a mark: incoming and newer.
    static bool isNew(const CallRecord& call, qint64 seenUpTo);

    int count() const { return m_count; }
    qint64 seenUpTo() const { return m_seenUpTo; }

public slots:
    // The user opened the list of calls: what is in the history now is seen.
    void markSeen();

signals:
    void changed(int count);

private:
    Q_DISABLE_COPY(NewCallCount)

    void recount();
    qint64 newestCall() const;
    bool load();
    void save();

    QPointer<CallHistory> m_history;
    QString m_filePath;
    qint64 m_seenUpTo = 0;
    int m_count = 0;
};
