#include "InternalKarvelonApi.h"
#include "Logger.h"
#include "PluginCommand.h"
#include "TestSupport.h"
#include "WorkerThread.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QtTest>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
int countRecords(const QString& prefix)
{
    int count = 0;
    const QList<QJsonObject> records = Logger::instance()->readLogRecords();
    for (const QJsonObject& record : records)
        count += record.value(QStringLiteral("msg")).toString().startsWith(prefix) ? 1 : 0;
    return count;
}

// Writes in full and waits until the server has read it (its "CMD:" record), so each write is one read.
bool send(QLocalSocket& client, const QByteArray& data)
{
    const QString cmd =
        QStringLiteral("CMD: ") + PluginCommand::displayText(data.left(InternalKarvelonApi::MaxCommandSize));
    const int before = countRecords(cmd);
    client.write(data);
    while (client.bytesToWrite() > 0) {
        if (!client.waitForBytesWritten(5000))
            return false;
    }
    return QTest::qWaitFor([&] { return countRecords(cmd) > before; }, 10000);
}
} // namespace

class TestInternalApi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("numbers");
        const auto valid = [](const char* row, const QByteArray& data, const QString& name,
                              const QStringList& numbers) {
            QTest::newRow(row) << data << int(PluginCommand::Valid) << name << numbers;
        };
        const auto invalid = [](const char* row, const QByteArray& data, PluginCommand::Outcome outcome) {
            QTest::newRow(row) << data << int(outcome) << QString() << QStringList();
        };
        valid("two numbers", "ShowCallDialog;Helpdesk;0123=Werk;0456=Mobiel", "Helpdesk",
              {"0123 (Werk)", "0456 (Mobiel)"});
        valid("field without =", "ShowCallDialog;Helpdesk;0123", "Helpdesk", {"0123"});
        valid("field with two =", "ShowCallDialog;Helpdesk;0123=Werk=Thuis", "Helpdesk", {"0123=Werk=Thuis"});
        valid("empty pieces kept", "ShowCallDialog;;;0456=Mobiel;=;", "", {"", "0456 (Mobiel)", " ()", ""});
        valid("plus sign, spaces, UTF-8", "ShowCallDialog;Zo\xc3\xab;+31 20 123 4567=Priv\xc3\xa9",
              QString::fromUtf8("Zoë"), {QString::fromUtf8("+31 20 123 4567 (Privé)")});
        invalid("name only", "ShowCallDialog;Helpdesk", PluginCommand::MissingNumbers);
        invalid("word only", "ShowCallDialog", PluginCommand::MissingNumbers);
        invalid("word and separator", "ShowCallDialog;", PluginCommand::MissingNumbers);
        invalid("lower-case word", "showcalldialog;Helpdesk;0123=Werk", PluginCommand::UnknownCommand);
        invalid("leading blank", " ShowCallDialog;A;1=x", PluginCommand::UnknownCommand);
        invalid("binary garbage", QByteArray("\xff\xfe\x00;\x01", 5), PluginCommand::UnknownCommand);
    }
    void parse()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, outcome);
        QFETCH(QString, name);
        QFETCH(QStringList, numbers);
        const PluginCommand command = PluginCommand::parse(data);
        QCOMPARE(int(command.outcome), outcome);
        QCOMPARE(command.isValid(), outcome == PluginCommand::Valid);
        if (command.isValid()) {
            QCOMPARE(command.name, name);
            QCOMPARE(command.numbers, numbers);
        }
    }
    void displayText_stopsAtNul()
    {
        QCOMPARE(PluginCommand::displayText(QByteArray("ShowCallDialog;A\0;hidden", 24)),
                 QStringLiteral("ShowCallDialog;A"));
        QCOMPARE(PluginCommand::displayText(QByteArray("Zo\xc3\xab")), QString::fromUtf8("Zoë"));
    }

    // One connection, one command per read: rejected or incomplete commands cost nothing, and
    // two commands in one write are one command. The socket is the owner's only and never answers.
    void realClient_oneCommandPerRead()
    {
        InternalKarvelonApi api(TestSupport::uniqueSocketPath(QStringLiteral("cmd")), nullptr);
        QVERIFY(api.isListening());
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther | QFileDevice::ExeOther;
        QCOMPARE(QFileInfo(api.serverName()).permissions() & others, QFileDevice::Permissions());
        QSignalSpy spy(&api, &InternalKarvelonApi::showCallDialog);
        const QString rejected = QStringLiteral("Ongeldig commando ontvangen");
        const int rejectedBefore = countRecords(rejected);

        QLocalSocket client;
        client.connectToServer(api.serverName());
        QVERIFY(client.waitForConnected(5000));
        QVERIFY(send(client, "ShowCallDialog;Helpdesk;0123=Werk;0456=Mobiel"));
        QVERIFY(send(client, "showcalldialog;Helpdesk;0123=Werk"));
        QCOMPARE(countRecords(rejected), rejectedBefore + 1);
        QVERIFY(send(client, "ShowCallDialog;Helpdesk"));
        QCOMPARE(countRecords(rejected), rejectedBefore + 1);
        QVERIFY(send(client, "ShowCallDialog;Zo\xc3\xab;+31 20 123=Priv\xc3\xa9"));
        QVERIFY(send(client, "ShowCallDialog;A;1=xShowCallDialog;B;2=y"));
        QCOMPARE(client.state(), QLocalSocket::ConnectedState);

        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 3, 10000);
        QTest::qWait(200);
        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.at(0).at(0).value<SourceType::Type>(), SourceType::MsOutlook);
        QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("Helpdesk"));
        QCOMPARE(spy.at(0).at(2).toStringList(), (QStringList{"0123 (Werk)", "0456 (Mobiel)"}));
        QCOMPARE(spy.at(1).at(1).toString(), QString::fromUtf8("Zoë"));
        QCOMPARE(spy.at(1).at(2).toStringList(), QStringList{QString::fromUtf8("+31 20 123 (Privé)")});
        QCOMPARE(spy.at(2).at(1).toString(), QStringLiteral("A"));
        QCOMPARE(spy.at(2).at(2).toStringList(), (QStringList{"1 (xShowCallDialog)", "B", "2 (y)"}));
        QCOMPARE(client.bytesAvailable(), qint64(0));
    }

    // A runaway client: one read takes at most 64 KiB, the rest is dropped with a record.
    void oversizedRead_isCappedAndServerGoesOn()
    {
        InternalKarvelonApi api(TestSupport::uniqueSocketPath(QStringLiteral("cmd")), nullptr);
        QSignalSpy spy(&api, &InternalKarvelonApi::showCallDialog);
        const QString dropRecord = QStringLiteral("Te lang commando op interne API");
        const int dropsBefore = countRecords(dropRecord);

        // Written in full before this thread (the server's) gets to read, so it is one read.
        const QByteArray prefix("ShowCallDialog;Big;0123=Werk;");
        QLocalSocket client;
        client.connectToServer(api.serverName());
        QVERIFY(client.waitForConnected(5000));
        QVERIFY(send(client, prefix + QByteArray(100 * 1024, 'x')));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 10000);
        QCOMPARE(spy.at(0).at(2).toStringList(),
                 (QStringList{QStringLiteral("0123 (Werk)"),
                              QString(int(InternalKarvelonApi::MaxCommandSize) - prefix.size(), QLatin1Char('x'))}));
        QCOMPARE(countRecords(dropRecord), dropsBefore + 1);

        // The rest was not taken as further commands; the connection still works.
        QVERIFY(send(client, "ShowCallDialog;After;1=x"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 10000);
        QCOMPARE(spy.at(1).at(1).toString(), QStringLiteral("After"));
    }

    // The socket file of a killed run is taken over; on its own thread the signal arrives queued.
    void staleSocketFile_onItsOwnThread()
    {
        const QString path = TestSupport::uniqueSocketPath(QStringLiteral("stale"));
        const QByteArray encoded = QFile::encodeName(path);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        QVERIFY(size_t(encoded.size()) < sizeof(address.sun_path));
        std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
        QVERIFY(QFileInfo::exists(path));

        WorkerThread worker;
        bool listening = false;
        InternalKarvelonApi* api = worker.make<InternalKarvelonApi>([&path, &listening]() {
            auto* made = new InternalKarvelonApi(path, nullptr);
            listening = made->isListening();
            return made;
        });
        auto release = qScopeGuard([&worker, api]() { worker.run([api]() { delete api; }); });
        QVERIFY(listening);
        QStringList names;
        QThread* deliveredOn = nullptr;
        connect(api, &InternalKarvelonApi::showCallDialog, this,
                [&](SourceType::Type, const QString& name, const QStringList&) {
                    names.append(name);
                    deliveredOn = QThread::currentThread();
                });

        QLocalSocket client;
        client.connectToServer(path);
        QVERIFY(client.waitForConnected(5000));
        client.write("ShowCallDialog;Helpdesk;0123=Werk");
        QVERIFY(client.waitForBytesWritten(5000));
        QTRY_COMPARE_WITH_TIMEOUT(names, QStringList{"Helpdesk"}, 10000);
        QCOMPARE(deliveredOn, QThread::currentThread());
    }

    void unusablePath_logsWarning()
    {
        const int before = countRecords(QStringLiteral("Interne server niet gestart. Fout: "));
        InternalKarvelonApi api(TestSupport::testHome() + QStringLiteral("/no/such/dir/cmd"), nullptr);
        QVERIFY(!api.isListening());
        QCOMPARE(countRecords(QStringLiteral("Interne server niet gestart. Fout: ")), before + 1);
    }
};

QTEST_GUILESS_MAIN(TestInternalApi)
#include "test_internalapi.moc"
