#pragma once

#include <QAbstractSocket>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>

class QWebSocket;

// A small Socket.IO client (Engine.IO revision 3) that speaks directly over one
// WebSocket, without the long-polling phase. Handlers are registered per event
// name; the client's own state changes reach them as the pseudo-events
// "connected", "disconnected", "failed" (an error it does not heal by itself)
// and "ErrorLimitReached".
class SocketIO : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<void(const QJsonObject&)>;

    static constexpr int MaxReconnects = 5;

    // pingIntervalMsecs: ping on this period instead of the server's (0: the server's).
    explicit SocketIO(int pingIntervalMsecs = 0, QObject* parent = nullptr);
    ~SocketIO() override;

    void connect(const QUrl& url);
    void on(const QString& event, Handler handler);
    // Drops every handler, so nothing calls back into an owner that is going away.
    void clearHandlers();
    void send(const QString& event, const QJsonObject& data);
    bool isConnected() const;
    void disconnect();
    void notifyEventSubscriber(const QString& event, const QJsonObject& data);

    // The WebSocket address that connect() opens for a given server URL.
    static QUrl socketUrl(const QUrl& serverUrl, qint64 secsSinceEpoch);

    int pingInterval() const;
    // How long the connection may stay quiet before it is given up; 0 = not known yet.
    int silenceLimit() const;

signals:
    void connectedStateChanged(bool isConnected);

private slots:
    void reconnect();
    void onConnected();
    void onDisconnected();
    void onTextReceived(const QString& message);
    void onBinaryReceived(const QByteArray& message);
    void onError(QAbstractSocket::SocketError error);
    void onSslErrors(const QList<QSslError>& errors);
    void sendPing();
    void onSilenceTimeout();

private:
    Q_DISABLE_COPY(SocketIO)

    void applyHeartbeat(int pingTimeoutMsecs, int pingIntervalMsecs);

    QPointer<QWebSocket> m_webSocket;
    QMap<QString, Handler> m_handlers;
    QTimer m_pingTimer;
    int m_retryCount = 0;

    // Nothing from the server for this long means the connection died silently.
    QTimer m_silenceTimer;
    int m_serverPingTimeoutMsecs = 0;
    int m_serverPingIntervalMsecs = 0;
    const int m_pingIntervalOverrideMsecs;
};
