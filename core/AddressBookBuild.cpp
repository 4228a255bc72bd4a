#include "AddressBookBuild.h"

#include "AddressIndex.h"
#include "ThunderbirdAddressBooks.h"
#include "VCard.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace AddressBookBuild {

namespace {

// A vCard file beyond this is no address book a person keeps; it is left unread rather than held in memory.
constexpr qint64 kMaxVCardFileBytes = 64 * 1024 * 1024;
constexpr qint64 kMaxProfilesIniBytes = 1024 * 1024;

bool isVCardFile(const QString& name)
{
    return name.endsWith(QLatin1String(".vcf"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String(".vcard"), Qt::CaseInsensitive);
}

// Size, times to the nanosecond and inode: a file rewritten in place or replaced by another shows in one of them.
void stampFile(QByteArray& stamp, const QString& path)
{
    struct stat st;
    const QByteArray name = QFile::encodeName(path);
    stamp += name;
    if (::stat(name.constData(), &st) == 0) {
        stamp += ' ' + QByteArray::number(qlonglong(st.st_size)) + ' ' + QByteArray::number(qlonglong(st.st_ino)) +
                 ' ' + QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.' +
                 QByteArray::number(qlonglong(st.st_mtim.tv_nsec)) + ' ' +
                 QByteArray::number(qlonglong(st.st_ctim.tv_sec)) + '.' +
                 QByteArray::number(qlonglong(st.st_ctim.tv_nsec));
    }
    stamp += '\n';
}

void findVCardFiles(const QString& path, Result& result, QStringList& vCardFiles)
{
    if (path.isEmpty())
        return;
    const QFileInfo info(path);
    if (info.isDir()) {
        result.directories.append(info.absoluteFilePath());
        QDirIterator it(info.absoluteFilePath(), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString found = it.next();
            if (it.fileInfo().isDir())
                result.directories.append(found);
            else if (isVCardFile(found))
                vCardFiles.append(found);
        }
        vCardFiles.sort();
    } else {
        if (info.isFile())
            vCardFiles.append(info.absoluteFilePath());
        else
            result.problems.append(QStringLiteral("vCard-pad %1 bestaat niet.").arg(path));
        // Sync tools and editors replace a file by renaming another over it; that shows in its folder.
        if (info.absoluteDir().exists())
            result.directories.append(info.absolutePath());
    }
}

void findThunderbirdBooks(const AddressBookSources& sources, Result& result, QStringList& books)
{
    if (!sources.thunderbird || !QFileInfo(sources.thunderbirdRoot).isDir())
        return;
    result.directories.append(sources.thunderbirdRoot);
    QFile ini(QDir(sources.thunderbirdRoot).filePath(QStringLiteral("profiles.ini")));
    if (!ini.open(QIODevice::ReadOnly))
        return;
    result.files.append(ini.fileName());
    const QString profile =
        ThunderbirdAddressBooks::defaultProfile(ini.read(kMaxProfilesIniBytes), sources.thunderbirdRoot);
    if (profile.isEmpty() || !QFileInfo(profile).isDir())
        return;
    result.directories.append(profile);
    books = ThunderbirdAddressBooks::addressBooks(profile);
    for (const QString& book : books) {
        result.files.append(book);
        if (QFile::exists(book + QStringLiteral("-wal")))
            result.files.append(book + QStringLiteral("-wal"));
    }
}

} // namespace

Result run(const AddressBookSources& sources, const QByteArray& previousStamp, const std::atomic<bool>& cancelled,
           const QString& connectionName)
{
    Result result;
    QStringList vCardFiles;
    QStringList books;
    findVCardFiles(sources.vCardPath, result, vCardFiles);
    findThunderbirdBooks(sources, result, books);
    for (const QString& file : vCardFiles)
        stampFile(result.stamp, file);
    for (const QString& file : result.files)
        stampFile(result.stamp, file);
    if (vCardFiles.size() <= AddressBook::MaxWatchedFiles)
        result.files += vCardFiles;
    if ((!previousStamp.isEmpty() && result.stamp == previousStamp) || cancelled)
        return result;

    auto index = std::make_shared<AddressIndex>();
    for (const QString& path : vCardFiles) {
        if (cancelled)
            return result;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            result.problems.append(
                QStringLiteral("vCard-bestand %1 kon niet worden gelezen: %2").arg(path, file.errorString()));
            continue;
        }
        if (file.size() > kMaxVCardFileBytes) {
            result.problems.append(QStringLiteral("vCard-bestand %1 is te groot en overgeslagen.").arg(path));
            continue;
        }
        const VCard::ReadResult read = VCard::read(file.readAll());
        if (read.isDamaged()) {
            result.problems.append(QStringLiteral("vCard-bestand %1 is beschadigd (regel %2) en deels overgeslagen.")
                                       .arg(path)
                                       .arg(read.damagedLine));
        }
        for (const VCard::Contact& contact : read.contacts)
            result.contacts += index->add(contact.name, contact.numbers) ? 1 : 0;
    }
    for (const QString& book : books) {
        if (cancelled)
            return result;
        QVector<VCard::Contact> contacts;
        QString error;
        if (!ThunderbirdAddressBooks::read(book, connectionName, contacts, error)) {
            result.problems.append(QStringLiteral("Adresboek %1 van Thunderbird is overgeslagen: %2").arg(book, error));
            continue;
        }
        for (const VCard::Contact& contact : contacts)
            result.contacts += index->add(contact.name, contact.numbers) ? 1 : 0;
    }
    result.index = std::move(index);
    return result;
}

} // namespace AddressBookBuild
