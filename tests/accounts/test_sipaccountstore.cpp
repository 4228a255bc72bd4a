#include "Settings.h"
#include "SipAccount.h"
#include "SipAccountManager.h"
#include "SipAccountsTestAccess.h"
#include "StoredSipAccounts.h"
#include "TestSupport.h"

#include <QDataStream>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

namespace {

struct Record
{
    QString name;
    QString id;
    bool checked;
    bool isDefault;
    qint32 type;
};

const QList<Record> kRecords = {
    {QStringLiteral("Kantoor"), QStringLiteral("201"), true, false, 0},
    {QStringLiteral("Receptie \u00e9\u20ac"), QStringLiteral("202"), false, true, 1024},
    {QString(), QStringLiteral("203"), true, true, 1026},
    {QStringLiteral("Plug-ins"), QStringLiteral("201"), false, false, 1},
};

// A QString as a Qt 4.0 stream holds it, written out by hand: byte length, then big-endian UTF-16.
void writeString(QDataStream& out, const QString& text)
{
    if (text.isNull()) {
        out << quint32(0xffffffff);
        return;
    }
    out << quint32(text.size() * 2);
    for (const QChar ch : text)
        out << quint16(ch.unicode());
}

void writeRecordEntry(QDataStream& out, const Record& r)
{
    out << quint32(127) << quint32(11); // user type; type name length with its terminating zero
    out.writeRawData("SipAccount\0", 11);
    writeString(out, r.name);
    writeString(out, r.id);
    out << quint8(r.checked ? 1 : 0) << quint8(r.isDefault ? 1 : 0) << r.type;
}

// A QVariantList of "SipAccount" values as QSettings streams it (Qt 4.0, no null flag, list type 9).
QByteArray handWrittenList(const QList<Record>& records, quint32 claimedCount = quint32(-1))
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint32(9) << (claimedCount == quint32(-1) ? quint32(records.size()) : claimedCount);
    for (const Record& r : records)
        writeRecordEntry(out, r);
    return bytes;
}

// Every byte as a \x escape: the INI reader of QSettings takes it back as is.
QByteArray iniValue(const QByteArray& variantBytes)
{
    QByteArray text = "\"@Variant(";
    for (const char byte : variantBytes)
        text += "\\x" + QByteArray::number(uchar(byte), 16);
    return text + ")\"";
}

QSettings programSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Karvelon"),
                     QStringLiteral("Karvelon"));
}

QByteArray storedBytes()
{
    QByteArray written;
    QDataStream out(&written, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_0);
    out << programSettings().value(QStringLiteral("CustomerGroup/SipAccounts"));
    return written;
}

QStringList allIds(SipAccountManager* registry)
{
    QStringList ids;
    for (SourceType::Type type : {SourceType::ClickToDial, SourceType::AnyPlugin, SourceType::MsOutlook,
                                  SourceType::AppleContacts, SourceType::Thunderbird}) {
        for (SipAccount* account : registry->accounts(type, false))
            ids << account->id();
    }
    ids.sort();
    return ids;
}

void compareAccount(const SipAccount* account, const Record& r)
{
    QVERIFY(account);
    QCOMPARE(account->displayName(), r.name);
    QCOMPARE(account->id(), r.id);
    QCOMPARE(account->isChecked(), r.checked);
    QCOMPARE(account->isDefault(), r.isDefault);
    QCOMPARE(int(account->type()), int(r.type));
}

} // namespace

class TestSipAccountStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SipAccount::registerMetaType();
    }
    // Removed by hand: a damaged file left by a test must not be parsed by QSettings.
    void init() { QFile::remove(Settings().fileName()); }
    void cleanup() { SipAccountManagerTestAccess::destroy(); }

    // Bytes written field by field here, stored through QSettings, come back as exactly these records.
    void handWrittenStoredList_loadsIntoRecords()
    {
        const QByteArray bytes = handWrittenList(kRecords);
        QDataStream in(bytes);
        in.setVersion(QDataStream::Qt_4_0);
        QVariant stored;
        in >> stored;
        QCOMPARE(in.status(), QDataStream::Ok);
        QVERIFY(in.atEnd());
        {
            QSettings settings = programSettings();
            settings.setValue(QStringLiteral("CustomerGroup/SipAccounts"), stored);
        }
        QVERIFY(TestSupport::readFile(Settings().fileName()).contains("SipAccounts=@Variant("));

        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        QCOMPARE(allIds(registry).size(), kRecords.size());
        compareAccount(registry->accountAt(0, SourceType::ClickToDial), kRecords.at(0));
        compareAccount(registry->accountAt(0, SourceType::MsOutlook), kRecords.at(1));
        compareAccount(registry->accountAt(0, SourceType::Thunderbird), kRecords.at(2));
        compareAccount(registry->accountAt(0, SourceType::AnyPlugin), kRecords.at(3));
    }

    // save() writes the same bytes in list order; a fresh registry loads all of it and saves it alike.
    void save_writesTheKnownBytes_andReloadsInOrder()
    {
        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        for (const Record& r : kRecords) {
            auto* account = new SipAccount(SourceType::Type(r.type), r.name, r.id, r.checked);
            account->setDefault(r.isDefault);
            registry->addSipAccount(account);
        }
        registry->save();
        QCOMPARE(storedBytes(), handWrittenList(kRecords));

        // Our own damage check finds the file sound (so Qt's reader is used).
        bool found = false;
        const auto parsed =
            StoredSipAccounts::parseIni(TestSupport::readFile(Settings().fileName()), QStringLiteral("CustomerGroup"),
                                        QStringLiteral("SipAccounts"), found);
        QVERIFY(found);
        QVERIFY2(parsed.complete, TestSupport::readFile(Settings().fileName()).constData());
        QCOMPARE(parsed.accounts.size(), kRecords.size());

        SipAccountManagerTestAccess::restart()->save();
        QCOMPARE(storedBytes(), handWrittenList(kRecords));
    }

    void damagedValue_neverCrashes_andKeepsWhatIsReadable_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QStringList>("expectedIds");
        const QByteArray good = handWrittenList({kRecords.at(0), kRecords.at(1), kRecords.at(2)});
        const auto entries = [](quint32 count, const QList<Record>& records, const QByteArray& tail) {
            QByteArray bytes;
            QDataStream out(&bytes, QIODevice::WriteOnly);
            out << quint32(9) << count;
            for (const Record& r : records)
                writeRecordEntry(out, r);
            out.writeRawData(tail.constData(), tail.size());
            return iniValue(bytes);
        };
        const QStringList first{QStringLiteral("201")};

        QTest::newRow("count claims two billion") << iniValue(handWrittenList({kRecords.at(0)}, 0x7fffffff)) << first;
        QTest::newRow("count claims 300 million") << iniValue(handWrittenList({kRecords.at(0)}, 300000000)) << first;
        QTest::newRow("cut inside the third record")
            << iniValue(good.left(good.size() - 3)) << QStringList{QStringLiteral("201"), QStringLiteral("202")};
        QTest::newRow("string length beyond the data")
            << entries(1, {},
                       QByteArray::fromHex("0000007f0000000b") + QByteArray("SipAccount\0", 11) +
                           QByteArray::fromHex("fffffff0"))
            << QStringList();
        QTest::newRow("type name length beyond the data")
            << entries(2, {kRecords.at(0)}, QByteArray::fromHex("0000007f7ffffff0")) << first;
        QTest::newRow("unknown source value")
            << entries(3,
                       {kRecords.at(0),
                        {QStringLiteral("Onbekend"), QStringLiteral("999"), true, false, 5000},
                        kRecords.at(2)},
                       QByteArray())
            << QStringList{QStringLiteral("201"), QStringLiteral("203")};
        QByteArray oddLength = good;
        oddLength[8 + 4 + 4 + 11 + 3] = 0x07; // odd byte length of the first name
        QTest::newRow("odd string length") << iniValue(oddLength) << QStringList();
        QTest::newRow("not a variant") << QByteArray("Kantoor") << QStringList();
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("variant of another type")
            << iniValue(QByteArray::fromHex("0000000a00000004004100420043")) << QStringList();
    }
    void damagedValue_neverCrashes_andKeepsWhatIsReadable()
    {
        QFETCH(QByteArray, value);
        QFETCH(QStringList, expectedIds);
        {
            QFile file(Settings().fileName());
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("[CustomerGroup]\nNumber=100234\nSipAccounts=" + value + "\n");
        }
        QCOMPARE(allIds(SipAccountManagerTestAccess::restart()), expectedIds);

        // The file is usable again for every reader and writer, and what could be read is stored soundly.
        Settings settings;
        QCOMPARE(settings.get(QStringLiteral("CustomerGroup"), QStringLiteral("Number")).toString(),
                 QStringLiteral("100234"));
        settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Id"), QStringLiteral("c2d"));
        QCOMPARE(allIds(SipAccountManagerTestAccess::restart()), expectedIds);
    }

    // Queries by source and check mark; removal takes the first record with the id, of any source,
    // and releases it once announced; a released record no longer reaches the registry.
    void registry_queriesRemovesAndReleases()
    {
        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        QSignalSpy changed(registry, &SipAccountManager::sipAccountsChanged);
        const auto add = [&](SourceType::Type type, const char* name, const char* id, bool checked) {
            auto* account = new SipAccount(type, QString::fromLatin1(name), QString::fromLatin1(id), checked);
            registry->addSipAccount(account);
            return account;
        };
        QPointer<SipAccount> outlook = add(SourceType::MsOutlook, "X", "1", true);
        QPointer<SipAccount> c2d = add(SourceType::ClickToDial, "A", "1", true);
        QPointer<SipAccount> other = add(SourceType::ClickToDial, "B", "2", false);
        SipAccount* last = add(SourceType::ClickToDial, "C", "3", true);
        registry->addSipAccount(c2d); // twice would leave a dangling entry once released
        QCOMPARE(changed.count(), 4);
        QCOMPARE(registry->accountsCount(SourceType::ClickToDial), 3);
        QCOMPARE(registry->accountAt(1, SourceType::ClickToDial), other.data());
        QVERIFY(!registry->accountAt(3, SourceType::ClickToDial));
        QVERIFY(!registry->accountAt(-1, SourceType::ClickToDial));
        QCOMPARE(registry->accounts(SourceType::ClickToDial, true), (QList<SipAccount*>{c2d, last}));
        QVERIFY(!programSettings().contains(QStringLiteral("CustomerGroup/SipAccounts")));

        registry->removeSipAccount(QStringLiteral("1"));
        QCOMPARE(changed.count(), 5);
        QCOMPARE(registry->accountsCount(SourceType::MsOutlook), 0);
        QCOMPARE(registry->accountsCount(SourceType::ClickToDial), 3);
        QVERIFY(outlook); // still usable until the event loop runs
        SipAccountManagerTestAccess::flushDeferredDeletes();
        QVERIFY(!outlook);

        SipAccount lookalike(SourceType::Thunderbird, QString(), QStringLiteral("1"), false);
        registry->removeSipAccount(&lookalike);
        QCOMPARE(changed.count(), 6);
        QCOMPARE(registry->accountsCount(SourceType::ClickToDial), 2);
        SipAccountManagerTestAccess::flushDeferredDeletes();
        QVERIFY(!c2d);
        registry->removeSipAccount(QStringLiteral("nope"));
        registry->removeSipAccount(&lookalike);
        QCOMPARE(changed.count(), 6);

        registry->removeSipAccount(other);
        QCOMPARE(changed.count(), 7);
        other->setChecked(true);
        QCOMPARE(changed.count(), 7);
        SipAccountManagerTestAccess::flushDeferredDeletes();
        QVERIFY(!other);

        // Without a service client (nothing started yet) a refresh changes nothing.
        registry->loadRemoteSipAccounts(SourceType::ClickToDial);
        QCOMPARE(registry->accountsCount(SourceType::ClickToDial), 1);
        QCOMPARE(changed.count(), 7);
    }
};

QTEST_GUILESS_MAIN(TestSipAccountStore)
#include "test_sipaccountstore.moc"
