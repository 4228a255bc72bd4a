#pragma once

#include "SourceType.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

// The local command socket through which desktop plug-ins ask for the call
// dialog. Lives on its own thread, where start() opens the socket; never
// answers a client.
class InternalKarvelonApi : public QObject
{
    Q_OBJECT

public:
    // Plug-in commands are a few hundred bytes; whatever one read brings
    // beyond this is dropped, so a runaway client cannot make us buffer
    // without bound.
    static constexpr qint64 MaxCommandSize = 64 * 1024;

    // serverName: the socket path the plug-ins know (ServiceConfig::commandServerName).
    explicit InternalKarvelonApi(const QString& serverName, QObject* parent = nullptr);
    ~InternalKarvelonApi() override;

    // Listens on the socket; on the thread the server is to work on.
    void start();

    bool isListening() const;
    QString serverName() const;

signals:
    void showCallDialog(SourceType::Type type, const QString& name, const QStringList& numbers);

public slots:
    void onNewConnection();
    void onReadyRead();

private:
    Q_DISABLE_COPY(InternalKarvelonApi)
    void handleCommand(const QByteArray& data);

    const QString m_serverName;
    QLocalServer* m_server = nullptr;
};
