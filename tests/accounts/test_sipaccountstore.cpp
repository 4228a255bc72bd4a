#include "SipAccount.h"
#include "SipAccountManager.h"
#include "SipAccountsTestAccess.h"
#include "Settings.h"
#include "StoredSipAccounts.h"
#include "TestSupport.h"

#include <QDataStream>
#include <QFile>
#include <QPointer>
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

// A QString as a Qt 4.0 stream holds it, written out by hand: byte length,
// then big-endian UTF-16 code units.
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
    out << quint32(127);                        // user type, in a Qt 4.0 variant stream
    out << quint32(11);                         // type name length with its terminating zero
    out.writeRawData("SipAccount\0", 11);
    writeString(out, r.name);
    writeString(out, r.id);
    out << quint8(r.checked ? 1 : 0) << quint8(r.isDefault ? 1 : 0);
    out << r.type;
}

// The variant stream of a QVariantList of "SipAccount" values, as QSettings
// writes it (stream version Qt 4.0, no null flag, list type id 9).
QByteArray handWrittenList(const QList<Record>& records, quint32 claimedCount = quint32(-1))
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint32(9);
    out << (claimedCount == quint32(-1) ? quint32(records.size()) : claimedCount);
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
    text += ")\"";
    return text;
}

void writeIniFile(const QByteArray& sipAccountsValue)
{
    const QString path = Settings().fileName();
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[CustomerGroup]\nNumber=100234\nSipAccounts=" + sipAccountsValue + "\n");
}

const QList<Record> kRecords = {
    {QStringLiteral("Kantoor"), QStringLiteral("201"), true, false, 0},
    {QStringLiteral("Receptie \u00e9\u20ac"), QStringLiteral("202"), false, true, 1024},
    {QString(), QStringLiteral("203"), true, true, 1026},
    {QStringLiteral("Plug-ins"), QStringLiteral("201"), false, false, 1},
};

void compareAccount(const SipAccount* account, const Record& r)
{
    QVERIFY(account);
    QCOMPARE(account->displayName(), r.name);
    QCOMPARE(account->id(), r.id);
    QCOMPARE(account->isChecked(), r.checked);
    QCOMPARE(account->isDefault(), r.isDefault);
    QCOMPARE(int(account->type()), int(r.type));
}

