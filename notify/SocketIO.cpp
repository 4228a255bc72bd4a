#include "SocketIO.h"

#include "Clock.h"
#include "Logger.h"
#include "SocketIOFrame.h"

#include <QDebug>
#include <QWebSocket>

#include <limits>

namespace {
const QString kComponent = QStringLiteral("Websocket");
} // namespace

SocketIO::SocketIO(int pingIntervalMsecs, QObject* parent)
    : QObject(parent)
    , m_pingIntervalOverrideMsecs(qMax(0, pingIntervalMsecs))
{
    // Connected once for the life of the client, so reconnections never add a
    // second ping per period.
    QObject::connect(&m_pingTimer, &QTimer::timeout, this, &SocketIO::sendPing);
    m_silenceTimer.setSingleShot(true);
    QObject::connect(&m_silenceTimer, &QTimer::timeout, this, &SocketIO::onSilenceTimeout);
}

SocketIO::~SocketIO()
{
    m_pingTimer.stop();
    m_silenceTimer.stop();
    m_handlers.clear();
    // Sockets still waiting for deleteLater and the current one are children; cut
    // them off first so that their closing cannot call back into a half-destroyed client.
    const QList<QWebSocket*> sockets = findChildren<QWebSocket*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWebSocket* socket : sockets)
        QObject::disconnect(socket, nullptr, this, nullptr);
    for (QWebSocket* socket : sockets) {
        socket->abort();
        delete socket;
    }
}

QUrl SocketIO::socketUrl(const QUrl& serverUrl, qint64 secsSinceEpoch)
{
    const QString scheme = serverUrl.scheme().toLower();
    QUrl address;
    address.setScheme(scheme == QLatin1String("https") || scheme == QLatin1String("wss") ? QStringLiteral("wss")
                                                                                         : QStringLiteral("ws"));
    address.setHost(serverUrl.host());
    address.setPort(serverUrl.port());
    address.setPath(QStringLiteral("/socket.io/"));
    address.setQuery(QStringLiteral("EIO=3&transport=websocket&t=%1").arg(secsSinceEpoch));
    return address;
}

void SocketIO::connect(const QUrl& url)
{
    if (!m_webSocket) {
        m_webSocket = new QWebSocket(QString(), QWebSocketProtocol::Version13, this);
        QObject::connect(m_webSocket, &QWebSocket::disconnected, this, &SocketIO::onDisconnected);
        QObject::connect(m_webSocket, &QWebSocket::connected, this, &SocketIO::onConnected);
        QObject::connect(m_webSocket, &QWebSocket::textMessageReceived, this, &SocketIO::onTextReceived);
        QObject::connect(m_webSocket, &QWebSocket::binaryMessageReceived, this, &SocketIO::onBinaryReceived);
        QObject::connect(m_webSocket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
                         &SocketIO::onError);
        QObject::connect(m_webSocket, &QWebSocket::sslErrors, this, &SocketIO::onSslErrors);
    }

    const QUrl address = socketUrl(url, Clock::currentSecsSinceEpoch());
    qDebug() << "Websocket state" << m_webSocket->state() << "opening" << address.toString();
    m_webSocket->open(address);
}

void SocketIO::on(const QString& event, Handler handler)
{
    m_handlers.insert(event, std::move(handler));
}

void SocketIO::clearHandlers()
{
    m_handlers.clear();
}

void SocketIO::send(const QString& event, const QJsonObject& data)
{
    const QString frame = SocketIOFrame::eventFrame(event, data);
    if (m_webSocket)
        m_webSocket->sendTextMessage(frame);
    // The event's name only: its payload carries the notification key.
    qDebug() << "Sending event" << event;
}

bool SocketIO::isConnected() const
{
    return m_webSocket && m_webSocket->state() == QAbstractSocket::ConnectedState;
}

void SocketIO::disconnect()
{
    if (isConnected())
        m_webSocket->abort();
}

void SocketIO::notifyEventSubscriber(const QString& event, const QJsonObject& data)
{
    const auto it = m_handlers.constFind(event);
    if (it == m_handlers.constEnd())
        return;
    // A copy, because the handler may replace itself or others while it runs.
    const Handler handler = it.value();
    if (handler)
        handler(data);
}

int SocketIO::pingInterval() const
{
    if (m_pingIntervalOverrideMsecs > 0)
        return m_pingIntervalOverrideMsecs;
    return m_serverPingTimeoutMsecs;
}

