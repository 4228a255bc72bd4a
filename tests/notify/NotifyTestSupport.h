#pragma once

#include "Logger.h"

#include <QMap>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace NotifyTestSupport {
// The number of log records so far: pass it to logSince() to see only newer ones.
inline int logMark()
{
    return Logger::instance()->readLogRecords().size();
}

// Messages logged after the mark, of one component only unless it is "*".
inline QStringList logSince(int mark, const QString& component = QStringLiteral("*"))
{
    QStringList messages;
    for (const QJsonObject& r : Logger::instance()->readLogRecords().mid(mark)) {
        if (component == QLatin1String("*") || r.value(QStringLiteral("component")).toString() == component)
            messages << r.value(QStringLiteral("msg")).toString();
    }
    return messages;
}
} // namespace NotifyTestSupport

// A tiny HTTP/1.1 server on 127.0.0.1 and a free port: canned answers per path,
// or none at all (a stalled service). Records what it received.
class FakeHttpServer : public QTcpServer
{
public:
    struct Request
    {
        QByteArray method, path, contentType, body;
    };
    QList<Request> requests;

    FakeHttpServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    bool listen() { return QTcpServer::listen(QHostAddress::LocalHost, 0); }
    QUrl url(const QString& path = QStringLiteral("/")) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path));
    }
    void setResponse(const QByteArray& path, int status, const QByteArray& body, const QByteArray& type = "text/plain")
    {
        m_responses.insert(path, {status, body, type, false});
    }
    // Requests for this path are read but never answered.
    void setStalled(const QByteArray& path) { m_responses.insert(path, {0, {}, {}, true}); }
    // A URL on which nothing listens (a port just released).
    static QUrl deadUrl()
    {
        FakeHttpServer probe;
        probe.listen();
        return probe.url();
    }

private:
    struct Response
    {
        int status;
        QByteArray body, contentType;
        bool stalled;
    };
    QMap<QByteArray, Response> m_responses;

    void serve(QTcpSocket* socket)
    {
        // Whole requests only: headers up to the blank line, then Content-Length bytes.
        const QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
        socket->setProperty("buffer", buffer);
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        Request request{requestLine.value(0), requestLine.value(1), {}, {}};
        int contentLength = 0;
        for (const QByteArray& line : lines.mid(1)) {
            const QByteArray name = line.left(line.indexOf(':')).trimmed().toLower();
            const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
            if (name == "content-length")
                contentLength = value.toInt();
            else if (name == "content-type")
                request.contentType = value;
        }
        if (buffer.size() < headerEnd + 4 + contentLength)
            return;
        request.body = buffer.mid(headerEnd + 4, contentLength);
        socket->setProperty("buffer", QByteArray());
        requests.append(request);

        const Response response = m_responses.value(request.path.split('?').value(0),
                                                    {404, "not found", "text/plain", false});
        if (response.stalled)
            return;
        socket->write("HTTP/1.1 " + QByteArray::number(response.status) + " X\r\nContent-Type: " +
                      response.contentType + "\r\nContent-Length: " + QByteArray::number(response.body.size()) +
                      "\r\nConnection: close\r\n\r\n" + response.body);
        socket->disconnectFromHost();
    }
};
