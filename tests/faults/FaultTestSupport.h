#pragma once

#include "KarvelonApi.h"
#include "PbxSimulator.h"
#include "Settings.h"
#include "TestSupport.h"
#include "WorkerThread.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

// The web-service client as the program runs it: created inside its own
// worker thread, reached only through queued invocations.
class ApiThread
{
public:
    ApiThread()
        : m_api(m_worker.make<KarvelonApi>([]() { return new KarvelonApi; }))
    {
    }
    ~ApiThread()
    {
        // Released in its own thread, as every object of the thread must be.
        KarvelonApi* api = m_api;
        m_worker.run([api]() { delete api; });
    }
    KarvelonApi* api() const { return m_api; }

    // Runs f on the worker thread and waits for it.
    void run(const std::function<void()>& f) { m_worker.run(f); }

    void call(const QString& number, SourceType::Type source = SourceType::ClickToDial)
    {
        QMetaObject::invokeMethod(m_api, "call", Qt::QueuedConnection, Q_ARG(QString, number),
                                  Q_ARG(SourceType::Type, source), Q_ARG(QString, QString()));
    }

private:
    Q_DISABLE_COPY(ApiThread)
    WorkerThread m_worker;
    KarvelonApi* const m_api;
};

namespace FaultTestSupport {

inline QJsonObject demoConfig()
{
    return QJsonDocument::fromJson(TestSupport::readFile(QStringLiteral(KARVELON_SIM_DIR "/demo-config.json")))
        .object();
}

// The demo customer with the click-to-dial credentials of the demo configuration.
inline void configureDemoCustomer()
{
    Settings settings;
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("100234"));
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), QStringLiteral("demo-wachtwoord"));
    settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Id"), QStringLiteral("c2d-demo"));
    settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Key"), QStringLiteral("c2d-demo-sleutel-7f3a"));
    settings.set(QStringLiteral("ClickToDial"), QStringLiteral("DefaultSip"), QStringLiteral("201"));
}

} // namespace FaultTestSupport
