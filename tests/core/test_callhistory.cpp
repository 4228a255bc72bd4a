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
    static CallRecord call(const QString& nr) { return {CallRecord::Incoming, 1700000000000, nr, {}, {}, {}, false}; }

private slots:
    void init() { QFile::remove(path()); }

    // Every field survives a restart; only the newest calls are kept, and the file is compacted; owner-only.
    void fieldsSurviveARestart_newestKept_ownerOnly()
    {
        const CallRecord in{CallRecord::Incoming, 1700000000000, "0612345678", "<b>Piet</b>", "0201234567", {}, false};
        const CallRecord out{CallRecord::Outgoing, 1700000000001, "+31 20 123", {}, {}, "OutlookPlugin", true};
        CallHistory(path()).add(in);
        CallHistory(path()).add(out);
        const QVector<CallRecord> read = CallHistory(path()).recent(3);
        QCOMPARE(read.size(), 2);
        QCOMPARE(read.at(0).toLine(), out.toLine());
        QCOMPARE(read.at(1).toLine(), in.toLine());
        QVERIFY(read.at(0).accepted && read.at(0).source == out.source && read.at(1).line == in.line);
        for (int i = 0; i < 12; ++i)
            CallHistory(path(), 5).add(call(QString::number(i)));
        CallHistory history(path(), 5);
        QCOMPARE(history.calls().size(), 5);
        QCOMPARE(history.calls().first().number + history.calls().last().number, QStringLiteral("711"));
        QVERIFY(TestSupport::readFile(path()).count('\n') <= 10 && ownerOnly());
    }

    // Damaged lines and a huge file: what is readable is kept, and the file is rewritten. A symbolic link, or someone
    // else's file (root only), is neither read nor written.
    void damagedOrForeignFiles()
    {
        for (const QByteArray& content :
             {"not json\n{\"dir\":\"sideways\",\"time\":5}\n" + call("1").toLine() + QByteArray("\0\0{\"dir\":\n", 10),
              QByteArray(2 * CallHistory::MaxReadBytes, 'x') + '\n' + call("1").toLine()}) {
            write(content, path());
            CallHistory history(path());
            QCOMPARE(history.calls().size(), 1);
            QCOMPARE(history.calls().at(0).number, QStringLiteral("1"));
            QVERIFY(QFileInfo(path()).size() < 1024);
        }
        for (const bool symlink : {true, false}) {
            QFile::remove(path());
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
    }
};

QTEST_GUILESS_MAIN(TestCallHistory)
#include "test_callhistory.moc"
