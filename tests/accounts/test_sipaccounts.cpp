#include "KarvelonApi.h"
#include "PbxSimulator.h"
#include "SecretStore.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SipAccount.h"
#include "SipAccountManager.h"
#include "SipAccountsDialog.h"
#include "SipAccountsModel.h"
#include "TestSupport.h"

#include <QDataStream>
#include <QPushButton>
#include <QtTest>

namespace {
using namespace SettingsKeys;

struct Record { QString name, id; bool checked, isDefault; qint32 type; };
const QList<Record> kRecords = {{"Kantoor", "201", true, false, 0},
                                {"Receptie \u00e9\u20ac", "202", false, true, 1024},
                                {QString(), "203", true, true, 1026},
                                {"Plug-ins", "201", false, false, 1}};

// A QVariantList of SipAccount values as QSettings streams it (Qt 4.0), by hand: list type 9, count; per entry user
// type 127, type name, name and id (byte length, UTF-16BE; null: 0xffffffff), checked, default, source.
QByteArray handWritten(const QList<Record>& records, quint32 count, const QByteArray& tail = QByteArray())
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint32(9) << count;
    for (const Record& r : records) {
        out << quint32(127) << quint32(11);
        out.writeRawData("SipAccount\0", 11);
        for (const QString& text : {r.name, r.id}) {
            out << (text.isNull() ? quint32(0xffffffff) : quint32(text.size() * 2));
            for (const QChar ch : text)
                out << ch.unicode();
        }
        out << quint8(r.checked) << quint8(r.isDefault) << r.type;
    }
    out.writeRawData(tail.constData(), tail.size());
    return bytes;
}

// Every byte as a \x escape, which the INI reader of QSettings takes back as is.
QByteArray iniValue(const QByteArray& bytes)
{
    QByteArray text = "\"@Variant(";
    for (const char byte : bytes)
        text += "\\x" + QByteArray::number(uchar(byte), 16);
    return text + ")\"";
}

QString describe(const Record& r)
{
    return QStringLiteral("%1:%2:%3%4:%5").arg(r.name, r.id, r.checked ? "v" : "", r.isDefault ? "d" : "").arg(r.type);
}

// A fresh registry over the file, as after a restart: per source "name:id:flags:source", v checked, d default.
QStringList restartAndDescribe()
{
    delete SipAccountManager::instance();
    QStringList result;
    for (int type : {0, 1, 1024, 1026})
        for (SipAccount* a : SipAccountManager::instance()->accounts(SourceType::Type(type), false))
            result << describe({a->displayName(), a->id(), a->isChecked(), a->isDefault(), type});
    return result;
}

void writeStored(const QByteArray& value)
{
    QFile file(Settings().fileName());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[CustomerGroup]\nNumber=100234\nPassword=demo-wachtwoord\nSipAccounts=" + value +
               "\n[ClickToDial]\nId=c2d-demo\nKey=c2d-demo-sleutel-7f3a\n");
}
// Stored: "Oude naam" 201 (checked, default), "Weg" 901 (checked) of click-to-dial, "Outlook" 902 of Outlook.
const QByteArray kOwnAccounts = iniValue(handWritten(
    {{"Oude naam", "201", true, true, 0}, {"Weg", "901", true, false, 0}, {"Outlook", "902", true, false, 1024}}, 3));
} // namespace

class TestSipAccounts : public QObject
{
    Q_OBJECT

