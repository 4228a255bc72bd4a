#pragma once

#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <functional>
#include <mutex>

// A thread with an event loop, as the program's worker threads have, that runs a test's jobs while the test
// waits. Jobs cross under a std::mutex, which a race detector sees; a timer started by name wakes the thread.
class WorkerThread
{
public:
    WorkerThread()
    {
        m_wake.setSingleShot(true);
        QObject::connect(&m_wake, &QTimer::timeout, [this]() { runPending(); });
        m_wake.moveToThread(&m_thread);
        m_thread.start();
    }
    ~WorkerThread() { m_thread.quit(), m_thread.wait(); } // what was made on it must be released by a job before
    // Runs job on the thread, which owns what it makes; the job must not wait for the caller, which waits for it.
    void run(const std::function<void()>& job)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_job = job;
        QMetaObject::invokeMethod(&m_wake, "start", Qt::QueuedConnection);
        m_done.wait(lock, [this]() { return !m_job; });
    }

private:
    void runPending()
    {
        std::lock_guard<std::mutex> lock(m_mutex); // the caller waits, without it
        m_job();
        m_job = nullptr;
        m_done.notify_all();
    }

    QThread m_thread;
    QTimer m_wake;
    std::mutex m_mutex;
    std::condition_variable m_done;
    std::function<void()> m_job;
};
