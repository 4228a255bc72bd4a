// The pure parsers (contacts of a second start and of the plug-in socket, telephone links, a bare "--call"), and the
// plug-in socket with a real client.
#include "ContactPayload.h"
#include "CommandLine.h"
#include "InternalKarvelonApi.h"
#include "NumberFinder.h"
#include "PhoneNumber.h"
#include "PluginCommand.h"
#include "SocketIO.h"
#include "TestSupport.h"
#include "WorkerThread.h"

#include <QLocalSocket>
#include <QtTest>

class TestParsing : public QObject
{
    Q_OBJECT

private slots:
    // One contact parser for both origins; on the plug-in socket a field without exactly one '=' stays as it is.
    void contact_secondStartAndPluginSocket()
    {
        const struct { QByteArray data; QString fields; } table[] = {
            {"Jan;0123=Werk;0456=Mobiel", "Jan|0123 (Werk)|0456 (Mobiel)"},
            {"Jan;+31 20=Werk=Thuis", "Jan|+31 20 (Werk=Thuis)"}, // the first '=' splits
            {"Jan;0123", "Jan|0123 (0123)"},
            {";;0456=Mobiel", "| ()|0456 (Mobiel)"}, // empty pieces kept
            {"ShowCallDialog;Zo\xc3\xab;+31 6=Priv\xc3\xa9", "Zoë|+31 6 (Privé)"},
            {"ShowCallDialog;A;0123;1=W;1=W=T", "A|0123|1 (W)|1=W=T"},
            {"ShowCallDialog;Helpdesk", QString::number(PluginCommand::MissingNumbers)},
            {"showcalldialog;A;1=x", QString::number(PluginCommand::UnknownCommand)}};
        for (const auto& row : table) {
            QStringList fields;
            if (row.data.toLower().startsWith("showcalldialog;")) {
                const PluginCommand command = PluginCommand::parse(row.data);
                fields = command.isValid() ? QStringList(command.name) + command.numbers
                                           : QStringList(QString::number(command.outcome));
            } else {
                const auto contact = ContactPayload::parse(QString::fromUtf8(row.data), ContactPayload::SecondStart);
                fields = QStringList(contact.name) + contact.numbers;
            }
            QCOMPARE(fields.join(QLatin1Char('|')), row.fields);
        }
    }

    void phoneLink_becomesCallRequest()
    {
        const QString intl = "+31201234567;+31201234567=tel", national = "0201234567;0201234567=tel";
        const struct { QString value; bool link; QString request; } table[] = {
            {"tel:+31%2020-123%204567;ext=12", true, intl}, // encoded blanks, an extension
            {"TEL:(020)%20123.45.67", true, national},
            {"CallTo://+31 20/123 4567", true, intl},
            {"callto:%2B31201234567?type=phone", true, intl},
            {QString::fromUtf8("tel:020\xc2\xa0" "1234567"), true, national}, // a no-break space
            {"tel:*31%23020", true, ""}, // the service dials digits only
            {"tel:+31%20(0)20%201234567", true, intl}, // the trunk prefix after the country code
            {"tel:;ext=1", true, ""},
            {"tel:0031+20", true, ""},
            {"callto:jan.jansen", true, ""},
            {"tel:0201%3Bx%3Dy", true, ""}, // encoded separators
            {"tel:020%1%234567", true, ""}, // a malformed escape makes up no digit
            {QString::fromUtf8("tel:\xd9\xa1\xd9\xa2"), true, ""}, // non-ASCII digits
            {"Telma;0201234567=Werk", false, ""}};
        for (const auto& row : table) {
            QCOMPARE(row.value + QLatin1Char(CommandLine::isPhoneLink(row.value) ? '+' : '-'),
                     row.value + QLatin1Char(row.link ? '+' : '-'));
            QCOMPARE(CommandLine::callRequestFromPhoneLink(row.value), row.request);
        }
        const QStringList menu{"k", "--debug", "--call"}, link{"k", "--call", "tel:1"}, empty{"k", "--call", ""};
        QCOMPARE(CommandLine::withoutEmptyLinkOption(menu), menu.mid(0, 2)); // only a trailing bare "--call" goes
        QCOMPARE(CommandLine::withoutEmptyLinkOption(link), link);
        QCOMPARE(CommandLine::withoutEmptyLinkOption(empty), empty);
    }

