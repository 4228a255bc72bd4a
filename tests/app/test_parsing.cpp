// The pure parsers of the application core: the contact of a second start,
// telephone links and the launcher's bare "--call".
#include "CallRequest.h"
#include "CommandLine.h"
#include "SocketIO.h"

#include <QtTest>

class TestParsing : public QObject
{
    Q_OBJECT

private slots:
    void parseContact_secondStart_data()
    {
        QTest::addColumn<QString>("rest");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("numbers");
        QTest::newRow("two numbers") << "Jan;0123=Werk;0456=Mobiel" << "Jan" << QStringList{"0123 (Werk)", "0456 (Mobiel)"};
        QTest::newRow("first = splits") << "Jan;+31 20=Werk=Thuis" << "Jan" << QStringList{"+31 20 (Werk=Thuis)"};
        QTest::newRow("no =") << "Jan;0123" << "Jan" << QStringList{"0123 (0123)"};
        QTest::newRow("empty pieces kept") << ";;0456=Mobiel" << "" << QStringList{" ()", "0456 (Mobiel)"};
    }

    void parseContact_secondStart()
    {
        QFETCH(QString, rest);
        const CallRequest::Contact contact = CallRequest::parseContact(rest, CallRequest::SecondStart);
        QTEST(contact.name, "name");
        QTEST(contact.numbers, "numbers");
    }

    void phoneLink_becomesCallRequest_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("link");
        QTest::addColumn<QString>("request");
        const QString intl = "+31201234567;+31201234567=tel", national = "0201234567;0201234567=tel";
        QTest::newRow("encoded blanks, extension") << "tel:+31%2020-123%204567;ext=12" << true << intl;
        QTest::newRow("upper case, dots, parentheses") << "TEL:(020)%20123.45.67" << true << national;
        QTest::newRow("callto, slashes, blanks") << "CallTo://+31 20/123 4567" << true << intl;
        QTest::newRow("query, encoded plus") << "callto:%2B31201234567?type=phone" << true << intl;
        QTest::newRow("no-break space") << QString::fromUtf8("tel:020\xc2\xa0" "1234567") << true << national;
        QTest::newRow("star and hash") << "tel:*31%23020" << true << "*31#020;*31#020=tel";
        QTest::newRow("empty") << "tel:;ext=1" << true << "";
        QTest::newRow("plus inside") << "tel:0031+20" << true << "";
        QTest::newRow("letters") << "callto:jan.jansen" << true << "";
        QTest::newRow("encoded separators") << "tel:0201%3Bx%3Dy" << true << "";
        QTest::newRow("non-ASCII digits") << QString::fromUtf8("tel:\xd9\xa1\xd9\xa2") << true << "";
        QTest::newRow("name like a scheme") << "Telma;0201234567=Werk" << false << "";
    }

    void phoneLink_becomesCallRequest()
    {
        QFETCH(QString, value);
        QTEST(CommandLine::isPhoneLink(value), "link");
        QTEST(CommandLine::callRequestFromPhoneLink(value), "request");
    }

    void withoutEmptyLinkOption_dropsOnlyTrailingBareCall_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("menu start") << QStringList{"k", "--debug", "--call"} << QStringList{"k", "--debug"};
        QTest::newRow("link") << QStringList{"k", "--call", "tel:1"} << QStringList{"k", "--call", "tel:1"};
        QTest::newRow("empty value") << QStringList{"k", "--call", ""} << QStringList{"k", "--call", ""};
    }

    void withoutEmptyLinkOption_dropsOnlyTrailingBareCall()
    {
        QFETCH(QStringList, arguments);
        QTEST(CommandLine::withoutEmptyLinkOption(arguments), "expected");
    }

    // Debug output never carries the notification key, and its file is the user's alone.
    void debugOutput_namesEventsOnly_fileOwnerOnlyNeverThroughALink()
    {
        static QStringList seen;
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) { seen << m; });
        SocketIO().send("register", {{"wskey", "geheim-42"}});
        qInstallMessageHandler(previous);
        QVERIFY(seen.join('|').contains("register") && !seen.join('|').contains("geheim-42"));

        QTemporaryDir dir;
        qputenv("TMPDIR", dir.path().toUtf8());
        const QString path = CommandLine::debugLogFilePath(), target = dir.filePath("elders");
        QVERIFY(QFile::link(target, path));
        CommandLine::debugLog(QtDebugMsg, QMessageLogContext(), "via link");
        QVERIFY(!QFile::exists(target) && QFile::remove(path));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.setPermissions(QFileDevice::Permissions(0x6644)));
        old.close();
        CommandLine::debugLog(QtDebugMsg, QMessageLogContext(), "regel");
        QCOMPARE(old.open(QIODevice::ReadOnly) ? old.readAll() : QByteArray(), QByteArray("regel\r\n"));
        QCOMPARE(int(old.permissions() & 0x0077), 0);
    }
};

QTEST_GUILESS_MAIN(TestParsing)
#include "test_parsing.moc"
