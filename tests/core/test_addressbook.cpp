#include "AddressBook.h"
#include "ContactFolder.h"
#include "Settings.h"
#include "TestSupport.h"
#include "ThunderbirdAddressBooks.h"
#include "VCard.h"

#include <QtTest>

namespace {
// Every contact as "name: number, number", contacts joined by " | ".
QString shown(const VCard::ReadResult& result)
{
    QStringList contacts;
    for (const VCard::Contact& contact : result.contacts)
        contacts << contact.name + ": " + contact.numbers.join(", ");
    return contacts.join(" | ");
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QSaveFile file(path); // replaced by renaming, as sync tools do
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(content) >= 0
        && file.commit();
}

bool sqlite(const QString& database, const QString& sql)
{
    QProcess process;
    process.start("sqlite3", {database});
    process.write(sql.toUtf8());
    process.closeWriteChannel();
    return process.waitForFinished() && process.exitCode() == 0 && process.readAllStandardError().isEmpty();
}

// A sqlite3 process that keeps its database open after the statements, as a running Thunderbird does.
bool holdOpen(QProcess& process, const QString& database, const QString& sql)
{
    process.start("sqlite3", {database});
    process.write((sql + "SELECT 'klaar';\n").toUtf8());
    QByteArray out;
    while (!out.contains("klaar") && process.waitForReadyRead())
        out += process.readAllStandardOutput();
    return out.contains("klaar");
}

int loggedLines(const QString& part)
{
    return TestSupport::logged().filter(part).size();
}

// Thunderbird's address-book layout.
const QString kSchema = "CREATE TABLE properties (card TEXT, name TEXT, value TEXT);"
                        "CREATE TABLE lists (uid TEXT PRIMARY KEY, name TEXT, nickName TEXT, description TEXT);"
                        "CREATE TABLE list_cards (list TEXT, card TEXT, PRIMARY KEY(list, card));"
                        "CREATE INDEX properties_card ON properties(card);"
                        "CREATE INDEX properties_name ON properties(name);"
                        "PRAGMA user_version = 4;";
const int kContacts = 10000;
} // namespace

class TestAddressBook : public QObject
{
    Q_OBJECT

