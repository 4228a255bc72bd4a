// How fast the notification channel is back after a resume (PrepareForSleep(false)
// until the simulator has accepted "register"; median of 5, target <= 2 s), and what
// its backoff costs while the service is down (CPU time of the whole process over a
// quiet stretch, target <= 0.1 % of one core). The stretch is 60 s by default; an
// argument in seconds shortens it.
#include "NotificationChannel.h"
#include "PbxSimulator.h"
#include "SecretStore.h"
#include "Settings.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double processCpuSecs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

bool prepareForSleep(bool sleeping)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"),
                                                       QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.DBus.Mock"),
                                                       QStringLiteral("EmitSignal"));
    call.setArguments({QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
                       QStringLiteral("b"), QVariantList{QVariant::fromValue(QDBusVariant(sleeping))}});
    return QDBusConnection::systemBus().call(call).type() == QDBusMessage::ReplyMessage;
}

// Waits, with the event loop running, until done() holds; false on time-out.
template <typename Done> bool waitFor(Done done, int msecs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.hasExpired(msecs))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    return true;
}

int acceptedRegisters(PbxSimulator& sim)
{
    int count = 0;
    for (const QJsonValue& frame : sim.control("GET", QStringLiteral("notify-state"))[QStringLiteral("registers")].toArray())
        count += frame[QStringLiteral("verdict")] == QLatin1String("ok");
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    // A private system bus with a mock logind, named before Qt D-Bus first looks for one.
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
    if (!bus.waitForReadyRead(10000)) {
        std::printf("bench_notify: no dbus-daemon\n");
        return 1;
    }
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.readLine().trimmed());
    QCoreApplication app(argc, argv);
    const int quietSecs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 60;

    QProcess logind;
    logind.start(QStringLiteral("/usr/bin/python3"), {"-m", "dbusmock", "--template", "logind"});
    const bool mockUp = waitFor(
        []() { return QDBusConnection::systemBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1")).value(); },
        15000);

    QJsonObject config;
    for (const QString key : {"customers", "apis", "notificationLogins"})
        config[key] = QJsonDocument::fromJson([] {
                          QFile f(QStringLiteral(KARVELON_SIM_DIR "/demo-config.json"));
                          f.open(QIODevice::ReadOnly);
                          return f.readAll();
                      }())[key];
    PbxSimulator sim;
    if (!mockUp || !sim.start(config)) {
        std::printf("bench_notify: simulator or mock logind did not start\n");
        return 1;
    }
    Settings settings;
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Enabled"), true);
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Username"), QStringLiteral("demo"));
    settings.set(QStringLiteral("Notifications"), QStringLiteral("Password"), QStringLiteral("demo-popup"));

    // The channel on its own thread, as in the program.
    QThread worker;
    worker.start();
    QObject onWorker;
    onWorker.moveToThread(&worker);
    const ServiceConfig serviceConfig = sim.config();
    SecretStore secrets(serviceConfig);
    secrets.load();
    NotificationChannel* api = nullptr;
    QMetaObject::invokeMethod(&onWorker, [&]() { api = new NotificationChannel(serviceConfig, &secrets); api->onSettingsUpdated(); },
                              Qt::BlockingQueuedConnection);

    std::vector<double> resumeMsecs;
    if (waitFor([&sim]() { return acceptedRegisters(sim) == 1; }, 15000)) {
        for (int run = 0; run < 5; ++run) {
            const int before = acceptedRegisters(sim);
            prepareForSleep(true);
            waitFor([&sim]() { return sim.control("GET", QStringLiteral("notify-state"))["connections"].toInt() == 0; },
                    15000);
            QElapsedTimer timer;
            timer.start();
            prepareForSleep(false);
            if (!waitFor([&sim, before]() { return acceptedRegisters(sim) > before; }, 15000))
                break;
            resumeMsecs.push_back(double(timer.elapsed()));
        }
    }
    std::sort(resumeMsecs.begin(), resumeMsecs.end());
    if (resumeMsecs.size() == 5)
        std::printf("resume to accepted register: median %.0f ms (min %.0f, max %.0f; target <= 2000 ms)\n",
                    resumeMsecs[2], resumeMsecs.front(), resumeMsecs.back());
    else
        std::printf("resume to accepted register: not measured (%zu of 5 runs)\n", resumeMsecs.size());

    // The service goes away; the channel backs off. Only the process's own CPU time counts.
    sim.stop();
    const double cpuBefore = processCpuSecs();
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < quietSecs * 1000LL)
        QThread::msleep(200);
    const double share = (processCpuSecs() - cpuBefore) / (double(wall.elapsed()) / 1000.0) * 100.0;
    std::printf("CPU during %d s of backoff with the service down: %.3f %% of one core (target <= 0.1 %%)%s\n",
                quietSecs, share, quietSecs < 60 ? " [shortened run]" : "");

    QMetaObject::invokeMethod(&onWorker, [&]() { delete api; }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
    logind.terminate();
    logind.waitForFinished();
    bus.terminate();
    bus.waitForFinished();
    return 0;
}