    // One reading of a number for the fields, links, the digits sent and the comparison of two notations.
    void phoneNumber_oneReading()
    {
        const struct { QString text, normalized, digits, national; bool typed; } table[] = {
            // text; normalized ("" not a number); digits sent; national form; a field takes it as typed
            {"020 - 123 45 67", "0201234567", "0201234567", "0201234567", true},
            {"+31 (0)20-123 45 67", "+31201234567", "0031201234567", "0201234567", true},
            {"0031 (0)6 1234 5678", "0031612345678", "0031612345678", "0612345678", true},
            {"(020) 123.45/67", "0201234567", "0201234567", "0201234567", true},
            {" +32 2 123 45 67", "+3221234567", "003221234567", "003221234567", false}, // blank before "+"
            {"06-12+3", "", "06123", "", false},                                 // "+" not in front
            {"*31#020", "", "31020", "", false},
            {"+", "", "00", "", true}, {"-", "", "", "", true},
            {QString::fromUtf8("Ù¡Ù¢ 020"), "", "020", "", false}, // non-ASCII digits
            {"0201234567 ext", "", "0201234567", "", false}};
        const QRegExp field(PhoneNumber::fieldPattern());
        for (const auto& row : table) {
            const QString got = QStringList{PhoneNumber::normalized(row.text), PhoneNumber::dialledDigits(row.text),
                                            PhoneNumber::nationalForm(row.text), field.exactMatch(row.text) ? "+" : "-"}
                                    .join('|');
            const QString expected = QStringList{row.normalized, row.digits, row.national, row.typed ? "+" : "-"}.join('|');
            QCOMPARE(row.text + " -> " + got, row.text + " -> " + expected);
        }
    }

    // Selected or copied text as users have it: each number once, in order, and what only looks like one skipped.
    void numberFinder_realWorldText()
    {
        const QString far = QString(NumberFinder::ScanLimit, ' ');
        const struct { QString text, numbers; } table[] = {
            {"Bel ons: +31 (0)20-123 45 67.", "+31201234567"},
            {"020 - 123 45 67", "0201234567"},
            {"Mobiel 06-12 34 56 78 (na 17 uur), 06.12-34.56.79, 06.10.12.34.56",
             "0612345678|0612345679|0610123456"},
            {"0031 6 1234 5678", "0031612345678"},
            {"<tel:+31201234567>", "+31201234567"},
            {"tel:+31%2020%20123%204567;ext=12 of CallTo://0612345678?x=1", "+31201234567|0612345678"},
            {"Brussel: +32 2 123 45 67\n1000 Brussel", "+3221234567"},
            {"T 020 123\r\n45 67", "0201234567"},                          // split over a line break
            {"T020 123 45 67\nM06-12345678\n+32 2 123 45 67\n06 87654321", // a list, one per line
             "0201234567|0612345678|+3221234567|0687654321"},
            {"+32 2 123 45 67 06 12345678 / 0800-1234 020 7654321, 0900 123 45 67",
             "+3221234567|0612345678|08001234|0207654321|09001234567"},
            {"020-1234567, +31 20 1234567 of 0031 (0)20 123 4567", "0201234567"}, // one number, three notations
            {"Afspraak 01-03-2024 06-12 3456 78, 2024-03-12 06 12 34 56 79 of 12.03.2024", "0612345678|0612345679"},
            {"ma-vr 09.00-17.30 uur, za 09.00 - 12.00", ""},
            {"+32 2 123 45 67 1011 AB Amsterdam", "+3221234567"}, // a postcode after it
            {"IBAN NL91 ABNA 0417 1643 00, NL91ABNA0417164300", ""},
            {"Klantnr. 0201234567, bestelnummer: 0612 345 678, Order #0207654321, tel. 020 123 45 67",
             "0201234567"},
            {"KvK 0612345678 BTW-nummer 0687654321 zending 00340434161234567890", ""},
            {"Factuur 2024-0012 van 0.612,50 EUR", ""},
            {"0201234\n\n567, 0201 2345, 02 123 45 67, 0001234567890, 0201234567B01 INV0201234567 NL0612345678", ""},
            {"+31 020 1234567", "0201234567"}, // a trunk "0" kept after the country code
            {"+1 212 555 0100 +44 20 7946 0958 +4930123456789012", "+12125550100|+442079460958"},
            {"0201234567" + far, "0201234567"},
            {far.left(NumberFinder::ScanLimit - 14) + "+44 20 7946 0958", ""}, // cut off at the limit
            {far + "0201234567", ""}};
        const QRegExp field(PhoneNumber::fieldPattern());
        for (const auto& row : table) {
            const QStringList found = NumberFinder::findPhoneNumbers(row.text);
            QCOMPARE(row.text.left(80) + " -> " + found.join('|'), row.text.left(80) + " -> " + row.numbers);
            for (const QString& number : found)
                QVERIFY2(field.exactMatch(number) && PhoneNumber::dialledDigits(number).size() >= 8, qPrintable(number));
        }
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

    // A real client: the socket is the owner's only; one read is one command of at most 64 KiB, and the rest of
    // a runaway read is dropped, not taken as further commands; the connection goes on.
    void realClient_ownerOnly_oneCappedCommandPerRead()
    {
        InternalKarvelonApi api(TestSupport::uniqueSocketPath("cmd"), nullptr);
        api.start();
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
        InternalKarvelonApi* api = nullptr;
        worker.run([&api, &path] { api = new InternalKarvelonApi(path, nullptr), api->start(); });
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

QTEST_GUILESS_MAIN(TestParsing)
#include "test_parsing.moc"