int SocketIO::silenceLimit() const
{
    if (m_serverPingTimeoutMsecs <= 0)
        return 0;
    const qint64 limit = m_serverPingIntervalMsecs > 0 ? qint64(m_serverPingIntervalMsecs) + m_serverPingTimeoutMsecs
                                                       : 2 * qint64(pingInterval());
    return int(qMin<qint64>(limit, std::numeric_limits<int>::max()));
}

void SocketIO::reconnect()
{
    if (!m_webSocket || m_webSocket->requestUrl().isEmpty())
        return;
    const QUrl address = m_webSocket->requestUrl();
    m_webSocket->deleteLater();
    m_webSocket = nullptr;
    connect(address);
}

void SocketIO::onConnected()
{
    m_retryCount = 0;
    // A server that accepts the WebSocket but then says nothing is caught as well.
    if (silenceLimit() > 0)
        m_silenceTimer.start(silenceLimit());
    emit connectedStateChanged(isConnected());
    notifyEventSubscriber(QStringLiteral("connected"), QJsonObject());
}

void SocketIO::onDisconnected()
{
    if (!isConnected())
        m_silenceTimer.stop();
    emit connectedStateChanged(isConnected());
    notifyEventSubscriber(QStringLiteral("disconnected"), QJsonObject());
}

void SocketIO::applyHeartbeat(int pingTimeoutMsecs, int pingIntervalMsecs)
{
    if (pingTimeoutMsecs < 1)
        return;
    m_serverPingTimeoutMsecs = pingTimeoutMsecs;
    m_serverPingIntervalMsecs = pingIntervalMsecs;
    m_pingTimer.start(pingInterval());
    m_silenceTimer.start(silenceLimit());
}

void SocketIO::onTextReceived(const QString& message)
{
    // Anything from the server proves the connection is alive.
    if (m_silenceTimer.isActive())
        m_silenceTimer.start();

    const SocketIOFrame frame = SocketIOFrame::parse(message);
    switch (frame.type) {
    case SocketIOFrame::Open:
        applyHeartbeat(frame.pingTimeoutMsecs, frame.pingIntervalMsecs);
        break;
    case SocketIOFrame::Event:
        notifyEventSubscriber(frame.eventName, frame.eventData);
        break;
    case SocketIOFrame::Disconnect:
        disconnect();
        break;
    case SocketIOFrame::Pong:
    case SocketIOFrame::Ignored:
        break;
    case SocketIOFrame::Unrecognised:
        qDebug() << "Unhandeled socket.io response:" << message;
        break;
    }
}

void SocketIO::onBinaryReceived(const QByteArray& message)
{
    onTextReceived(SocketIOFrame::textOfBinary(message));
}

void SocketIO::onError(QAbstractSocket::SocketError error)
{
    // A socket that has already been replaced by a reconnection has nothing more to say.
    if (sender() && sender() != m_webSocket)
        return;

    const bool reconnectable =
        error == QAbstractSocket::RemoteHostClosedError || error == QAbstractSocket::SocketTimeoutError;
    if (m_retryCount < MaxReconnects) {
        if (reconnectable) {
            ++m_retryCount;
            Logger::instance()->log(
                Logger::Error, kComponent,
                QStringLiteral("Verbinding met websocket verbroken. Opnieuw proberen te verbinden. %1")
                    .arg(m_retryCount));
            reconnect();
        } else {
            Logger::instance()->log(
                Logger::Error, kComponent,
                QStringLiteral("Unhandled error: %1").arg(m_webSocket ? m_webSocket->errorString() : QString()));
            notifyEventSubscriber(QStringLiteral("failed"), QJsonObject());
        }
        return;
    }
    Logger::instance()->log(Logger::Error, kComponent,
                            QStringLiteral("Limiet van automatisch opnieuw proberen bereikt."));
    notifyEventSubscriber(QStringLiteral("ErrorLimitReached"), QJsonObject());
}

void SocketIO::onSslErrors(const QList<QSslError>& errors)
{
    qDebug() << "Ssl errors!";
    for (const QSslError& error : errors)
        qDebug() << error.errorString();
}

void SocketIO::sendPing()
{
    if (m_webSocket && m_webSocket->isValid())
        m_webSocket->sendTextMessage(SocketIOFrame::pingFrame());
}

void SocketIO::onSilenceTimeout()
{
    if (!m_webSocket || m_webSocket->state() == QAbstractSocket::UnconnectedState)
        return;
    Logger::instance()->log(
        Logger::Warning, kComponent,
        QStringLiteral("Geen teken van leven van de notificatie server in %1 ms. De verbinding wordt verbroken.")
            .arg(silenceLimit()));
    m_webSocket->abort();
}
