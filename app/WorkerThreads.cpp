#include "WorkerThreads.h"

#include <QObject>
#include <QThread>

WorkerThreads::~WorkerThreads()
{
    stop();
}

void WorkerThreads::start(QObject* object, const QString& name, std::function<void()> onStarted)
{
    auto* thread = new QThread();
    thread->setObjectName(name);
    object->moveToThread(thread);
    // Connected before the thread starts, so the thread's start orders it after everything done here.
    if (onStarted)
        QObject::connect(thread, &QThread::started, thread, std::move(onStarted), Qt::DirectConnection);
    QObject::connect(
        thread, &QThread::finished, thread,
        [this, object]() {
            std::lock_guard<std::mutex> lock(m_mutex);
            delete object;
            --m_running;
            m_changed.notify_all();
        },
        Qt::DirectConnection);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_running;
    }
    m_threads.append(thread);
    thread->start(QThread::InheritPriority);
}

void WorkerThreads::stop()
{
    {
        // From here on the caller leaves the worker objects alone. Passing
        // through the lock the workers take to delete them orders all earlier
        // use before the deletion, for race detectors too.
        std::lock_guard<std::mutex> lock(m_mutex);
    }
    while (!m_threads.isEmpty()) {
        QThread* thread = m_threads.takeLast();
        thread->quit();
        thread->wait();
        delete thread;
    }
    // Every worker has counted itself out by now; taking the lock orders
    // their last steps before whatever the caller does next.
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this]() { return m_running == 0; });
}
