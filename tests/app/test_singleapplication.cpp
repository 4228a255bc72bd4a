// One instance per user: the frame reader, then real processes (singleapp_peer) as instance and later starts.
#include "SingleApplication.h"

#include <QProcess>
#include <QtTest>

#include <memory>

namespace {
QByteArray frame(quint32 length, const QByteArray& payload)
{
    return QByteArray::fromHex(QByteArray::number(length, 16).rightJustified(8, '0')) + payload; // big-endian length
}

std::unique_ptr<QProcess> peer(const QString& mode, const QByteArray& input = QByteArray())
{
    auto process = std::make_unique<QProcess>();
    process->start(QCoreApplication::applicationDirPath() + QStringLiteral("/singleapp_peer"), {mode});
    process->write(input);
    process->closeWriteChannel();
    return process;
}

int send(const QString& message)
{
    const auto sender = peer(QStringLiteral("send"), message.toUtf8());
    return sender->waitForFinished(20000) && sender->exitStatus() == QProcess::NormalExit ? sender->exitCode() : -1;
}

// Starts an instance; its socket path, empty when it did not come up.
QString serve(std::unique_ptr<QProcess>& instance)
{
    instance = peer(QStringLiteral("serve"));
    for (int i = 0; i < 100 && !instance->canReadLine(); ++i)
        instance->waitForReadyRead(200);
    const QByteArray line = instance->readLine().trimmed();
    return line.startsWith("READY ") ? QString::fromUtf8(line.mid(6)) : QString();
}
} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT

private slots:
    void takeMessage_wholeFramesOnlyUpToTheCap()
    {
        const auto take = [](QByteArray buffer) { // "taken tooLarge message"
            QString message;
            bool tooLarge = false;
            const bool taken = SingleApplication::takeMessage(buffer, message, tooLarge);
            return QStringLiteral("%1 %2 %3").arg(taken).arg(tooLarge).arg(message);
        };
        QCOMPARE(take(frame(3, "a\xc3\xa9")), QString::fromUtf8("1 0 aé"));
        QCOMPARE(take(frame(4, "abc")), "0 0 ");
        QCOMPARE(take(frame(SingleApplication::MaxMessageSize + 1, "x")), "0 1 ");
    }

    void instance_takesWholeMessagesAndOutlivesAKill()
    {
        QCOMPARE(send(QStringLiteral("niemand")), 1);
        std::unique_ptr<QProcess> first, second;
        const QString socket = serve(first);
        QVERIFY(!socket.isEmpty());
        QCOMPARE(serve(second), QString()); // another start sees the first
        QVERIFY(second->waitForFinished(10000) && second->exitCode() == 3);
        const QString large = QString::fromUtf8("Zoë;\n\r") + QChar(0) + QString(200 * 1024, QLatin1Char('7'));
        QCOMPARE(send(large), 0);
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += first->readAllStandardOutput()).endsWith('\n'), 20000);
        QCOMPARE(out.trimmed(), "MSG " + large.toUtf8().toBase64());

        first->kill(); // lock file and socket stay behind
        QVERIFY(first->waitForFinished(10000));
        QCOMPARE(send(QStringLiteral("verloren")), 1);
        QCOMPARE(serve(second), socket);
        QCOMPARE(send(QStringLiteral("quit")), 0);
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(!QFile::exists(socket));
    }
};

QTEST_GUILESS_MAIN(TestSingleApplication)
#include "test_singleapplication.moc"
