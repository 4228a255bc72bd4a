#pragma once

#include <QApplication>
#include <QByteArray>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QLockFile;

// One running instance per user and executable. The first start takes a lock
// file and listens on a per-user local socket; later starts find the lock
// held and hand their message to the running instance over that socket.
//
// Wire format: each message is a 4-byte big-endian length followed by that
// many bytes of UTF-8; the receiver answers every whole message with one
// acknowledgement byte.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    // Messages above this size are refused, so a misbehaving peer cannot make
    // the running instance allocate without bound.
    static constexpr quint32 MaxMessageSize = 1024 * 1024;
    static constexpr char Acknowledgement = '\x06';

    SingleApplication(int& argc, char** argv, bool gui = true);
    ~SingleApplication() override;

    // Whether another instance holds the lock. The first call elects: when no
    // other instance runs, this process takes the lock and starts listening.
    bool isRunning();
    // Hands the message to the running instance; true only when it has
    // acknowledged receiving it within timeout milliseconds.
    bool sendMessage(const QString& message, int timeout);

    // Where the lock file and the socket of the instance started from
    // executablePath live (a per-user directory, key derived from the path).
    static QString lockFilePathFor(const QString& executablePath);
    static QString serverNameFor(const QString& executablePath);
    QString serverName() const { return m_serverName; }

    // Splits one whole message off the front of buffer. Returns false while
    // the message is incomplete; sets tooLarge (and returns false) for a
    // length above MaxMessageSize.
    static bool takeMessage(QByteArray& buffer, QString& message, bool& tooLarge);
    static QByteArray frameMessage(const QString& message);

signals:
    void messageReceived(const QString& message);

private:
    Q_DISABLE_COPY(SingleApplication)
    void elect();
    void onNewConnection();
    bool lockHolderAlive() const;

    QString m_lockFilePath;
    QString m_serverName;
    QLockFile* m_lockFile = nullptr;
    QLocalServer* m_server = nullptr;
    bool m_elected = false;
    bool m_running = false;
};
