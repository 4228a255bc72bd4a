#include "CallHistory.h"
#include "TestSupport.h"

#include <QtTest>

#include <unistd.h>

class TestCallHistory : public QObject
{
    Q_OBJECT

    QString path() const { return m_dir.filePath(QStringLiteral("calls.jsonl")); }
    static CallRecord call(CallRecord::Direction direction, const QString& number, qint64 at = 1700000000000)
    {
        CallRecord r;
        r.direction = direction;
        r.msecsSinceEpoch = at;
        r.number = number;
        return r;
    }
    bool ownerOnly() const { return (QFileInfo(path()).permissions() & 0x0077) == 0; }
    QTemporaryDir m_dir;

private slots:
    void init() { QFile::remove(path()); }

    void fieldsSurviveARestart_ownerOnly()
    {
        CallRecord in = call(CallRecord::Incoming, QStringLiteral("0612345678"));
        in.name = QStringLiteral("<b>Piet</b>");
        in.line = QStringLiteral("0201234567");
        CallRecord out = call(CallRecord::Outgoing, QStringLiteral("+31 20 123"), 1700000001000);
        out.source = QStringLiteral("OutlookPlugin");
        out.accepted = true;
        CallHistory(path()).add(in);
        CallHistory(path()).add(out);

        CallHistory history(path());
        QCOMPARE(history.calls().size(), 2);
        const CallRecord a = history.recent(2).at(1), b = history.recent(2).at(0);
        QCOMPARE(a.toLine(), in.toLine());
        QCOMPARE(b.toLine(), out.toLine());
        QVERIFY(b.accepted && b.source == out.source && a.name == in.name && a.line == in.line);
        QVERIFY(ownerOnly());
    }

    void keepsTheNewest_andCompactsTheFile()
    {
        for (int i = 0; i < 12; ++i)
            CallHistory(path(), 5).add(call(CallRecord::Incoming, QString::number(i)));
        CallHistory history(path(), 5);
        QCOMPARE(history.calls().size(), 5);
        QCOMPARE(history.recent(1).at(0).number, QStringLiteral("11"));
        QCOMPARE(history.calls().at(0).number, QStringLiteral("7"));
        QVERIFY(TestSupport::readFile(path()).count('\n') <= 10);
        QVERIFY(ownerOnly());
    }

    void damagedLines_areSkipped()
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not json\n{\"dir\":\"sideways\",\"time\":5}\n" + call(CallRecord::Incoming, "1").toLine()
                   + "\0\0\0{\"dir\":\n");
        file.close();
        CallHistory history(path());
        QCOMPARE(history.calls().size(), 1);
        QCOMPARE(history.calls().at(0).number, QStringLiteral("1"));
    }

    void aHugeFile_isReadFromItsEnd()
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray filler(1024, 'x');
        for (qint64 written = 0; written < 2 * CallHistory::MaxReadBytes; written += filler.size() + 1)
            file.write(filler + '\n');
        file.write(call(CallRecord::Outgoing, "last").toLine());
        file.close();
        CallHistory history(path());
        QCOMPARE(history.calls().size(), 1);
        QVERIFY(QFileInfo(path()).size() < 1024);
    }

    void notOurs_isNeitherReadNorWritten_data()
    {
        QTest::addColumn<bool>("symlink");
        QTest::newRow("symbolic link") << true;
        QTest::newRow("someone else's file") << false;
    }
    void notOurs_isNeitherReadNorWritten()
    {
        QFETCH(bool, symlink);
        const QString target = m_dir.filePath(QStringLiteral("target"));
        QFile::remove(target);
        QFile file(symlink ? target : path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(call(CallRecord::Incoming, "1").toLine());
        file.close();
        if (symlink)
            QVERIFY(QFile::link(target, path()));
        else if (::getuid() != 0 || ::chown(qPrintable(path()), 65534, 65534) != 0)
            QSKIP("changing a file's owner needs root");
        const QByteArray before = TestSupport::readFile(symlink ? target : path());
        CallHistory history(path());
        QVERIFY(history.calls().isEmpty());
        history.add(call(CallRecord::Incoming, "2"));
        history.clear();
        QCOMPARE(TestSupport::readFile(symlink ? target : path()), before);
        QCOMPARE(QFileInfo(path()).isSymLink(), symlink);
    }
};

QTEST_GUILESS_MAIN(TestCallHistory)
#include "test_callhistory.moc"