QList<SipAccount*> allAccounts(SipAccountManager* registry)
{
    QList<SipAccount*> all;
    for (SourceType::Type type : {SourceType::ClickToDial, SourceType::AnyPlugin, SourceType::MsOutlook,
                                  SourceType::AppleContacts, SourceType::Thunderbird})
        all += registry->accounts(type, false);
    return all;
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

    void freshUser_hasNoAccounts()
    {
        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        for (SourceType::Type type : {SourceType::ClickToDial, SourceType::AnyPlugin, SourceType::MsOutlook}) {
            QCOMPARE(registry->accountsCount(type), 0);
            QVERIFY(!registry->accountAt(0, type));
        }
    }

    void registerMetaType_isIdempotent_andStreamsValues()
    {
        SipAccount::registerMetaType();
        SipAccount::registerMetaType();
        QVERIFY(QMetaType::type("SipAccount") != QMetaType::UnknownType);
        QVariant value = QVariant::fromValue(SipAccount(SourceType::Thunderbird, QStringLiteral("A"),
                                                        QStringLiteral("7"), true));
        QByteArray bytes;
        {
            QDataStream out(&bytes, QIODevice::WriteOnly);
            out << value;
        }
        QDataStream in(bytes);
        QVariant back;
        in >> back;
        QCOMPARE(in.status(), QDataStream::Ok);
        const SipAccount account = back.value<SipAccount>();
        QCOMPARE(account.id(), QStringLiteral("7"));
        QCOMPARE(account.type(), SourceType::Thunderbird);
    }

    // Bytes written field by field here, stored through QSettings as the
    // program's settings store would, must come back as exactly these records.
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
            QSettings settings = AccountsTest::programSettings();
            settings.setValue(QStringLiteral("CustomerGroup/SipAccounts"), stored);
            settings.sync();
        }
        QVERIFY(TestSupport::readFile(Settings().fileName()).contains("SipAccounts=@Variant("));

        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        const QList<SipAccount*> all = allAccounts(registry);
        QCOMPARE(all.size(), kRecords.size());
        compareAccount(registry->accountAt(0, SourceType::ClickToDial), kRecords.at(0));
        compareAccount(registry->accountAt(0, SourceType::MsOutlook), kRecords.at(1));
        compareAccount(registry->accountAt(0, SourceType::Thunderbird), kRecords.at(2));
        compareAccount(registry->accountAt(0, SourceType::AnyPlugin), kRecords.at(3));
    }

    // save() writes the same bytes, in list order, and a fresh registry reads them.
    void save_writesTheKnownBytes_andReloadsInOrder()
    {
        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        for (const Record& r : kRecords) {
            auto* account = new SipAccount(SourceType::Type(r.type), r.name, r.id, r.checked);
            account->setDefault(r.isDefault);
            registry->addSipAccount(account);
        }
        registry->save();

        QVariant stored = AccountsTest::programSettings().value(QStringLiteral("CustomerGroup/SipAccounts"));
        QByteArray written;
        {
            QDataStream out(&written, QIODevice::WriteOnly);
            out.setVersion(QDataStream::Qt_4_0);
            out << stored;
        }
        QCOMPARE(written, handWrittenList(kRecords));

        // Our own reader agrees that the file is sound (so Qt's reader is used).
        bool found = false;
        const auto parsed = StoredSipAccounts::parseIni(TestSupport::readFile(Settings().fileName()),
                                                        QStringLiteral("CustomerGroup"),
                                                        QStringLiteral("SipAccounts"), found);
        QVERIFY(found);
        QVERIFY2(parsed.complete, TestSupport::readFile(Settings().fileName()).constData());
        QCOMPARE(parsed.accounts.size(), kRecords.size());

        registry = SipAccountManagerTestAccess::restart();
        QList<SipAccount*> order;
        // Insertion order across sources is kept: check it through a save of the reload.
        registry->save();
        QCOMPARE(AccountsTest::programSettings().value(QStringLiteral("CustomerGroup/SipAccounts")).toList().size(),
                 kRecords.size());
        const QVariantList reloaded =
            AccountsTest::programSettings().value(QStringLiteral("CustomerGroup/SipAccounts")).toList();
        for (int i = 0; i < kRecords.size(); ++i) {
            const SipAccount account = reloaded.at(i).value<SipAccount>();
            compareAccount(&account, kRecords.at(i));
        }
    }

    void damagedValue_neverCrashes_andKeepsWhatIsReadable_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QStringList>("expectedIds");

        const QList<Record> three = {kRecords.at(0), kRecords.at(1), kRecords.at(2)};
        const QByteArray good = handWrittenList(three);

        QTest::newRow("count claims two billion") << iniValue(handWrittenList({kRecords.at(0)}, 0x7fffffff))
                                                  << QStringList{QStringLiteral("201")};
        QTest::newRow("count claims 300 million") << iniValue(handWrittenList({kRecords.at(0)}, 300000000))
                                                   << QStringList{QStringLiteral("201")};
        QTest::newRow("cut inside the third record") << iniValue(good.left(good.size() - 3))
                                                     << QStringList{QStringLiteral("201"), QStringLiteral("202")};
        {
            QByteArray bytes;
            QDataStream out(&bytes, QIODevice::WriteOnly);
            out << quint32(9) << quint32(1) << quint32(127) << quint32(11);
            out.writeRawData("SipAccount\0", 11);
            out << quint32(0xfffffff0); // name length far beyond the data
            QTest::newRow("string length beyond the data") << iniValue(bytes) << QStringList();
        }
        {
            QByteArray bytes;
            QDataStream out(&bytes, QIODevice::WriteOnly);
            out << quint32(9) << quint32(2);
            writeRecordEntry(out, kRecords.at(0));
            out << quint32(127) << quint32(0x7ffffff0); // type name length beyond the data
            QTest::newRow("type name length beyond the data") << iniValue(bytes) << QStringList{QStringLiteral("201")};
        }
        {
            QByteArray bytes;
            QDataStream out(&bytes, QIODevice::WriteOnly);
            out << quint32(9) << quint32(3);
            writeRecordEntry(out, kRecords.at(0));
            writeRecordEntry(out, {QStringLiteral("Onbekend"), QStringLiteral("999"), true, false, 5000});
            writeRecordEntry(out, kRecords.at(2));
            QTest::newRow("unknown source value") << iniValue(bytes)
                                                  << QStringList{QStringLiteral("201"), QStringLiteral("203")};
        }
        {
            QByteArray bytes = good;
            bytes[8 + 4 + 4 + 11 + 3] = 0x07; // odd byte length of the first name
            QTest::newRow("odd string length") << iniValue(bytes) << QStringList();
        }
        QTest::newRow("not a variant") << QByteArray("Kantoor") << QStringList();
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("variant of another type")
            << iniValue(QByteArray::fromHex("0000000a00000004004100420043")) << QStringList();
    }

    void damagedValue_neverCrashes_andKeepsWhatIsReadable()
    {
        QFETCH(QByteArray, value);
        QFETCH(QStringList, expectedIds);
        writeIniFile(value);

        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        QStringList ids;
        for (SipAccount* account : allAccounts(registry))
            ids << account->id();
        ids.sort();
        QCOMPARE(ids, expectedIds);

        // The file is usable again for every reader and writer of settings,
        // and what could be read is stored soundly.
        Settings settings;
        QCOMPARE(settings.get(QStringLiteral("CustomerGroup"), QStringLiteral("Number")).toString(),
                 QStringLiteral("100234"));
        settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Id"), QStringLiteral("c2d"));
        registry = SipAccountManagerTestAccess::restart();
        ids.clear();
        for (SipAccount* account : allAccounts(registry))
            ids << account->id();
        ids.sort();
        QCOMPARE(ids, expectedIds);
    }

    void registry_queriesBySourceAndCheckMark()
    {
        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        QSignalSpy changed(registry, &SipAccountManager::sipAccountsChanged);
        registry->addSipAccount(new SipAccount(SourceType::ClickToDial, QStringLiteral("A"), QStringLiteral("1"), true));
        registry->addSipAccount(new SipAccount(SourceType::MsOutlook, QStringLiteral("X"), QStringLiteral("1"), true));
        registry->addSipAccount(new SipAccount(SourceType::ClickToDial, QStringLiteral("B"), QStringLiteral("2"), false));
        registry->addSipAccount(new SipAccount(SourceType::ClickToDial, QStringLiteral("C"), QStringLiteral("3"), true));
        QCOMPARE(changed.count(), 4);

        QCOMPARE(registry->accountsCount(SourceType::ClickToDial), 3);
        QCOMPARE(registry->accountAt(1, SourceType::ClickToDial)->displayName(), QStringLiteral("B"));
        QVERIFY(!registry->accountAt(3, SourceType::ClickToDial));
        QVERIFY(!registry->accountAt(-1, SourceType::ClickToDial));
        QStringList checked;
        for (SipAccount* account : registry->accounts(SourceType::ClickToDial, true))
            checked << account->displayName();
        QCOMPARE(checked, (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
        // Adding nothing is not stored: the store still has no value.
        QVERIFY(!AccountsTest::programSettings().contains(QStringLiteral("CustomerGroup/SipAccounts")));
    }

    // A change through a setter is stored at once and announced.
    void setter_savesAtOnce_andSignals()
    {
        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        registry->addSipAccount(new SipAccount(SourceType::ClickToDial, QStringLiteral("A"), QStringLiteral("1"), false));
        QSignalSpy changed(registry, &SipAccountManager::sipAccountsChanged);
        registry->accountAt(0, SourceType::ClickToDial)->setChecked(true);
        QCOMPARE(changed.count(), 1);
        registry->accountAt(0, SourceType::ClickToDial)->setChecked(true); // unchanged value still saves
        QCOMPARE(changed.count(), 2);

        registry = SipAccountManagerTestAccess::restart();
        QVERIFY(registry->accountAt(0, SourceType::ClickToDial)->isChecked());
    }

    // Removal takes the first record with the id, of any source, and releases
    // it once the change has been announced.
    void remove_takesFirstMatch_andReleasesTheRecord()
    {
        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        auto* outlook = new SipAccount(SourceType::MsOutlook, QStringLiteral("X"), QStringLiteral("1"), true);
        auto* c2d = new SipAccount(SourceType::ClickToDial, QStringLiteral("A"), QStringLiteral("1"), true);
        auto* other = new SipAccount(SourceType::ClickToDial, QStringLiteral("B"), QStringLiteral("2"), true);
        registry->addSipAccount(outlook);
        registry->addSipAccount(c2d);
        registry->addSipAccount(other);
        QPointer<SipAccount> watchOutlook(outlook), watchC2d(c2d), watchOther(other);

        QSignalSpy changed(registry, &SipAccountManager::sipAccountsChanged);
        registry->removeSipAccount(QStringLiteral("1"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(registry->accountsCount(SourceType::MsOutlook), 0);
        QCOMPARE(registry->accountsCount(SourceType::ClickToDial), 2);
        QVERIFY(watchOutlook); // still usable until the event loop runs
        AccountsTest::flushDeferredDeletes();
        QVERIFY(!watchOutlook);

        // By a record that only shares the id.
        SipAccount lookalike(SourceType::Thunderbird, QString(), QStringLiteral("1"), false);
        registry->removeSipAccount(&lookalike);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(registry->accountsCount(SourceType::ClickToDial), 1);
        AccountsTest::flushDeferredDeletes();
        QVERIFY(!watchC2d);

        registry->removeSipAccount(QStringLiteral("nope"));
        registry->removeSipAccount(&lookalike);
        QCOMPARE(changed.count(), 2);

        // A released record no longer reaches the registry.
        registry->removeSipAccount(other);
        QCOMPARE(changed.count(), 3);
        other->setChecked(false);
        QCOMPARE(changed.count(), 3);
        AccountsTest::flushDeferredDeletes();
        QVERIFY(!watchOther);
    }

    void addingTheSameRecordTwice_keepsOneEntry()
    {
        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        auto* account = new SipAccount(SourceType::ClickToDial, QStringLiteral("A"), QStringLiteral("1"), true);
        registry->addSipAccount(account);
        registry->addSipAccount(account);
        QCOMPARE(registry->accountsCount(SourceType::ClickToDial), 1);
    }

    // Without a service client (nothing started yet) a refresh changes nothing.
    void remoteLoad_withoutServiceClient_keepsEverything()
    {
        SipAccountManager* registry = SipAccountManagerTestAccess::restart();
        registry->addSipAccount(new SipAccount(SourceType::ClickToDial, QStringLiteral("A"), QStringLiteral("1"), true));
        QSignalSpy changed(registry, &SipAccountManager::sipAccountsChanged);
        registry->loadRemoteSipAccounts(SourceType::ClickToDial);
        QCOMPARE(registry->accountsCount(SourceType::ClickToDial), 1);
        QCOMPARE(changed.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSipAccountStore)
#include "test_sipaccountstore.moc"
