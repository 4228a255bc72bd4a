#include "SingleApplication.h"

#include "PrivateFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>

#include <cerrno>
#include <memory>
#include <signal.h>
#include <unistd.h>

namespace {

// Makes dir (if needed) owner-only and tells whether it is ours alone.
bool isPrivateDirectory(const QString& dir)
{
    PrivateFiles::makeDirectory(dir);
    const QFileInfo info(dir);
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    return info.isDir() && !info.isSymLink() && info.ownerId() == ::getuid() && !(info.permissions() & others);
}

// A directory that only this user can use: the session's runtime directory,
// or a private one below the temporary directory.
QString instanceDirectory()
{
    if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (!runtime.isEmpty())
            return runtime;
    }
    const QString dir = QDir::tempPath() + QStringLiteral("/karvelon-%1").arg(::getuid());
    if (isPrivateDirectory(dir))
        return dir;
    // Someone else made that name in the shared temporary directory: our lock
    // and socket must never live where another user can reach them.
    qWarning("SingleApplication: %s is not private to this user; using the cache directory", qUtf8Printable(dir));
    const QString fallback =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/karvelon");
    isPrivateDirectory(fallback);
    return fallback;
}

// One instance per executable: the key is derived from its resolved path.
QString instanceKey(const QString& executablePath)
{
    QFileInfo info(executablePath);
    const QString path = info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("karvelon-") + QString::fromLatin1(hash.left(16));
}

int remaining(const QElapsedTimer& timer, int timeout)
{
    return qMax(0, timeout - int(timer.elapsed()));
}

} // namespace

SingleApplication::SingleApplication(int& argc, char** argv, bool gui)
    : QApplication(argc, argv)
{
    // Kept for the familiar signature; a QApplication is always graphical.
    Q_UNUSED(gui)
    const QString executable = QCoreApplication::applicationFilePath();
    m_lockFilePath = lockFilePathFor(executable);
    m_serverName = serverNameFor(executable);
}

SingleApplication::~SingleApplication()
{
    // Stop listening before giving up the lock, so a new instance that takes
    // the lock finds the socket path free.
    delete m_server;
    m_server = nullptr;
    delete m_lockFile;
    m_lockFile = nullptr;
}

QString SingleApplication::lockFilePathFor(const QString& executablePath)
{
    return instanceDirectory() + QLatin1Char('/') + instanceKey(executablePath) + QStringLiteral(".lock");
}

QString SingleApplication::serverNameFor(const QString& executablePath)
{
    return instanceDirectory() + QLatin1Char('/') + instanceKey(executablePath) + QStringLiteral(".socket");
}

bool SingleApplication::isRunning()
{
    elect();
    return m_running;
}

void SingleApplication::elect()
{
    if (m_elected)
        return;
    m_elected = true;

    m_lockFile = new QLockFile(m_lockFilePath);
    // The running instance may run for weeks: its lock must never turn stale
    // by age. A lock whose process is gone is still detected as stale.
    m_lockFile->setStaleLockTime(0);
    if (!m_lockFile->tryLock(0)) {
        if (m_lockFile->error() == QLockFile::LockFailedError) {
            m_running = true;
            return;
        }
        // Without a usable lock file we cannot tell; better to run than to
        // refuse to start at all.
        qWarning("SingleApplication: cannot create the lock file %s", qUtf8Printable(m_lockFilePath));
        return;
    }

    // We hold the lock, so a socket file still there belongs to a dead instance.
    QLocalServer::removeServer(m_serverName);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        qWarning("SingleApplication: cannot listen on %s: %s", qUtf8Printable(m_serverName),
                 qUtf8Printable(m_server->errorString()));
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleApplication::onNewConnection);
}

bool SingleApplication::lockHolderAlive() const
{
    QLockFile lock(m_lockFilePath);
    qint64 pid = 0;
    QString hostname;
    QString appname;
    if (!lock.getLockInfo(&pid, &hostname, &appname) || pid <= 0)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

bool SingleApplication::sendMessage(const QString& message, int timeout)
{
    // The running instance does not talk to itself.
    if (m_lockFile && m_lockFile->isLocked())
        return false;

    const QByteArray frame = frameMessage(message);
    if (frame.isEmpty())
        return false;

    QElapsedTimer timer;
    timer.start();
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(m_serverName);
        if (socket.waitForConnected(remaining(timer, timeout))) {
            socket.write(frame);
            while (socket.bytesToWrite() > 0) {
                if (!socket.waitForBytesWritten(remaining(timer, timeout)))
                    return false;
            }
            while (socket.bytesAvailable() < 1) {
                if (!socket.waitForReadyRead(remaining(timer, timeout)))
                    return false;
            }
            char answer = 0;
            const bool delivered = socket.getChar(&answer) && answer == Acknowledgement;
            socket.disconnectFromServer();
            return delivered;
        }
        // An instance that holds the lock but does not listen yet is still
        // starting: try again until the time is up. Without one, give up at once.
        if (remaining(timer, timeout) == 0 || !lockHolderAlive())
            return false;
        QThread::msleep(50);
    }
}

QByteArray SingleApplication::frameMessage(const QString& message)
{
    const QByteArray payload = message.toUtf8();
    if (quint32(payload.size()) > MaxMessageSize)
        return QByteArray();
    QByteArray frame(4, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(payload.size()), frame.data());
    return frame + payload;
}

bool SingleApplication::takeMessage(QByteArray& buffer, QString& message, bool& tooLarge)
{
    tooLarge = false;
    if (buffer.size() < 4)
        return false;
    const quint32 length = qFromBigEndian<quint32>(buffer.constData());
    if (length > MaxMessageSize) {
        tooLarge = true;
        return false;
    }
    if (quint32(buffer.size() - 4) < length)
        return false;
    message = QString::fromUtf8(buffer.constData() + 4, int(length));
    buffer.remove(0, 4 + int(length));
    return true;
}

void SingleApplication::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer]() {
            buffer->append(socket->readAll());
            QString message;
            bool tooLarge = false;
            while (takeMessage(*buffer, message, tooLarge)) {
                socket->putChar(Acknowledgement);
                socket->flush();
                // Acknowledge first and hand the message on from the event
                // loop: a receiver may open a dialog with a loop of its own,
                // and the sender must not wait for that.
                QMetaObject::invokeMethod(
                    this, [this, message]() { emit messageReceived(message); }, Qt::QueuedConnection);
            }
            if (tooLarge) {
                qWarning("SingleApplication: refused a message above %u bytes", MaxMessageSize);
                buffer->clear();
                socket->abort();
            }
        });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
}
