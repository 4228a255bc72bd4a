#include "NewCallCount.h"

#include "CallHistory.h"
#include "Logger.h"
#include "PrivateFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
// A mark of more than this many characters is not ours.
constexpr qint64 MaxMarkBytes = 32;
} // namespace

NewCallCount::NewCallCount(CallHistory* history, QObject* parent)
    : QObject(parent), m_history(history), m_filePath(history ? seenFilePath(history->filePath()) : QString())
{
    if (!load()) {
        // First start with this file, or a damaged one: nothing older is new.
        m_seenUpTo = newestCall();
        save();
    }
    if (m_history)
        connect(m_history, &CallHistory::changed, this, &NewCallCount::recount);
    recount();
}

NewCallCount::~NewCallCount() = default;

QString NewCallCount::seenFilePath(const QString& historyPath)
{
    if (historyPath.isEmpty())
        return QString();
    const QFileInfo history(historyPath);
    return history.path() + QLatin1Char('/') + history.completeBaseName() + QStringLiteral(".seen");
}

bool NewCallCount::isNew(const CallRecord& call, qint64 seenUpTo)
{
    return call.direction == CallRecord::Incoming && call.msecsSinceEpoch > seenUpTo;
}

void NewCallCount::markSeen()
{
    // The newest call rather than the clock: a clock set wrong for a while
    // cannot hide the calls after it.
    const qint64 newest = newestCall();
    if (m_count == 0 && newest <= m_seenUpTo)
        return;
    m_seenUpTo = qMax(m_seenUpTo, newest);
    save();
    recount();
}

void NewCallCount::recount()
{
    int count = 0;
    if (m_history) {
        for (const CallRecord& call : m_history->calls())
            count += isNew(call, m_seenUpTo) ? 1 : 0;
    }
    if (count == m_count)
        return;
    m_count = count;
    emit changed(m_count);
}

qint64 NewCallCount::newestCall() const
{
    qint64 newest = 0;
    if (m_history) {
        for (const CallRecord& call : m_history->calls())
            newest = qMax(newest, call.msecsSinceEpoch);
    }
    return newest;
}

bool NewCallCount::load()
{
    if (m_filePath.isEmpty())
        return true; // the history lives for this run only, and so does the mark
    const int fd = PrivateFiles::openOwnFile(m_filePath, O_RDONLY);
    if (fd < 0)
        return false;
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray text = file.read(MaxMarkBytes + 1).trimmed();
    bool ok = false;
    const qint64 mark = text.toLongLong(&ok);
    if (!ok || mark < 0 || text.size() > MaxMarkBytes) {
        Logger::instance()->log(
            Logger::Warning, QStringLiteral("Gesprekken"),
            QStringLiteral("Ongeldige markering van geziene gesprekken in %1 genegeerd").arg(m_filePath));
        return false;
    }
    m_seenUpTo = mark;
    return true;
}

void NewCallCount::save()
{
    if (m_filePath.isEmpty())
        return;
    // Never what is not ours: someone else's file, or a link to somewhere else (QSaveFile writes through it).
    if (!PrivateFiles::mayReplace(m_filePath)) {
        Logger::instance()->log(
            Logger::Warning, QStringLiteral("Gesprekken"),
            QStringLiteral("Kon %1 niet opslaan: %2").arg(m_filePath, PrivateFiles::errorText(EPERM)));
        return;
    }
    PrivateFiles::makeDirectoryFor(m_filePath);
    QSaveFile file(m_filePath);
    if (file.open(QIODevice::WriteOnly)) {
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(QByteArray::number(m_seenUpTo) + '\n');
        if (file.commit())
            return;
    }
    Logger::instance()->log(Logger::Warning, QStringLiteral("Gesprekken"),
                            QStringLiteral("Kon %1 niet opslaan: %2").arg(m_filePath, file.errorString()));
}
