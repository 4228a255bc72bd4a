#include "InternalKarvelonApi.h"

#include "Logger.h"
#include "PluginCommand.h"

#include <QLocalServer>
#include <QLocalSocket>

InternalKarvelonApi::InternalKarvelonApi(const QString& serverName, QObject* parent)
    : QObject(parent)
    , m_serverName(serverName)
{
    // The queued signal below carries this type.
    SourceType::registerMetaType();
}

InternalKarvelonApi::~InternalKarvelonApi() = default;

bool InternalKarvelonApi::isListening() const
{
    return m_server && m_server->isListening();
}

QString InternalKarvelonApi::serverName() const
{
    return m_server ? m_server->fullServerName() : QString();
}

void InternalKarvelonApi::start()
{
    if (m_server)
        return;
    const QString& serverName = m_serverName;
    m_server = new QLocalServer(this);
    // Only this user may connect: another user of the machine must not be
    // able to pop call dialogs on our desktop.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);

    // The path is fixed (the plug-ins know it), so a socket file left by a
    // crashed run is taken over.
    QLocalServer::removeServer(serverName);
    if (m_server->listen(serverName)) {
        Logger::instance()->log(Logger::Debug, QString(),
                                QStringLiteral("Interne API gestart op: %1").arg(m_server->fullServerName()));
    } else {
        Logger::instance()->log(Logger::Warning, QStringLiteral("Applicatie"),
                                QStringLiteral("Interne server niet gestart. Fout: %1").arg(m_server->errorString()));
    }
    connect(m_server, &QLocalServer::newConnection, this, &InternalKarvelonApi::onNewConnection);
}

void InternalKarvelonApi::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        Logger::instance()->log(Logger::Debug, QString(), QStringLiteral("Nieuwe verbinding op interne API!"));
        connect(socket, &QLocalSocket::readyRead, this, &InternalKarvelonApi::onReadyRead);
        connect(socket, &QLocalSocket::disconnected, socket, [socket]() {
            socket->disconnect();
            socket->deleteLater();
        });
    }
}

void InternalKarvelonApi::onReadyRead()
{
    auto* socket = qobject_cast<QLocalSocket*>(sender());
    if (!socket)
        return;

    // One read is one command (the plug-ins send no terminator).
    const QByteArray data = socket->read(MaxCommandSize);
    qint64 dropped = 0;
    while (socket->bytesAvailable() > 0) {
        const qint64 skipped = socket->skip(socket->bytesAvailable());
        if (skipped <= 0)
            break;
        dropped += skipped;
    }
    if (dropped > 0) {
        Logger::instance()->log(
            Logger::Warning, QStringLiteral("Applicatie"),
            QStringLiteral("Te lang commando op interne API: %1 bytes na de eerste %2 genegeerd").arg(dropped).arg(MaxCommandSize));
    }
    handleCommand(data);
}

void InternalKarvelonApi::handleCommand(const QByteArray& data)
{
    Logger::instance()->log(Logger::Debug, QString(), QStringLiteral("CMD: %1").arg(PluginCommand::displayText(data)));

    const PluginCommand command = PluginCommand::parse(data);
    switch (command.outcome) {
    case PluginCommand::UnknownCommand:
        Logger::instance()->log(Logger::Debug, QString(), QStringLiteral("Ongeldig commando ontvangen"));
        return;
    case PluginCommand::MissingNumbers:
        return;
    case PluginCommand::Valid:
        break;
    }
    emit showCallDialog(SourceType::MsOutlook, command.name, command.numbers);
}
