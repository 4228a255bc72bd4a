#include "InternalKarvelonApi.h"
#include "TestSupport.h"
#include "WorkerThread.h"

#include <QLocalSocket>
#include <QtTest>

class TestInternalApi : public QObject
{
    Q_OBJECT

private slots:
    // A real client: the socket is the owner's only; one read is one command of at most 64 KiB, and the rest of
    // a runaway read is dropped, not taken as further commands; the connection goes on.
    void realClient_ownerOnly_oneCappedCommandPerRead()
    {
        InternalKarvelonApi api(TestSupport::uniqueSocketPath("cmd"), nullptr);
        QCOMPARE(QFileInfo(api.serverName()).permissions() & 0x77, QFileDevice::Permissions());
        QSignalSpy spy(&api, &InternalKarvelonApi::showCallDialog);
        QLocalSocket client;
        client.connectToServer(api.serverName());
        QVERIFY(client.waitForConnected(5000));
        const QByteArray prefix("ShowCallDialog;Big;0123=Werk;");
        const int max = InternalKarvelonApi::MaxCommandSize - prefix.size();
        client.write(prefix + QByteArray(max, 'x') + "ShowCallDialog;Rest;1=x" + QByteArray(40 * 1024, 'y'));
        while (client.bytesToWrite() > 0 && client.waitForBytesWritten(5000)) {
        } // written in full before this thread, the server's, gets to read: one read
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).value<SourceType::Type>(), SourceType::MsOutlook);
        QCOMPARE(spy.at(0).at(2).toStringList(), (QStringList{"0123 (Werk)", QString(max, 'x')}));
        client.write("ShowCallDialog;Na;1=x");
        QTRY_COMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(1).toString(), "Na");
    }

    // A file left at the path by a killed run is taken over. On its own thread, as in the program, the server
    // hands each command to the main thread.
    void serverThread_takesOverStalePath()
    {
        const QString path = TestSupport::uniqueSocketPath("stale");
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        WorkerThread worker;
        auto* api = worker.make<InternalKarvelonApi>([&path] { return new InternalKarvelonApi(path, nullptr); });
        auto release = qScopeGuard([&worker, api] { worker.run([api] { delete api; }); });
        QStringList names;
        connect(api, &InternalKarvelonApi::showCallDialog, this, [&](SourceType::Type, const QString& name) {
            QCOMPARE(QThread::currentThread(), thread());
            names << name;
        });
        QLocalSocket client;
        client.connectToServer(path);
        QVERIFY(client.waitForConnected(5000));
        client.write("ShowCallDialog;Helpdesk;1=x");
        QTRY_COMPARE(names, QStringList{"Helpdesk"});
    }
};

QTEST_GUILESS_MAIN(TestInternalApi)
#include "test_internalapi.moc"