    QString m_folder, m_profile;

private slots:
    // A folder as a CardDAV sync leaves it with a damaged file among it; Thunderbird in the throw-away home, with its
    // default profile named by the install section, one sound address book and one damaged.
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        const QString home = QDir::homePath();
        QVERIFY(home.startsWith(TestSupport::testHome()) && !TestSupport::testHome().isEmpty());
        m_folder = home + "/contacts/personal";
        QVERIFY(ContactFolder::write(m_folder, kContacts));
        QVERIFY(writeFile(m_folder + "/kapot.vcf", ContactFolder::card(kContacts) + "BEGIN:VCARD\nFN:Half\n\x89PNG\0\x01"));
        QVERIFY(writeFile(home + "/.thunderbird/profiles.ini",
                          "[Profile1]\nName=oud\nIsRelative=1\nPath=oud.default\nDefault=1\n\n[Profile0]\nName=default-"
                          "release\nIsRelative=1\nPath=Profiles/ab12.default-release\n\n[Install4F96D1932A9F858E]\n"
                          "Default=Profiles/ab12.default-release\nLocked=1\n"));
        m_profile = home + "/.thunderbird/Profiles/ab12.default-release";
        QVERIFY(QDir().mkpath(m_profile) && QDir().mkpath(home + "/.thunderbird/oud.default"));
        QVERIFY(sqlite(m_profile + "/abook.sqlite",
                       kSchema + "INSERT INTO properties VALUES ('a','DisplayName','\u00D6laf Donder'),"
                                 "('a','WorkPhone','+31 10 555 0001'),('a','PrimaryEmail','olaf@example.org'),"
                                 "('b','FirstName','Kees'),('b','LastName','Bakker'),('b','CellularNumber','06-98765432'),"
                                 "('c','DisplayName','Vera Visser'),('c','_vCard','BEGIN:VCARD\r\nVERSION:4.0\r\nFN:V.\r\n"
                                 "TEL;VALUE=TEXT;TYPE=work:030 111 2222\r\nEND:VCARD\r\n'),"
                                 "('d','DisplayName','Tweede keus'),('d','HomePhone','" + ContactFolder::mobile(0) + "');"));
        QVERIFY(writeFile(m_profile + "/abook-1.sqlite", "SQLite format 3 maar geen database"));
    }

    // The vCard forms read, and damage skipped with what could be read kept.
    void vCardForms_giveNameAndNumbers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("damagedLine");
        QTest::newRow("3.0 TYPE, FN over N") << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Vries;Jan;;;\r\nFN:Jan de "
            "Vries\r\nTEL;TYPE=WORK,VOICE:+31 20 123 4567\r\nTEL;TYPE=CELL:06-1\r\nEND:VCARD\r\n")
            << "Jan de Vries: +31 20 123 4567, 06-1" << 0;
        QTest::newRow("4.0 tel URI, quoted TYPE, ext") << QByteArray("BEGIN:VCARD\nVERSION:4.0\nFN:A\nTEL;VALUE=uri;TY"
            "PE=\"voice,cell\";PREF=1:tel:+31-6-12345678;ext=12\nTEL;VALUE=uri:sip:a@b.nl\nTEL:tel:%2B3120\nEND:VCARD")
            << "A: +31-6-12345678, +3120" << 0;
        QTest::newRow("folded in UTF-8, tab, group") << QByteArray("BEGIN:VCARD\r\nFN:Jos\xC3\r\n \xA9 M\xC3\xBC\r\n\tller"
            "\r\nitem1.TEL:020-1\r\n 234567\r\nitem1.X-ABLABEL:werk\r\nEND:VCARD\r\n") << "Jos\u00E9 M\u00FCller: 020-1234567" << 0;
        QTest::newRow("N fallback, escapes") << QByteArray("BEGIN:VCARD\nN:M\\;ller;Anna,Maria;;Dr.;jr\nTEL:1\nEND:VCARD")
            << "Dr. Anna Maria M;ller jr: 1" << 0;
        QTest::newRow("ORG fallback, newline in FN") << QByteArray("BEGIN:VCARD\nORG:Smit\\, B.V.;Verkoop\nTEL:2\nEND:VCARD\n"
            "BEGIN:VCARD\nFN:Piet\\nPuk\\\\\nTEL:3\nEND:VCARD\n") << "Smit, B.V.: 2 | Piet Puk\\: 3" << 0;
        QTest::newRow("2.1 quoted-printable, charsets") << QByteArray("\xEF\xBB\xBF" "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET"
            "=UTF-8;ENCODING=QUOTED-PRINTABLE:J=C3=B6rg =\r\nM=C3=BCller\r\nTEL;WORK;VOICE:+31 (0)20 1\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nN;CHARSET=ISO-8859-1:M\xFCller;J\xF6rg\r\nTEL;CELL;QUOTED-PRINTABLE:06=2D2\r\nEND:VCARD\r\n")
            << "J\u00F6rg M\u00FCller: +31 (0)20 1 | J\u00F6rg M\u00FCller: 06-2" << 0;
        QTest::newRow("agent's card ignored") << QByteArray("BEGIN:VCARD\nFN:Baas\nAGENT:\nBEGIN:VCARD\nFN:Secretaris\n"
            "TEL:9\nEND:VCARD\nTEL:8\nEND:VCARD\n") << "Baas: 8" << 0;
        QTest::newRow("not a vCard") << QByteArray("Naam;Telefoon\nJan;0201234567\n") << "" << 1;
        QTest::newRow("truncated card") << QByteArray("BEGIN:VCARD\nFN:A\nEND:VCARD\nBEGIN:VCARD\nFN:B\nTEL:1") << "A: " << 4;
        QTest::newRow("invalid UTF-8 line") << QByteArray("BEGIN:VCARD\nN:;Bo\nFN:B\xC3\x28\nTEL:5\nEND:VCARD") << "Bo: 5" << 3;
        QTest::newRow("junk between cards") << QByteArray("BEGIN:VCARD\nFN:A\nEND:VCARD\n\x89PNG\r\n\x1a\n") +
            QByteArray(2, '\0') + "\xff:\nEND:VCARD\nBEGIN:VCARD\nFN:C\nEND:VCARD\n" << "A:  | C: " << 4;
    }
    void vCardForms_giveNameAndNumbers()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        QFETCH(int, damagedLine);
        const VCard::ReadResult result = VCard::read(text);
        QCOMPARE(shown(result), expected);
        QCOMPARE(result.damagedLine, damagedLine);
    }

    void defaultProfile_followsProfilesIni_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("expected");
        QTest::newRow("install wins") << QByteArray("[Profile0]\nPath=a\nDefault=1\n[InstallX]\nDefault=b\n") << "/r/b";
        QTest::newRow("Default=1, absolute, CRLF") << QByteArray("[Profile0]\r\nPath=a\r\n[Profile1]\r\nIsRelative=0\r\n"
                                                                "Path=/p/b\r\nDefault=1\r\n") << "/p/b";
        QTest::newRow("the only one") << QByteArray("[General]\nVersion=2\n[Profile0]\nIsRelative=1\nPath=x/c\n") << "/r/x/c";
        QTest::newRow("two, none default") << QByteArray("[Profile0]\nPath=a\n[Profile1]\nPath=b\n") << "";
    }
    void defaultProfile_followsProfilesIni()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, expected);
        QCOMPARE(ThunderbirdAddressBooks::defaultProfile(ini, "/r"), expected);
    }

    void sources_fromSettings()
    {
        QCOMPARE(AddressBookSources::fromSettings(), AddressBookSources()); // absent: Thunderbird on, no vCards
        Settings().set("AddressBooks", "VCardPath", "/x/y.vcf");
        Settings().set("AddressBooks", "Thunderbird", false);
        const AddressBookSources sources = AddressBookSources::fromSettings();
        QVERIFY(!sources.thunderbird && sources.vCardPath == "/x/y.vcf");
        QCOMPARE(sources.thunderbirdRoot, QDir::homePath() + "/.thunderbird");
    }

    // While Thunderbird holds one database locked and keeps the newest cards of another in its write-ahead log,
    // every notation of a number gives its name; a damaged file and a damaged database each cost one log line; a file
    // replaced by a sync is read again, without logging the damage again.
    void bothSources_nameForEveryNotation_andChangesPickedUp()
    {
        QProcess locked, wal;
        QVERIFY(holdOpen(locked, m_profile + "/abook.sqlite", "BEGIN EXCLUSIVE;"));
        QVERIFY(holdOpen(wal, m_profile + "/abook-2.sqlite", "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;" +
                         kSchema + "INSERT INTO properties VALUES ('w','DisplayName','Wim Wal'),('w','HomePhone','070 1234567');"));
        QVERIFY(QFile::exists(m_profile + "/abook-2.sqlite-wal"));

        AddressBookSources sources;
        sources.vCardPath = QFileInfo(m_folder).path(); // with its sub-folders
        sources.rebuildDelayMsecs = 50;
        AddressBook book(sources);
        QSignalSpy ready(&book, &AddressBook::indexReady);
        QVERIFY(!book.isReady() && book.lookup(ContactFolder::mobile(0)).isEmpty()); // nothing waited for
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 60000);
        QCOMPARE(ready.first().first().toInt(), kContacts + 1 + 4);
        for (int i = 0; i <= kContacts; ++i) {
            const QString nr = ContactFolder::mobile(i).mid(2);
            for (const QString& notation : {"+31 (0)6 " + nr, "00316" + nr, "06 " + nr.left(4) + " " + nr.mid(4)})
                QCOMPARE(book.lookup(notation), ContactFolder::name(i));
        }
        QCOMPARE(book.lookup("010-5550001"), "\u00D6laf Donder");
        QCOMPARE(book.lookup("+31 6 98765432"), "Kees Bakker");
        QCOMPARE(book.lookup("0031301112222"), "Vera Visser");
        QCOMPARE(book.lookup("+31701234567"), "Wim Wal");
        QVERIFY(book.lookup("0201234567").isEmpty());
        QCOMPARE(loggedLines("kapot.vcf is beschadigd (regel 6)"), 1);
        QCOMPARE(loggedLines("abook-1.sqlite van Thunderbird is overgeslagen"), 1);
        locked.kill(), wal.kill();
        locked.waitForFinished(), wal.waitForFinished();

        QVERIFY(writeFile(m_folder + "/" + ContactFolder::fileName(7), "BEGIN:VCARD\nFN:Nieuw\nTEL:06-12000007\nEND:VCARD"));
        QTRY_COMPARE_WITH_TIMEOUT(book.lookup("0612000007"), "Nieuw", 60000);
        QCOMPARE(loggedLines("kapot.vcf"), 1);

        // One file of its own, changed in place; Thunderbird off.
        const QString single = TestSupport::testHome() + "/export.vcf";
        QVERIFY(writeFile(single, "BEGIN:VCARD\nFN:Een\nTEL:0612000001\nEND:VCARD\n"));
        sources.vCardPath = single;
        sources.thunderbird = false;
        book.setSources(sources);
        QTRY_COMPARE(book.lookup("0612000001"), "Een");
        QCOMPARE(book.lookup("0612000002") + book.lookup("0105550001"), "");
        QFile file(single);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("BEGIN:VCARD\nFN:Twee\nTEL:0612000001\nEND:VCARD\n") > 0);
        file.close();
        QTRY_COMPARE(book.lookup("0612000001"), "Twee");
    }

    // A build overtaken by a newer one is dropped; the object may go while one runs.
    void overtakenAndDestroyedWhileBuilding_isSafe()
    {
        AddressBookSources sources;
        sources.vCardPath = m_folder;
        auto book = std::make_unique<AddressBook>(sources);
        QSignalSpy ready(book.get(), &AddressBook::indexReady);
        sources.thunderbird = false;
        book->setSources(sources);
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 60000);
        QCOMPARE(ready.first().first().toInt(), kContacts + 1);
        QTest::qWait(100);
        QCOMPARE(ready.count(), 1);
        book = std::make_unique<AddressBook>(sources);
        book.reset();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(60000));
    }
};

QTEST_GUILESS_MAIN(TestAddressBook)
#include "test_addressbook.moc"
