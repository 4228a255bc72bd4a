// 1 000 plug-in commands in a burst from 10 clients at once against the
// command server on its own thread, as in the program: every valid command
// reaches the main thread exactly once, nothing else does, the main thread
// keeps running its timers, and memory stays put.
#include "InternalKarvelonApi.h"
#include "LoadFigures.h"
#include "Logger.h"
#include "TestSupport.h"
#include "WorkerThread.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QScopeGuard>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

// Under AddressSanitizer freed memory sits in a quarantine of up to 256 MB by
// default, which would swamp the memory bound below; a small quarantine keeps
// the bound about our own allocations. (Options given in ASAN_OPTIONS win.)
extern "C" __attribute__((used)) const char* __asan_default_options()
{
    return "quarantine_size_mb=4:thread_local_quarantine_size_kb=64";
}

class TestLoadPluginCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
        Logger::instance();
    }

    void burstFromTenClients_everyValidCommandHandled()
    {
        constexpr int clients = 10;
        constexpr int perClient = 100;
        const QString path = TestSupport::uniqueSocketPath(QStringLiteral("load"));

        WorkerThread serverThread;
        bool listening = false;
        InternalKarvelonApi* server = serverThread.make<InternalKarvelonApi>([&path, &listening]() {
            auto* made = new InternalKarvelonApi(path, nullptr);
            listening = made->isListening();
            return made;
        });
        // Released on its own thread however the test ends.
        auto stopServer = qScopeGuard([&serverThread, server]() { serverThread.run([server]() { delete server; }); });
        QVERIFY(listening);

        int handled = 0;
        QSet<QString> names;
        connect(server, &InternalKarvelonApi::showCallDialog, this,
                [&](SourceType::Type, const QString& name, const QStringList& numbers) {
                    ++handled;
                    names.insert(name);
                    QCOMPARE(numbers, QStringList{QStringLiteral("0201234567 (Werk)")});
                });

        // The main thread's timers must keep firing during the burst.
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer tick;
        tick.setInterval(10);
        connect(&tick, &QTimer::timeout, this, [&]() {
            longestGap = qMax(longestGap, sinceTick.restart());
        });
        sinceTick.start();
        tick.start();

        const qint64 rssBefore = LoadFigures::peakRssKib();
        std::atomic<int> sent{0};
        std::atomic<int> failures{0};
        QElapsedTimer clock;
        clock.start();
        // Qt threads, so that the clients' blocking waits have an event dispatcher.
        std::vector<std::unique_ptr<QThread>> senders;
        auto joinSenders = qScopeGuard([&]() {
            for (const std::unique_ptr<QThread>& t : senders)
                t->wait();
        });
        for (int c = 0; c < clients; ++c) {
            senders.emplace_back(QThread::create([c, &path, &sent, &failures]() {
                for (int i = 0; i < perClient; ++i) {
                    QLocalSocket socket;
                    socket.connectToServer(path);
                    if (!socket.waitForConnected(10000)) {
                        ++failures;
                        continue;
                    }
                    // Every tenth command is one the server must ignore.
                    const QByteArray command = i % 10 == 9
                        ? QByteArray("ShowCallDialog;alleen een naam")
                        : QStringLiteral("ShowCallDialog;Klant %1-%2;0201234567=Werk").arg(c).arg(i).toUtf8();
                    socket.write(command);
                    if (!socket.waitForBytesWritten(10000))
                        ++failures;
                    socket.disconnectFromServer();
                    if (socket.state() != QLocalSocket::UnconnectedState)
                        socket.waitForDisconnected(10000);
                    ++sent;
                }
            }));
            senders.back()->start();
        }
        constexpr int expected = clients * perClient * 9 / 10;
        QTRY_VERIFY_WITH_TIMEOUT(sent.load() + failures.load() == clients * perClient, 120000);
        QTRY_COMPARE_WITH_TIMEOUT(handled, expected, 60000);
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(failures.load(), 0);
        QCOMPARE(names.size(), expected);
        QTest::qWait(200);
        QCOMPARE(handled, expected);

        const qint64 rssAfter = LoadFigures::peakRssKib();
        qInfo("plug-in burst: %d commands from %d clients in %lld ms (%.0f commands/s); longest main-thread "
              "timer gap %lld ms; peak RSS %lld KiB (+%lld KiB)",
              clients * perClient, clients, elapsed, clients * perClient * 1000.0 / qMax<qint64>(1, elapsed),
              longestGap, rssAfter, rssAfter - rssBefore);
        // Bounded: a thousand small commands must not grow the process by more
        // than a few megabytes (nothing is buffered per command for good).
        QVERIFY2(rssAfter - rssBefore < 64 * 1024, qPrintable(QString::number(rssAfter - rssBefore)));
    }
};

QTEST_MAIN(TestLoadPluginCommands)
#include "test_load_plugincommands.moc"
