// Every committed fuzz corpus file, run through the same entries as the
// fuzzers. An entry aborts on a broken property, which fails this test.
#include "FuzzEntries.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class TestFuzzCorpus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { FuzzEntries::initialise(); }

    void corpus_runsWithoutFinding_data()
    {
        QTest::addColumn<int>("index");
        size_t count = 0;
        const FuzzEntries::Target* all = FuzzEntries::targets(count);
        for (size_t i = 0; i < count; ++i)
            QTest::newRow(all[i].name) << int(i);
    }

    void corpus_runsWithoutFinding()
    {
        QFETCH(int, index);
        size_t count = 0;
        const FuzzEntries::Target& target = FuzzEntries::targets(count)[index];
        const QDir dir(QStringLiteral(KARVELON_FUZZ_CORPUS) + QLatin1Char('/') + QLatin1String(target.name));
        const QStringList files = dir.entryList(QDir::Files, QDir::Name);
        // A target without seeds would pass without testing anything.
        QVERIFY2(files.size() >= 3, qPrintable(dir.path()));
        for (const QString& name : files) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            target.run(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
        }
    }
};

QTEST_GUILESS_MAIN(TestFuzzCorpus)
#include "test_fuzzcorpus.moc"
