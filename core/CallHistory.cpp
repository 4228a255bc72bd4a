#include "CallHistory.h"

#include "Logger.h"
#include "PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kComponent = QStringLiteral("Gesprekken");
const QLatin1String kTime("time");
const QLatin1String kDirection("dir");
const QLatin1String kNumber("number");
const QLatin1String kName("name");
const QLatin1String kLine("line");
const QLatin1String kSource("source");
const QLatin1String kAccepted("accepted");
// Where a name came from when not from the service; written only then, so older versions read the line as before.
const QLatin1String kNameSource("nameSource");
const QLatin1String kAddressBook("addressbook");

} // namespace

QByteArray CallRecord::toLine() const
{
    QJsonObject object{{kTime, double(msecsSinceEpoch)},
                       {kDirection, direction == Incoming ? QStringLiteral("in") : QStringLiteral("out")},
                       {kNumber, number},
                       {kName, name}};
    if (direction == Incoming) {
        object.insert(kLine, line);
        if (nameFromAddressBook)
            object.insert(kNameSource, kAddressBook);
    } else {
        object.insert(kSource, source);
        object.insert(kAccepted, accepted);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool CallRecord::fromLine(const QByteArray& line, CallRecord& record)
{
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    const QString direction = object.value(kDirection).toString();
    const double time = object.value(kTime).toDouble();
    if ((direction != QLatin1String("in") && direction != QLatin1String("out")) || !(time > 0) || time > 9e15)
        return false;
    record = CallRecord();
    record.direction = direction == QLatin1String("in") ? Incoming : Outgoing;
    record.msecsSinceEpoch = qint64(time);
    record.number = object.value(kNumber).toString();
    record.name = object.value(kName).toString();
    record.line = object.value(kLine).toString();
    record.source = object.value(kSource).toString();
    record.accepted = object.value(kAccepted).toBool();
    record.nameFromAddressBook = object.value(kNameSource).toString() == kAddressBook;
    return true;
}

CallHistory::CallHistory(const QString& filePath, int maxCalls, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath)
    , m_maxCalls(qMax(1, maxCalls))
{
    load();
}

CallHistory::~CallHistory() = default;

QString CallHistory::defaultFilePath()
{
    const QString dataLocation = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
    return dataLocation.isEmpty() ? QString() : dataLocation + QStringLiteral("/calls.jsonl");
}

QVector<CallRecord> CallHistory::recent(int count) const
{
    QVector<CallRecord> result;
    for (int i = m_calls.size() - 1; i >= 0 && result.size() < count; --i)
        result.append(m_calls.at(i));
    return result;
}

void CallHistory::add(const CallRecord& record)
{
    emit callAboutToBeAdded();
    m_calls.append(record);
    emit callAdded();
    if (m_calls.size() > m_maxCalls) {
        const int dropped = m_calls.size() - m_maxCalls;
        emit oldestAboutToBeDropped(dropped);
        m_calls.erase(m_calls.begin(), m_calls.begin() + dropped);
        emit oldestDropped(dropped);
    }
    if (append(record.toLine()) && ++m_linesInFile > 2 * m_maxCalls)
        compact();
    emit changed();
}

void CallHistory::clear()
{
    emit aboutToBeCleared();
    m_calls.clear();
    emit cleared();
    compact();
    emit changed();
}

void CallHistory::load()
{
    if (m_filePath.isEmpty())
        return;
    const int fd = PrivateFiles::openOwnFile(m_filePath, O_RDONLY);
    if (fd < 0) {
        if (errno != ENOENT)
            warnOnce(QStringLiteral("Kon de gespreksgeschiedenis %1 niet lezen: %2").arg(m_filePath, PrivateFiles::errorText(errno)));
        return;
    }
    // A huge file is read from its end only: the newest calls are all that is kept.
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const qint64 start = qMax<qint64>(0, file.size() - MaxReadBytes);
    file.seek(start);
    QByteArray data = file.read(MaxReadBytes);
    file.close();
    if (start > 0)
        data.remove(0, data.indexOf('\n') + 1);

    int damaged = 0;
    const QList<QByteArray> lines = data.split('\n');
    for (const QByteArray& line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        ++m_linesInFile;
        CallRecord record;
        if (CallRecord::fromLine(line, record))
            m_calls.append(record);
        else
            ++damaged;
    }
    if (damaged > 0) {
        warnOnce(QStringLiteral("%1 beschadigde regel(s) in de gespreksgeschiedenis %2 overgeslagen")
                     .arg(damaged)
                     .arg(m_filePath));
    }
    if (m_calls.size() > m_maxCalls)
        m_calls.erase(m_calls.begin(), m_calls.begin() + (m_calls.size() - m_maxCalls));
    if (start > 0 || damaged > 0 || m_linesInFile > 2 * m_maxCalls)
        compact();
}

bool CallHistory::append(const QByteArray& line)
{
    if (m_filePath.isEmpty())
        return false;
    PrivateFiles::makeDirectoryFor(m_filePath);
    const int fd = PrivateFiles::openOwnFile(m_filePath, O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0) {
        warnOnce(QStringLiteral("Kon de gespreksgeschiedenis %1 niet opslaan: %2").arg(m_filePath, PrivateFiles::errorText(errno)));
        return false;
    }
    const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    const int error = errno;
    ::close(fd);
    if (written != line.size()) {
        warnOnce(QStringLiteral("Kon de gespreksgeschiedenis %1 niet opslaan: %2").arg(m_filePath, PrivateFiles::errorText(error)));
        return false;
    }
    return true;
}

// Rewrites the file with the calls kept, replacing it whole or not at all.
void CallHistory::compact()
{
    if (m_filePath.isEmpty())
        return;
    // Never replace what is not ours: someone else's file, or a link to somewhere else.
    if (!PrivateFiles::mayReplace(m_filePath)) {
        warnOnce(QStringLiteral("Kon de gespreksgeschiedenis %1 niet opslaan: %2").arg(m_filePath, PrivateFiles::errorText(EPERM)));
        return;
    }
    PrivateFiles::makeDirectoryFor(m_filePath);
    QSaveFile file(m_filePath);
    if (file.open(QIODevice::WriteOnly)) {
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QByteArray data;
        for (const CallRecord& record : qAsConst(m_calls))
            data += record.toLine();
        file.write(data);
        if (file.commit()) {
            m_linesInFile = m_calls.size();
            return;
        }
    }
    warnOnce(QStringLiteral("Kon de gespreksgeschiedenis %1 niet opslaan: %2").arg(m_filePath, file.errorString()));
}

void CallHistory::warnOnce(const QString& message)
{
    if (message == m_lastWarning)
        return;
    m_lastWarning = message;
    Logger::instance()->log(Logger::Warning, kComponent, message);
}
