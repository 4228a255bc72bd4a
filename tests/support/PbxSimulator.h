#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUrl>

class QProcess;

// The service simulator (tools/pbx-sim) as a real process on free ports, for
// integration tests. Synchronous helpers run a local event loop while waiting.
class PbxSimulator
{
public:
    PbxSimulator();
    ~PbxSimulator();

    // Starts node with the given configuration (empty: the demo configuration)
    // and waits for its ready line. False when it did not come up.
    bool start(const QJsonObject& config = QJsonObject());
    void stop();
    bool isRunning() const;

    QString apiBaseUrl() const; // "http://127.0.0.1:A/api/"
    QUrl notifyUrl() const;     // "http://127.0.0.1:B"
    quint16 apiPort() const { return m_apiPort; }
    quint16 notifyPort() const { return m_notifyPort; }

    // Requests the simulator received, with its verdicts, oldest first.
    QJsonArray requests();
    bool setBehaviour(const QJsonObject& behaviour);
    bool reset();
    // Any control of /_sim/<name>; an undefined value when it did not answer.
    QJsonValue control(const QByteArray& method, const QString& name, const QJsonObject& body = QJsonObject());

    // Everything the simulator wrote to stdout/stderr so far (for failure messages).
    QByteArray output() const;

private:
    Q_DISABLE_COPY(PbxSimulator)

    QProcess* m_process = nullptr;
    QString m_configPath;
    quint16 m_apiPort = 0;
    quint16 m_notifyPort = 0;
    QByteArray m_output;
};
