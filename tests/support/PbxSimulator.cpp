#include "PbxSimulator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTimer>
#include <QUuid>

namespace {
constexpr int kStartTimeoutMsecs = 30000;
constexpr int kControlTimeoutMsecs = 15000;
} // namespace

PbxSimulator::PbxSimulator() = default;

PbxSimulator::~PbxSimulator()
{
    stop();
}

bool PbxSimulator::start(const QJsonObject& config)
{
    stop();
    const QString simDir = QStringLiteral(KARVELON_SIM_DIR);
    QStringList args{simDir + QStringLiteral("/sim.js"), QStringLiteral("--exit-with-stdin")};
    if (!config.isEmpty()) {
        m_configPath = QDir::tempPath() + QStringLiteral("/pbx-sim-")
                       + QUuid::createUuid().toString(QUuid::Id128).left(12) + QStringLiteral(".json");
        QFile file(m_configPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(config).toJson()) < 0)
            return false;
        file.close();
        args << QStringLiteral("--config") << m_configPath;
    }

    m_process = new QProcess;
    m_process->setProgram(QStringLiteral(KARVELON_NODE_EXECUTABLE));
    m_process->setArguments(args);
    m_process->setWorkingDirectory(simDir);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start();
    if (!m_process->waitForStarted(kStartTimeoutMsecs))
        return false;

    QElapsedTimer elapsed;
    elapsed.start();
    QByteArray line;
    while (!m_process->canReadLine()) {
        if (m_process->state() != QProcess::Running || elapsed.elapsed() > kStartTimeoutMsecs) {
            m_output += m_process->readAllStandardOutput() + m_process->readAllStandardError();
            qWarning("pbx-sim did not start: %s", m_output.constData());
            return false;
        }
        m_process->waitForReadyRead(200);
    }
    line = m_process->readLine();
    m_output += line;
    const QJsonObject ready = QJsonDocument::fromJson(line).object();
    if (!ready.value(QStringLiteral("ready")).toBool()) {
        qWarning("pbx-sim: unexpected first line: %s", line.constData());
        return false;
    }
    m_apiPort = static_cast<quint16>(ready.value(QStringLiteral("apiPort")).toInt());
    m_notifyPort = static_cast<quint16>(ready.value(QStringLiteral("notifyPort")).toInt());
    // Keep the pipes drained so a chatty simulator never blocks on a full pipe.
    QObject::connect(m_process, &QProcess::readyReadStandardOutput, m_process,
                     [this]() { m_output += m_process->readAllStandardOutput(); });
    QObject::connect(m_process, &QProcess::readyReadStandardError, m_process,
                     [this]() { m_output += m_process->readAllStandardError(); });
    return m_apiPort != 0;
}

void PbxSimulator::stop()
{
    if (m_process) {
        m_process->closeWriteChannel();
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
        delete m_process;
        m_process = nullptr;
    }
    if (!m_configPath.isEmpty()) {
        QFile::remove(m_configPath);
        m_configPath.clear();
    }
    m_apiPort = 0;
    m_notifyPort = 0;
}

bool PbxSimulator::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QString PbxSimulator::apiBaseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/api/").arg(m_apiPort);
}

QUrl PbxSimulator::notifyUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_notifyPort));
}

QJsonValue PbxSimulator::control(const QByteArray& method, const QString& name, const QJsonObject& body)
{
    if (!isRunning())
        return QJsonValue(QJsonValue::Undefined);
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/_sim/%2").arg(m_apiPort).arg(name)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply* reply = method == "GET" ? manager.get(request)
                                           : manager.sendCustomRequest(request, method,
                                                                       QJsonDocument(body).toJson(QJsonDocument::Compact));
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(kControlTimeoutMsecs);
    if (!reply->isFinished())
        loop.exec();
    QJsonValue result(QJsonValue::Undefined);
    if (reply->isFinished() && reply->error() == QNetworkReply::NoError) {
        const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll());
        result = doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
    }
    delete reply;
    return result;
}

QJsonArray PbxSimulator::requests()
{
    return control("GET", QStringLiteral("requests")).toArray();
}

bool PbxSimulator::setBehaviour(const QJsonObject& behaviour)
{
    return control("POST", QStringLiteral("behaviour"), behaviour).toObject().value(QStringLiteral("ok")).toBool();
}

bool PbxSimulator::reset()
{
    return control("POST", QStringLiteral("reset")).toObject().value(QStringLiteral("ok")).toBool();
}

QByteArray PbxSimulator::output() const
{
    QByteArray out = m_output;
    if (m_process)
        out += m_process->peek(m_process->bytesAvailable());
    return out;
}
