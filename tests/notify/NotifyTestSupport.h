#pragma once

#include "Logger.h"
#include "PbxSimulator.h"
#include "TestSupport.h"

#include <QJsonDocument>
#include <QMap>
#include <QRegularExpression>
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

// Starts the simulator with the demo configuration, members replaced by those of extra.
inline bool startSimulator(PbxSimulator& sim, const QJsonObject& extra = QJsonObject())
{
    QJsonObject config =
        QJsonDocument::fromJson(TestSupport::readFile(QStringLiteral(KARVELON_SIM_DIR "/demo-config.json"))).object();
    for (auto it = extra.begin(); it != extra.end(); ++it)
        config.insert(it.key(), it.value());
    return sim.start(config);
}

inline QJsonObject notifyState(PbxSimulator& sim)
{
    return sim.control("GET", QStringLiteral("notify-state")).toObject();
}

inline QJsonObject control(PbxSimulator& sim, const char* name, const QJsonObject& body = QJsonObject())
{
    return sim.control("POST", QLatin1String(name), body).toObject();
}
} // namespace NotifyTestSupport

// A tiny HTTP/1.1 server on 127.0.0.1 and a free port: canned answers per path,
// or none at all (a stalled service). Keeps each request's head and body.
class FakeHttpServer : public QTcpServer
{
public:
    struct Request
    {
        QByteArray head, body;
    };
    QList<Request> requests;

    FakeHttpServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { serve(socket); });
        });
    }
    bool listen() { return QTcpServer::listen(QHostAddress::LocalHost, 0); }
    QUrl url(const QString& path = QStringLiteral("/")) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path));
    }
    // status 0: requests for the path are read but never answered.
    void setResponse(const QByteArray& path, int status, const QByteArray& body = QByteArray())
    {
        m_responses.insert(path, qMakePair(status, body));
    }
    // A URL on which nothing listens (a port just released).
    static QUrl deadUrl()
    {
        FakeHttpServer probe;
        probe.listen();
        return probe.url();
    }

private:
    QMap<QByteArray, QPair<int, QByteArray>> m_responses;

    void serve(QTcpSocket* socket)
    {
        // Whole requests only: the head up to the blank line, then Content-Length bytes.
        const QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
        socket->setProperty("buffer", buffer);
        const int headEnd = buffer.indexOf("\r\n\r\n");
        const QRegularExpression lengthHeader(QStringLiteral("\r\ncontent-length: *(\\d+)"),
                                              QRegularExpression::CaseInsensitiveOption);
        const int length = lengthHeader.match(QString::fromLatin1(buffer.left(headEnd))).captured(1).toInt();
        if (headEnd < 0 || buffer.size() < headEnd + 4 + length)
            return;
        requests.append({buffer.left(headEnd), buffer.mid(headEnd + 4, length)});
        socket->setProperty("buffer", QByteArray());
        const QByteArray path = buffer.left(buffer.indexOf('\r')).split(' ').value(1).split('?').value(0);
        const auto response = m_responses.value(path, qMakePair(404, QByteArray("not found")));
        if (response.first == 0)
            return;
        socket->write("HTTP/1.1 " + QByteArray::number(response.first) + " X\r\nContent-Length: " +
                      QByteArray::number(response.second.size()) + "\r\nConnection: close\r\n\r\n" + response.second);
        socket->disconnectFromHost();
    }
};
