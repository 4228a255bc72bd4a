#pragma once

#include <QApplication>
#include <QString>

class QLocalServer;
class QLockFile;

// One running instance per user and executable. The first start takes a lock
// file and listens on a per-user local socket; later starts find the lock
// held and hand their message to the running instance over that socket.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    SingleApplication(int& argc, char** argv, bool gui = true);
    ~SingleApplication() override;

    bool isRunning();
    bool sendMessage(const QString& message, int timeout);

signals:
    void messageReceived(const QString& message);

private:
    Q_DISABLE_COPY(SingleApplication)
    void onNewConnection();

    QString m_socketName;
    QLockFile* m_lockFile = nullptr;
    QLocalServer* m_server = nullptr;
    bool m_running = false;
};
