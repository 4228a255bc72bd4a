#include "WorkerThreads.h"

#include <QObject>
#include <QThread>

WorkerThreads::~WorkerThreads()
{
    stop();
}

void WorkerThreads::start(QObject* object, const QString& name)
{
    auto* thread = new QThread();
    thread->setObjectName(name);
    object->moveToThread(thread);
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
