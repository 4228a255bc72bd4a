#pragma once

#include <QList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>

class QObject;
class QThread;

// The program's worker threads, one per worker object. An object is made on
// the main thread, handed over before its thread starts (so the main thread
// never waits for it), and deleted on its own thread as that thread ends.
class WorkerThreads
{
public:
    WorkerThreads() = default;
    ~WorkerThreads();

    // Moves object (without a parent) to a new thread of that name and starts
    // the thread; onStarted, if any, runs first on it. The object's own work
    // starts there or from its queued slots.
    void start(QObject* object, const QString& name, std::function<void()> onStarted = {});
    // Ends the threads, the last started first; each object goes with its
    // thread. The caller must not use the objects any more.
    void stop();

private:
    Q_DISABLE_COPY(WorkerThreads)

    QList<QThread*> m_threads;
    // Each worker deletes its object and counts itself out under this
    // std::mutex as it finishes, which orders that for race detectors too
    // (they cannot see through Qt's own locks).
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_running = 0;
};
