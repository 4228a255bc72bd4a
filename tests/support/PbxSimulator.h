#pragma once

#include "ServiceConfig.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>

#include <memory>

// The service simulator (tools/pbx-sim) as a real process on free ports. The
// synchronous helpers run a local event loop while they wait.
class PbxSimulator
{
public:
    ~PbxSimulator() { stop(); }

    // Starts it with the given configuration (empty: the demo one), on the given ports (0: free ones, else
    // e.g. those of an earlier run, to play a server restart); false when it did not come up.
    bool start(const QJsonObject& config = QJsonObject(), int apiPort = 0, int notifyPort = 0)
    {
        stop();
        m_config.reset(new QTemporaryFile);
        if (!m_config->open() || m_config->write(QJsonDocument(config).toJson()) < 0 || !m_config->flush())
            return false;
        m_process = new QProcess;
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process->setWorkingDirectory(QStringLiteral(KARVELON_SIM_DIR));
        const QString file = config.isEmpty() ? QStringLiteral("demo-config.json") : m_config->fileName();
        const QString api = QString::number(apiPort), notify = QString::number(notifyPort);
        m_process->start(KARVELON_NODE_EXECUTABLE,
                         {"sim.js", "--exit-with-stdin", "--config", file, "--api-port", api, "--notify-port", notify});
        // The first line says it is ready, and on which ports.
        const QDeadlineTimer deadline(30000);
        while (!m_process->canReadLine() && m_process->state() != QProcess::NotRunning && !deadline.hasExpired())
            m_process->waitForReadyRead(200);
        m_output = m_process->readLine();
        const QJsonObject ready = QJsonDocument::fromJson(m_output).object();
        m_apiPort = ready[QStringLiteral("apiPort")].toInt();
        m_notifyPort = ready[QStringLiteral("notifyPort")].toInt();
        // Drained all along, so a chatty simulator never blocks on a full pipe.
        QObject::connect(m_process, &QProcess::readyRead, m_process, [this]() { m_output += m_process->readAll(); });
        return ready[QStringLiteral("ready")].toBool() && m_apiPort != 0;
    }
    void stop()
    {
        if (m_process) {
            m_process->closeWriteChannel(); // it ends with its standard input
            if (!m_process->waitForFinished(5000))
                m_process->kill();
            m_process->waitForFinished(5000);
            delete std::exchange(m_process, nullptr);
        }
        m_config.reset();
        m_apiPort = m_notifyPort = 0;
    }

    int apiPort() const { return m_apiPort; }
    int notifyPort() const { return m_notifyPort; }
    // A simulator that another process of the test started, told as "<api port> <notify port>".
    QString ports() const { return QStringLiteral("%1 %2").arg(m_apiPort).arg(m_notifyPort); }
    void attach(const QString& ports) { m_apiPort = ports.section(' ', 0, 0).toInt(), m_notifyPort = ports.section(' ', 1).toInt(); }
    // The simulator as the service: API, notification server, public-address pages.
    ServiceConfig config() const
    {
        ServiceConfig config;
        config.apiBaseUrl = QStringLiteral("http://127.0.0.1:%1/api/").arg(m_apiPort);
        config.notifyUrl = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_notifyPort));
        config.wanIpHtmlUrl = QUrl(QStringLiteral("http://127.0.0.1:%1/_sim/wanip.html").arg(m_apiPort));
        config.wanIpTextUrl = QUrl(QStringLiteral("http://127.0.0.1:%1/_sim/wanip.txt").arg(m_apiPort));
        return config;
    }

    // The requests it received with its verdicts, oldest first.
    QJsonArray requests() { return control("GET", QStringLiteral("requests")).toArray(); }
    bool setBehaviour(const QJsonObject& behaviour)
    {
        return control("POST", QStringLiteral("behaviour"), behaviour)[QStringLiteral("ok")].toBool();
    }
    bool reset() { return control("POST", QStringLiteral("reset"))[QStringLiteral("ok")].toBool(); }
    // Any control /_sim/<name>; an undefined value when it did not answer.
    QJsonValue control(const QByteArray& method, const QString& name, const QJsonObject& body = QJsonObject())
    {
        QNetworkAccessManager manager;
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/_sim/%2").arg(m_apiPort).arg(name)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        std::unique_ptr<QNetworkReply> reply(manager.sendCustomRequest(request, method, QJsonDocument(body).toJson()));
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(15000, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll());
        if (!reply->isFinished() || reply->error() != QNetworkReply::NoError)
            return QJsonValue(QJsonValue::Undefined);
        return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
    }
    // What it wrote so far, for failure messages.
    QByteArray output() const { return m_output; }

private:
    QProcess* m_process = nullptr;
    std::unique_ptr<QTemporaryFile> m_config;
    int m_apiPort = 0, m_notifyPort = 0;
    QByteArray m_output;
};
