#include "AddressBook.h"

#include "AddressBookBuild.h"
#include "AddressIndex.h"
#include "Logger.h"
#include "Settings.h"
#include "SettingsKeys.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <deque>
#include <mutex>

namespace {
const QString kComponent = QStringLiteral("Adresboek");
std::atomic<int> s_buildCount{0};
} // namespace

// One build, shared by this object and the worker running it. The inputs are written before the job is queued;
// owner and the result cross between the threads under the mutex.
struct AddressBook::Job
{
    AddressBookSources sources;
    QByteArray previousStamp;
    QString connectionName;
    std::atomic<bool> cancelled{false};

    std::mutex mutex;
    AddressBook* owner = nullptr; // null once the owner is gone or has started a newer build
    bool finished = false;
    AddressBookBuild::Result result;
};

namespace {
// Jobs reach the pool's threads through this queue rather than inside the task handed to the pool: its lock is one a
// race detector sees, unlike the pool's own, so what a job carries is seen to be written before it is read.
struct JobQueue
{
    std::mutex mutex;
    std::deque<std::shared_ptr<AddressBook::Job>> jobs;
};
JobQueue& jobQueue()
{
    static JobQueue queue;
    return queue;
}
} // namespace

QString AddressBookSources::defaultThunderbirdRoot()
{
    return QDir::homePath() + QStringLiteral("/.thunderbird");
}

AddressBookSources AddressBookSources::fromSettings()
{
    Settings settings;
    AddressBookSources sources;
    sources.vCardPath = settings.get(SettingsKeys::kAddressBooksGroup, SettingsKeys::kVCardPath).toString();
    const QVariant thunderbird = settings.get(SettingsKeys::kAddressBooksGroup, SettingsKeys::kThunderbird);
    sources.thunderbird = thunderbird.toString().isEmpty() || thunderbird.toBool();
    return sources;
}

bool AddressBookSources::operator==(const AddressBookSources& other) const
{
    return vCardPath == other.vCardPath && thunderbird == other.thunderbird &&
           thunderbirdRoot == other.thunderbirdRoot && rebuildDelayMsecs == other.rebuildDelayMsecs;
}

AddressBook::AddressBook(const AddressBookSources& sources, QObject* parent)
    : QObject(parent), m_sources(sources), m_watcher(new QFileSystemWatcher(this)), m_delay(new QTimer(this))
{
    m_delay->setSingleShot(true);
    m_delay->setInterval(m_sources.rebuildDelayMsecs);
    connect(m_delay, &QTimer::timeout, this, &AddressBook::startBuild);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &AddressBook::onChanged);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &AddressBook::onChanged);
    startBuild();
}

AddressBook::~AddressBook()
{
    std::lock_guard<std::mutex> lock(m_job->mutex);
    m_job->owner = nullptr;
    m_job->cancelled = true;
}

void AddressBook::setSources(const AddressBookSources& sources)
{
    m_sources = sources;
    m_delay->setInterval(m_sources.rebuildDelayMsecs);
    m_stamp.clear(); // read everything again
    startBuild();
}

QString AddressBook::lookup(const QString& number) const
{
    return m_index ? m_index->lookup(number) : QString();
}

// Changes come in bursts (a sync writes many files); the first one starts the delay, the rest ride along.
void AddressBook::onChanged()
{
    if (!m_delay->isActive())
        m_delay->start();
}

void AddressBook::startBuild()
{
    m_delay->stop();
    if (m_job) {
        std::lock_guard<std::mutex> lock(m_job->mutex);
        m_job->owner = nullptr;
        m_job->cancelled = true;
    }
    auto job = std::make_shared<Job>();
    job->sources = m_sources;
    job->previousStamp = m_stamp;
    job->connectionName = QStringLiteral("karvelon-addressbook-%1").arg(++s_buildCount);
    job->owner = this;
    m_job = job;
    {
        std::lock_guard<std::mutex> lock(jobQueue().mutex);
        jobQueue().jobs.push_back(job);
    }
    // One task per job queued, each taking the oldest.
    QThreadPool::globalInstance()->start([]() {
        std::shared_ptr<Job> job;
        {
            std::lock_guard<std::mutex> lock(jobQueue().mutex);
            job = std::move(jobQueue().jobs.front());
            jobQueue().jobs.pop_front();
        }
        AddressBookBuild::Result result =
            AddressBookBuild::run(job->sources, job->previousStamp, job->cancelled, job->connectionName);
        std::lock_guard<std::mutex> lock(job->mutex);
        job->result = std::move(result);
        job->finished = true;
        // Posted while the owner cannot go away; an event still queued when it does is dropped with it.
        if (job->owner)
            QMetaObject::invokeMethod(job->owner, "takeFinishedBuild", Qt::QueuedConnection);
    });
}

void AddressBook::takeFinishedBuild()
{
    AddressBookBuild::Result result;
    {
        std::lock_guard<std::mutex> lock(m_job->mutex);
        if (!m_job->finished)
            return; // an older build's news, overtaken since
        result = std::move(m_job->result);
        m_job->finished = false;
    }
    watch(result.files, result.directories);
    if (!result.index)
        return; // nothing changed on disk
    for (const QString& problem : result.problems) {
        if (!m_reported.contains(problem))
            Logger::instance()->log(Logger::Warning, kComponent, problem);
    }
    m_reported = result.problems;
    m_stamp = result.stamp;
    m_index = std::move(result.index);
    m_contactCount = result.contacts;
    Logger::instance()->log(
        Logger::Info, kComponent,
        QStringLiteral("Adresboeken gelezen: %1 contacten met %2 nummers.").arg(m_contactCount).arg(m_index->size()));
    emit indexReady(m_contactCount);
}

void AddressBook::watch(const QStringList& files, const QStringList& directories)
{
    const QSet<QString> wanted =
        QSet<QString>(files.cbegin(), files.cend()) + QSet<QString>(directories.cbegin(), directories.cend());
    const QStringList watchedNow = m_watcher->files() + m_watcher->directories();
    QStringList gone;
    for (const QString& path : watchedNow) {
        if (!wanted.contains(path))
            gone.append(path);
    }
    if (!gone.isEmpty())
        m_watcher->removePaths(gone);
    const QSet<QString> watched(watchedNow.cbegin(), watchedNow.cend());
    QStringList added;
    for (const QString& path : wanted) {
        if (!watched.contains(path))
            added.append(path);
    }
    if (!added.isEmpty())
        m_watcher->addPaths(added);
}
