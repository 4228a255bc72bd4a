#include "PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivateFiles {

bool makeDirectory(const QString& dir)
{
    if (!QFileInfo::exists(dir) && !QDir().mkpath(dir))
        return false;
    return QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool makeDirectoryFor(const QString& filePath)
{
    return makeDirectory(QFileInfo(filePath).absolutePath());
}

void restrictFile(const QString& path)
{
    if (QFile::exists(path))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

int openOwnFile(const QString& path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid()) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

QString errorText(int error)
{
    if (error == EPERM || error == ELOOP)
        return QStringLiteral("het bestand is niet van deze gebruiker of is een symbolische koppeling");
    return QString::fromLocal8Bit(std::strerror(error));
}

bool mayReplace(const QString& path)
{
    const QFileInfo info(path);
    return !info.isSymLink() && (!info.exists() || (info.isFile() && info.ownerId() == ::getuid()));
}

} // namespace PrivateFiles
