#include "LogRecord.h"
#include "Logger.h"

#include <QJsonDocument>
#include <QtTest>

// Rendering and parsing of single log lines: pure functions, no files.
class TestLogRecord : public QObject
{
    Q_OBJECT

private slots:
    void formatLine_knownRecord_isByteExact()
    {
        const QByteArray line = LogRecord::formatLine(2, QStringLiteral("Applicatie"), Q_INT64_C(1718186400123),
                                                      QStringLiteral("Kon gesprek niet initi\u00EBren"));
        QCOMPARE(line, QByteArray("{\"component\":\"Applicatie\",\"date\":\"1718186400123\","
                                  "\"msg\":\"Kon gesprek niet initi\xC3\xAB"
                                  "ren\",\"severity\":2}\n"));
    }

    // Qt's own compact JSON writer sorts keys and writes no spaces: for plain text our
    // line must be exactly its rendering of the same object.
    void formatLine_matchesQtCompactJson_data()
    {
        QTest::addColumn<int>("severity");
        QTest::addColumn<QString>("component");
        QTest::addColumn<qint64>("date");
        QTest::addColumn<QString>("msg");
        QTest::newRow("debug, empty component")
            << 0 << QString() << Q_INT64_C(0) << QStringLiteral("Call dialog closed");
        QTest::newRow("info") << 1 << QStringLiteral("Karvelon") << Q_INT64_C(1700000000000)
                              << QStringLiteral("Initialiseren");
        QTest::newRow("error with quotes and slashes")
            << 3 << QStringLiteral("API") << Q_INT64_C(1718186400999) << QStringLiteral("Fout: \"time-out\" op a/b\\c");
        QTest::newRow("empty message") << 2 << QStringLiteral("Logger") << Q_INT64_C(42) << QString();
    }
    void formatLine_matchesQtCompactJson()
    {
        QFETCH(int, severity);
        QFETCH(QString, component);
        QFETCH(qint64, date);
        QFETCH(QString, msg);
        const QJsonObject object{{QStringLiteral("component"), component},
                                 {QStringLiteral("date"), QString::number(date)},
                                 {QStringLiteral("msg"), msg},
                                 {QStringLiteral("severity"), severity}};
        QCOMPARE(LogRecord::formatLine(severity, component, date, msg),
                 QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    }

    // Expected bytes written by hand: UTF-8 of é is C3 A9, of € E2 82 AC, of U+1F600 F0 9F 98 80.
    void jsonString_escapesAndEncodes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("readBack");
        const auto row = [](const char* name, const QString& text, const QByteArray& json) {
            QTest::newRow(name) << text << json << text;
        };
        row("plain", QStringLiteral("Initialiseren"), "\"Initialiseren\"");
        row("empty", QString(), "\"\"");
        row("double quote", QStringLiteral("zeg \"hallo\""), "\"zeg \\\"hallo\\\"\"");
        row("backslash", QStringLiteral("C:\\temp\\"), "\"C:\\\\temp\\\\\"");
        row("line feed and carriage return", QStringLiteral("a\nb\r\n"), "\"a\\nb\\r\\n\"");
        row("tab, backspace, form feed", QStringLiteral("a\tb\bc\fd"), "\"a\\tb\\bc\\fd\"");
        row("other control characters", QString(QChar(0x01)) + QChar(0x1F) + QChar(0x7F), "\"\\u0001\\u001f\x7f\"");
        row("NUL", QStringLiteral("voor") + QChar(0) + QStringLiteral("na"), "\"voor\\u0000na\"");
        row("two-byte UTF-8", QStringLiteral("caf\u00E9"), "\"caf\xC3\xA9\"");
        row("three-byte UTF-8", QStringLiteral("\u20AC 5"), "\"\xE2\x82\xAC 5\"");
        row("four-byte UTF-8", QString::fromUcs4(U"\U0001F600"), "\"\xF0\x9F\x98\x80\"");
        row("slash is left alone", QStringLiteral("a/b"), "\"a/b\"");
        QTest::newRow("lone surrogate becomes U+FFFD")
            << (QStringLiteral("x") + QChar(0xD83D) + QStringLiteral("y")) << QByteArray("\"x\xEF\xBF\xBDy\"")
            << (QStringLiteral("x") + QChar(QChar::ReplacementCharacter) + QStringLiteral("y"));
    }
    void jsonString_escapesAndEncodes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, json);
        QFETCH(QString, readBack);

        QByteArray out("prefix:");
        LogRecord::appendJsonString(out, text);
        QCOMPARE(out, QByteArray("prefix:") + json);

        // The same text in both string members reads back unchanged, on one line.
        const QByteArray line = LogRecord::formatLine(1, text, 7, text);
        QCOMPARE(line.count('\n'), 1);
        QVERIFY(line.endsWith('\n'));
        QJsonObject record;
        QVERIFY(LogRecord::parseLine(line, record));
        QCOMPARE(record.value(QStringLiteral("msg")).toString(), readBack);
        QCOMPARE(record.value(QStringLiteral("component")).toString(), readBack);
        QCOMPARE(record.value(QStringLiteral("date")).toString(), QStringLiteral("7"));
        QCOMPARE(record.value(QStringLiteral("severity")).toInt(), 1);
    }

    void appendLine_reusedBuffer_holdsOnlyTheNewLine()
    {
        QByteArray buffer;
        buffer.reserve(64);
        LogRecord::appendLine(buffer, 3, QStringLiteral("API"), 1, QString(500, QLatin1Char('x')));
        buffer.resize(0);
        LogRecord::appendLine(buffer, 0, QString(), 2, QStringLiteral("kort"));
        QCOMPARE(buffer, QByteArray("{\"component\":\"\",\"date\":\"2\",\"msg\":\"kort\",\"severity\":0}\n"));
    }

    void parseLogRecord_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("msg");
        QTest::newRow("record") << QStringLiteral("{\"component\":\"\",\"date\":\"1\",\"msg\":\"hoi\",\"severity\":1}")
                                << true << QStringLiteral("hoi");
        QTest::newRow("record with line feed")
            << QStringLiteral("{\"msg\":\"\u00E9\u20AC\",\"severity\":1}\n") << true << QStringLiteral("\u00E9\u20AC");
        QTest::newRow("carriage return line feed")
            << QStringLiteral("{\"msg\":\"a\"}\r\n") << true << QStringLiteral("a");
        QTest::newRow("empty line") << QString() << false << QString();
        QTest::newRow("line feed only") << QStringLiteral("\n") << false << QString();
        QTest::newRow("empty object") << QStringLiteral("{}") << false << QString();
        QTest::newRow("not JSON") << QStringLiteral("Log file opened") << false << QString();
        QTest::newRow("array") << QStringLiteral("[1,2]") << false << QString();
        QTest::newRow("cut-off record") << QStringLiteral("{\"msg\":\"ha") << false << QString();
    }
    void parseLogRecord()
    {
        QFETCH(QString, line);
        QFETCH(bool, accepted);
        QFETCH(QString, msg);
        QJsonObject record{{QStringLiteral("stale"), 1}};
        QCOMPARE(Logger::parseLogRecord(line, record), accepted);
        QCOMPARE(record.isEmpty(), !accepted);
        QCOMPARE(record.value(QStringLiteral("msg")).toString(), msg);
    }
};

QTEST_GUILESS_MAIN(TestLogRecord)
#include "test_logrecord.moc"
