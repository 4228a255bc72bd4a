#include "CallHistory.h"
#include "TestSupport.h"

#include <QtTest>

#include <unistd.h>

class TestCallHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath("calls.jsonl"); }
    bool ownerOnly() const { return (QFileInfo(path()).permissions() & 0x0077) == 0; }
    void write(const QByteArray& bytes, const QString& to) const
    {
        QFile file(to);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    static CallRecord call(const QString& number, CallRecord::Direction direction = CallRecord::Incoming)
    {
        CallRecord r;
        r.direction = direction;
        r.msecsSinceEpoch = 1700000000000;
        r.number = number;
        return r;
    }

private slots:
    void init() { QFile::remove(path()); }

    void fieldsSurviveARestart_ownerOnly()
    {
        CallRecord in = call("0612345678");
        in.name = "<b>Piet</b>";
        in.line = "0201234567";
        CallRecord out = call("+31 20 123", CallRecord::Outgoing);
        out.source = "OutlookPlugin";
        out.accepted = true;
        CallHistory(path()).add(in);
        CallHistory(path()).add(out);
        const QVector<CallRecord> read = CallHistory(path()).recent(3);
        QCOMPARE(read.size(), 2);
        QCOMPARE(read.at(0).toLine(), out.toLine());
        QCOMPARE(read.at(1).toLine(), in.toLine());
        QVERIFY(read.at(0).accepted && read.at(0).source == out.source && read.at(1).line == in.line);
        QVERIFY(ownerOnly());
    }

    void keepsTheNewest_andCompactsTheFile()
    {
        for (int i = 0; i < 12; ++i)
            CallHistory(path(), 5).add(call(QString::number(i)));
        CallHistory history(path(), 5);
        QCOMPARE(history.calls().size(), 5);
        QCOMPARE(history.calls().first().number + history.calls().last().number, QStringLiteral("711"));
        QVERIFY(TestSupport::readFile(path()).count('\n') <= 10 && ownerOnly());
    }

    void damagedLinesAndHugeFiles_keepWhatIsReadable_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("damaged") << "not json\n{\"dir\":\"sideways\",\"time\":5}\n" + call("1").toLine()
                                        + QByteArray("\0\0{\"dir\":\n", 10);
        QTest::newRow("huge") << QByteArray(2 * CallHistory::MaxReadBytes, 'x') + '\n' + call("1").toLine();
    }
    void damagedLinesAndHugeFiles_keepWhatIsReadable()
    {
        QFETCH(QByteArray, content);
        write(content, path());
        CallHistory history(path());
        QCOMPARE(history.calls().size(), 1);
        QCOMPARE(history.calls().at(0).number, QStringLiteral("1"));
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
        const QString target = symlink ? m_dir.filePath("target") : path();
        write(call("1").toLine(), target);
        if (symlink)
            QVERIFY(QFile::link(target, path()));
        else if (::getuid() != 0 || ::chown(qPrintable(path()), 65534, 65534) != 0)
            QSKIP("changing a file's owner needs root");
        CallHistory history(path());
        QVERIFY(history.calls().isEmpty());
        history.add(call("2"));
        history.clear();
        QCOMPARE(TestSupport::readFile(target), call("1").toLine());
        QCOMPARE(QFileInfo(path()).isSymLink(), symlink);
    }
};

QTEST_GUILESS_MAIN(TestCallHistory)
#include "test_callhistory.moc"