    PbxSimulator m_sim;
    SecretStore m_secrets{ServiceConfig()};
    std::unique_ptr<KarvelonApi> m_api;

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        Settings().set(kCustomerGroup, kNumber, "100234"); // makes the directory
        writeStored(kOwnAccounts);                          // the password and key, which the store reads once
        m_secrets.load();
        QTRY_VERIFY(m_secrets.isLoaded());
        QVERIFY2(m_sim.start(), m_sim.output().constData());
        ServiceConfig config = m_sim.config();
        config.requestTimeoutMsecs = 1500;
        m_api.reset(new KarvelonApi(config, &m_secrets));
    }

    // Bytes written field by field load into exactly these records; save() writes the same bytes back.
    void storedList_isTheKnownByteTable()
    {
        writeStored(iniValue(handWritten(kRecords, 4)));
        QCOMPARE(restartAndDescribe(), (QStringList{describe(kRecords[0]), describe(kRecords[3]), describe(kRecords[1]),
                                                    describe(kRecords[2])}));
        Settings().set(kCustomerGroup, kSipAccounts, QVariant()); // so that save() must write it
        SipAccountManager::instance()->save();
        QByteArray written;
        QDataStream out(&written, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_4_0);
        out << QSettings(Settings().fileName(), QSettings::IniFormat).value("CustomerGroup/SipAccounts");
        QCOMPARE(written, handWritten(kRecords, 4));
    }

    // A damaged value never crashes; the records before the damage are kept, and the file works again.
    void damagedValue_keepsWhatIsReadable()
    {
        const QByteArray good = handWritten(kRecords.mid(0, 3), 3);
        const QByteArray entryHead = QByteArray::fromHex("0000007f0000000b") + QByteArray("SipAccount\0", 11);
        const Record unknown{"X", "9", true, false, 5000};
        const struct { QByteArray value; int kept; } table[] = {
            {handWritten(kRecords.mid(0, 1), 0x7fffffff), 1}, // the count claims two billion
            {good.left(good.size() - 3), 2},                  // cut inside the third record
            {handWritten({}, 1, entryHead + "\xff\xff\xff\xf0"), 0}, // a string beyond the data
            {handWritten({kRecords[0], unknown, kRecords[1]}, 3), 2}};  // an unknown source
        for (const auto& row : table) {
            writeStored(iniValue(row.value));
            const QStringList expected = QStringList{describe(kRecords[0]), describe(kRecords[1])}.mid(0, row.kept);
            QCOMPARE(restartAndDescribe(), expected);
            QCOMPARE(Settings().get(kCustomerGroup, kNumber).toString(), "100234");
            Settings().set(kClickToDialGroup, kDefaultSip, "201");
            QCOMPARE(restartAndDescribe(), expected);
        }
    }

    // Only a real answer replaces the stored accounts (renaming kept ids with their marks, new ids unchecked, gone ones
    // dropped, other sources' kept); after a failed request all stay. The check column can be ticked; all is stored.
    void refresh()
    {
        const QStringList own{"Oude naam:201:vd:0", "Weg:901:v:0", "Outlook:902:v:1024"};
        const QStringList merged{"Kantoor:201:vd:0", "Receptie:202:v:0", "Thuiswerkplek:203::0", "Outlook:902:v:1024"};
        const struct { QJsonObject behaviour; QStringList stored; } table[] = {
            {{}, merged}, {{{"status", 500}}, own}, {{{"delayMs", 5000}}, own}, {{{"close", true}}, own}};
        auto resetBehaviour = qScopeGuard([this] { m_sim.setBehaviour(QJsonObject()); });
        for (const auto& row : table) {
            writeStored(kOwnAccounts);
            restartAndDescribe();
            QVERIFY(m_sim.setBehaviour(row.behaviour));
            SipAccountManager* registry = SipAccountManager::instance(); // wired as the program wires it
            connect(registry, &SipAccountManager::refreshRequested, m_api.get(), &KarvelonApi::fetchSipAccounts);
            connect(m_api.get(), &KarvelonApi::sipAccountsFetched, registry, &SipAccountManager::onSipAccountsFetched);
            QSignalSpy fetched(m_api.get(), &KarvelonApi::sipAccountsFetched);
            SipAccountsModel model(SourceType::ClickToDial, nullptr); // asks the service; what is stored shows meanwhile
            QCOMPARE(model.rowCount(), 2);
            QVERIFY(fetched.wait(5000));
            QVERIFY(model.flags(model.index(1, 0)) & Qt::ItemIsUserCheckable);
            QVERIFY(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
            QCOMPARE(restartAndDescribe(), row.stored);
        }
    }

    // Which account a call uses, which one a window preselects, when a choice is offered and what the SIP account
    // dialog stores as the default: one rule, per source.
    void accountRules()
    {
        const struct { const char* accounts; const char* stored; int source; const char* preferred, *expected; } table[] = {
            // accounts (C click-to-dial, O Outlook, T Thunderbird; + checked); the source's stored default; the
            // source; what a window would like. Expected: the account of a call without a choice, of one with "x";
            // preselected without and with the wish; whether a choice is offered; what the dialog then stores.
            {"C+201 C+202 C-203 O+301", "202", 0, "201", "202 x 202 201 yes 202"},
            {"C+201 C+202 C-203", "203", 0, "203", "203 x 201 201 yes 201"}, // the default is not checked
            {"C+201 C-203", "", 0, "203", " x 201 201 no 201"},              // no default stored
            {"C-201 O+301", "201", 0, "201", "201 x   no "},                 // nothing checked: nothing offered
            {"O+301 O+302 C+201", "302", 1024, "301", "302 x 302 301 yes 302"},
            {"T+401 C+201 C+202", "", 1026, "", " x 401 401 no 401"}};
        for (const auto& row : table) {
            Settings().set(kCustomerGroup, kSipAccounts, QVariant());
            delete SipAccountManager::instance();
            SipAccountManager* registry = SipAccountManager::instance();
            for (const QString& code : QString::fromLatin1(row.accounts).split(' ')) {
                const int type = code[0] == 'C' ? 0 : code[0] == 'O' ? 1024 : 1026;
                registry->addSipAccount(new SipAccount(SourceType::Type(type), code.mid(2), code.mid(2), code[1] == '+'));
            }
            const auto source = SourceType::Type(row.source);
            const QString group = SourceType::settingsGroup(source);
            Settings().set(group, kDefaultSip, QLatin1String(row.stored));
            QStringList got{SipAccountManager::accountForCall(source, QString()), SipAccountManager::accountForCall(source, "x"),
                            registry->preselectedAccountId(source), registry->preselectedAccountId(source, row.preferred),
                            registry->offersChoice(source) ? "yes" : "no"};
            SipAccountsDialog dialog(source, nullptr);
            QTest::mouseClick(dialog.findChild<QPushButton*>("btnSave"), Qt::LeftButton);
            got << Settings().get(group, kDefaultSip).toString();
            QCOMPARE(got.join(' '), QString::fromLatin1(row.expected));
        }
    }
};

QTEST_MAIN(TestSipAccounts)
#include "test_sipaccounts.moc"
