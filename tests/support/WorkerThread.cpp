#include "WorkerThread.h"

#include <QObject>

// Lives on the worker thread; a queued call by name wakes it for each job, so
// that nothing of ours is carried in Qt's event.
class WorkerThreadExecutor : public QObject
{
    Q_OBJECT

public:
    explicit WorkerThreadExecutor(WorkerThread* owner)
        : m_owner(owner)
    {
    }

    Q_INVOKABLE void runPending() { m_owner->runPending(); }

private:
    WorkerThread* m_owner;
};

WorkerThread::WorkerThread()
{
    // Made and moved before the thread starts, which orders it before
    // everything the thread does.
    m_executor = new WorkerThreadExecutor(this);
    m_executor->moveToThread(&m_thread);
    m_thread.start();
}

WorkerThread::~WorkerThread()
{
    m_thread.quit();
    m_thread.wait();
    // The thread is gone; its last touch of the executor was before it
    // reported its last job done under the mutex.
    delete m_executor;
}

void WorkerThread::run(const std::function<void()>& job)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_job = job;
    m_done = false;
    QMetaObject::invokeMethod(m_executor, "runPending", Qt::QueuedConnection);
    m_doneChanged.wait(lock, [this]() { return m_done; });
}

void WorkerThread::runPending()
{
    std::function<void()> job;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        job.swap(m_job);
    }
    if (job)
        job();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done = true;
    m_doneChanged.notify_all();
}

#include "WorkerThread.moc"
