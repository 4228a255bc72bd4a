#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>

// A tiny HTTP/1.1 server on 127.0.0.1 and a free port for tests: canned answers
// per path, or no answer at all (a stalled service). Records what it received.
class FakeHttpServer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray contentType;
        QByteArray body;
    };

    explicit FakeHttpServer(QObject* parent = nullptr);
    ~FakeHttpServer() override;

    bool listen();
    QUrl url(const QString& path = QStringLiteral("/")) const;

    void setResponse(const QByteArray& path, int status, const QByteArray& body,
                     const QByteArray& contentType = "text/plain");
    // Requests for this path are read but never answered.
    void setStalled(const QByteArray& path);

    QList<Request> requests() const { return m_requests; }

    // A URL on which nothing listens (a port just released).
    static QUrl deadUrl();

private:
    Q_DISABLE_COPY(FakeHttpServer)
    void onNewConnection();
    void serve(QTcpSocket* socket);

    struct Response
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType;
        bool stalled = false;
    };

    QTcpServer m_server;
    QMap<QByteArray, Response> m_responses;
    QList<Request> m_requests;
};
