#include "FakeHttpServer.h"

#include <QTcpSocket>

FakeHttpServer::FakeHttpServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeHttpServer::onNewConnection);
}

FakeHttpServer::~FakeHttpServer() = default;

bool FakeHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl FakeHttpServer::url(const QString& path) const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_server.serverPort());
    url.setPath(path);
    return url;
}

void FakeHttpServer::setResponse(const QByteArray& path, int status, const QByteArray& body,
                                 const QByteArray& contentType)
{
    Response response;
    response.status = status;
    response.body = body;
    response.contentType = contentType;
    m_responses.insert(path, response);
}

void FakeHttpServer::setStalled(const QByteArray& path)
{
    Response response;
    response.stalled = true;
    m_responses.insert(path, response);
}

QUrl FakeHttpServer::deadUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port);
    url.setPath(QStringLiteral("/"));
    return url;
}

void FakeHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void FakeHttpServer::serve(QTcpSocket* socket)
{
    // Whole requests only: headers up to the blank line, then Content-Length bytes.
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffer);
    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    Request request;
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    int contentLength = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length")
            contentLength = value.toInt();
        else if (name == "content-type")
            request.contentType = value;
    }
    if (buffer.size() < headerEnd + 4 + contentLength)
        return;
    request.body = buffer.mid(headerEnd + 4, contentLength);
    socket->setProperty("buffer", QByteArray());
    m_requests.append(request);

    const QByteArray path =
        request.path.left(request.path.indexOf('?') < 0 ? request.path.size() : request.path.indexOf('?'));
    const auto it = m_responses.constFind(path);
    if (it != m_responses.constEnd() && it->stalled)
        return;
    const Response response = it != m_responses.constEnd() ? *it : Response{404, "not found", "text/plain", false};
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) + " X\r\n";
    reply += "Content-Type: " + response.contentType + "\r\n";
    reply += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    reply += "Connection: close\r\n\r\n";
    reply += response.body;
    socket->write(reply);
    socket->disconnectFromHost();
}
