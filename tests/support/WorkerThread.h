#pragma once

#include <QThread>

#include <condition_variable>
#include <functional>
#include <mutex>

class QObject;

// A thread with its own event loop, as the program's worker threads have, on
// which a test runs code and waits for it to finish. Each job and whatever it
// hands back cross over under a std::mutex, so a race detector sees the
// hand-over; Qt's own blocking queued calls and semaphores go through locks
// that an uninstrumented Qt keeps out of its sight.
//
// A job must not wait for the calling thread (no blocking queued call back to
// it): the caller is blocked until the job is done.
class WorkerThread
{
public:
    WorkerThread();
    // Quits the thread and waits for it. Objects made on it must be released
    // by a job before.
    ~WorkerThread();

    QThread* thread() { return &m_thread; }

    // Runs job on the thread and returns once it has finished.
    void run(const std::function<void()>& job);

    // Makes an object on the thread (so it belongs to it) and hands it back.
    template <typename T, typename Make> T* make(Make makeIt)
    {
        T* made = nullptr;
        run([&made, &makeIt]() { made = makeIt(); });
        return made;
    }

private:
    Q_DISABLE_COPY(WorkerThread)
    friend class WorkerThreadExecutor;
    void runPending();

    QThread m_thread;
    QObject* m_executor = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_doneChanged;
    std::function<void()> m_job;
    bool m_done = true;
};
