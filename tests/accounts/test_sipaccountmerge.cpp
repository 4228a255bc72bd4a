#include "KarvelonApi.h"
#include "PbxSimulator.h"
#include "Settings.h"
#include "SipAccount.h"
#include "SipAccountManager.h"
#include "SipAccountsDialog.h"
#include "SipAccountsTestAccess.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTcpServer>
#include <QtTest>

namespace {

const QString kPassword = QStringLiteral("merge-wachtwoord");

// One simulator for the whole run; each scenario is a customer of its own.
QJsonObject simulatorConfig()
{
    const auto customer = [](const char* number, const QList<QStringList>& accounts) {
        QJsonArray list;
        for (const QStringList& a : accounts) {
            QJsonObject account{{QStringLiteral("logname"), a.at(0)}, {QStringLiteral("SIPusername"), a.at(1)}};
            if (a.size() > 2)
                account.insert(QStringLiteral("key"), a.at(2));
            list.append(account);
        }
        return QJsonObject{{QStringLiteral("number"), QString::fromLatin1(number)},
                           {QStringLiteral("password"), kPassword},
                           {QStringLiteral("sipAccounts"), list}};
    };
    const auto api = [](const char* id, const char* key, const char* options) {
        return QJsonObject{{QStringLiteral("apiID"), QString::fromLatin1(id)},
                           {QStringLiteral("key"), QString::fromLatin1(key)},
                           {QStringLiteral("options"), QString::fromLatin1(options)}};
    };
    const QJsonArray customers{
        customer("1001", {{"Kantoor", "201"}, {"Receptie", "202"}}),
        // Keys 1 and 2: "Eerste" comes first, "Tweede" (same id) later.
        customer("1002", {{"Eerste", "301", "1"}, {"Tweede", "301", "2"}}),
        customer("1003", {}),
        customer("2001", {{"A", "1"}, {"B", "2"}, {"C", "3"}}),
    };
    return QJsonObject{{QStringLiteral("customers"), customers},
                       {QStringLiteral("apis"),
                        QJsonArray{api("c2d", "c2d-sleutel", ""), api("outlook", "outlook-sleutel", "msoutlook")}},
                       {QStringLiteral("notificationLogins"), QJsonArray()},
                       {QStringLiteral("incomingCallEverySeconds"), 0}};
}

void setCustomer(const QString& number, const QString& password = kPassword)
{
    Settings settings;
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), number);
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), password);
}

// "name:id:v" (checked) or "name:id:-", with "d" for the default, per record of the source in order.
QStringList describe(SipAccountManager* registry, SourceType::Type type)
{
    QStringList result;
    for (SipAccount* account : registry->accounts(type, false))
        result << QStringLiteral("%1:%2:%3%4")
                      .arg(account->displayName(), account->id(),
                           account->isChecked() ? QStringLiteral("v") : QStringLiteral("-"),
                           account->isDefault() ? QStringLiteral("d") : QString());
    return result;
}

QStringList comboTexts(const SipAccountsDialog& dialog)
{
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("cmbDefaultSip"));
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

void clickButton(const SipAccountsDialog& dialog, const char* name)
{
    QTest::mouseClick(dialog.findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
}

QString storedDefault(const QString& group)
{
    return Settings().get(group, QStringLiteral("DefaultSip")).toString();
}

} // namespace

// Merges of the service's list into the registry, against the simulator, and the dialog over it.
class TestSipAccountMerge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
        QVERIFY2(m_sim.start(simulatorConfig()), m_sim.output().constData());
        m_api = new KarvelonApi();
    }

    void cleanupTestCase()
    {
        SipAccountManagerTestAccess::destroy();
        delete m_api;
    }

    void init()
    {
        QFile::remove(Settings().fileName());
        QVERIFY(m_sim.setBehaviour(QJsonObject()));
        m_api->setServiceUrlsForTesting(urlsFor(m_sim.apiBaseUrl()));
        m_api->setRequestTimeoutForTesting(10000);
        Settings settings;
        settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Id"), QStringLiteral("c2d"));
        settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Key"), QStringLiteral("c2d-sleutel"));
        settings.set(QStringLiteral("OutlookPlugin"), QStringLiteral("Id"), QStringLiteral("outlook"));
        settings.set(QStringLiteral("OutlookPlugin"), QStringLiteral("Key"), QStringLiteral("outlook-sleutel"));
        setCustomer(QStringLiteral("1001"));
        m_registry = SipAccountManagerTestAccess::restart();
    }

    // A stored id listed again is only renamed: its marks stay; new ones come unchecked; all is stored.
    // Identity is (id, source): an id stored for another source is not matched.
    void rename_keepsFlags_andAddsNewOnesUnchecked()
    {
        SipAccount* kept = add(SourceType::ClickToDial, "Oude naam", "201", true, true);
        add(SourceType::MsOutlook, "Outlook-toestel", "202", true);
        QSignalSpy changed(m_registry, &SipAccountManager::sipAccountsChanged);
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);

        const QStringList expected{QStringLiteral("Kantoor:201:vd"), QStringLiteral("Receptie:202:-")};
        QCOMPARE(describe(m_registry, SourceType::ClickToDial), expected);
        QCOMPARE(m_registry->accountAt(0, SourceType::ClickToDial), kept);
        QCOMPARE(describe(m_registry, SourceType::MsOutlook), QStringList{QStringLiteral("Outlook-toestel:202:v")});
        QVERIFY(changed.count() >= 2);
        QCOMPARE(describe(SipAccountManagerTestAccess::restart(), SourceType::ClickToDial), expected);
    }

    void duplicateRemoteIds_giveOneRecordWithTheLaterName()
    {
        setCustomer(QStringLiteral("1002"));
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);
        QCOMPARE(describe(m_registry, SourceType::ClickToDial), QStringList{QStringLiteral("Tweede:301:-")});
    }

    // Stale records go, several in a row, other sources stay; no listener meets a dropped record,
    // which is released afterwards.
    void staleRecords_inARow_areRemovedAndReleased()
    {
        add(SourceType::ClickToDial, "Kantoor", "201", true);
        QPointer<SipAccount> stale1 = add(SourceType::ClickToDial, "Oud 1", "901", true);
        add(SourceType::MsOutlook, "Outlook", "902", true);
        QPointer<SipAccount> stale2 = add(SourceType::ClickToDial, "Oud 2", "902", false);
        QPointer<SipAccount> stale3 = add(SourceType::ClickToDial, "Oud 3", "903", true);
        add(SourceType::ClickToDial, "Receptie", "202", false);
        QStringList seenAfterLastChange;
        connect(m_registry, &SipAccountManager::sipAccountsChanged, this,
                [&] { seenAfterLastChange = describe(m_registry, SourceType::ClickToDial); });
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);

        const QStringList expected{QStringLiteral("Kantoor:201:v"), QStringLiteral("Receptie:202:-")};
        QCOMPARE(describe(m_registry, SourceType::ClickToDial), expected);
        QCOMPARE(seenAfterLastChange, expected);
        QCOMPARE(describe(m_registry, SourceType::MsOutlook), QStringList{QStringLiteral("Outlook:902:v")});
        SipAccountManagerTestAccess::flushDeferredDeletes();
        QVERIFY(!stale1 && !stale2 && !stale3);
        QCOMPARE(describe(SipAccountManagerTestAccess::restart(), SourceType::ClickToDial), expected);
    }

    // Only a real answer replaces the stored accounts: a failed request keeps every record with
    // its marks, stores nothing and announces nothing.
    void failedRetrieval_keepsEverything_data()
    {
        QTest::addColumn<QJsonObject>("behaviour");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("unreachable");
        QTest::newRow("status 500") << QJsonObject{{QStringLiteral("status"), 500}} << kPassword << false;
        QTest::newRow("time-out") << QJsonObject{{QStringLiteral("delayMs"), 3000}} << kPassword << false;
        QTest::newRow("connection closed") << QJsonObject{{QStringLiteral("close"), true}} << kPassword << false;
        QTest::newRow("wrong password") << QJsonObject() << QStringLiteral("fout") << false;
        QTest::newRow("service unreachable") << QJsonObject() << kPassword << true;
    }
    void failedRetrieval_keepsEverything()
    {
        QFETCH(QJsonObject, behaviour);
        QFETCH(QString, password);
        QFETCH(bool, unreachable);
        add(SourceType::ClickToDial, "Eigen naam", "201", true, true);
        add(SourceType::ClickToDial, "Weg bij de dienst", "999", true);
        m_registry->save();
        setCustomer(QStringLiteral("1001"), password);
        QVERIFY(m_sim.setBehaviour(behaviour));
        m_api->setRequestTimeoutForTesting(500);
        if (unreachable) {
            // A port that was free a moment ago: nothing answers there.
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            const quint16 port = server.serverPort();
            server.close();
            m_api->setServiceUrlsForTesting(urlsFor(QStringLiteral("http://127.0.0.1:%1/api/").arg(port)));
        }
        const QByteArray storedAfterSetup = TestSupport::readFile(Settings().fileName());

        QSignalSpy changed(m_registry, &SipAccountManager::sipAccountsChanged);
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);
        QCOMPARE(changed.count(), 0);
        const QStringList expected{QStringLiteral("Eigen naam:201:vd"), QStringLiteral("Weg bij de dienst:999:v")};
        QCOMPARE(describe(m_registry, SourceType::ClickToDial), expected);
        QCOMPARE(TestSupport::readFile(Settings().fileName()), storedAfterSetup);
        QCOMPARE(describe(SipAccountManagerTestAccess::restart(), SourceType::ClickToDial), expected);
    }

    // The start-up order: the plug-ins' list (with Outlook's credentials), then click-to-dial's.
    void startupMerges_fillEachSource()
    {
        m_registry->loadRemoteSipAccounts(SourceType::AnyPlugin);
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);
        const QStringList expected{QStringLiteral("Kantoor:201:-"), QStringLiteral("Receptie:202:-")};
        QCOMPARE(describe(m_registry, SourceType::AnyPlugin), expected);
        QCOMPARE(describe(m_registry, SourceType::ClickToDial), expected);
    }

    // Headless: A and C checked, C the saved default; unchecking C with the keyboard makes A current.
    void dialog_uncheckingTheDefault_makesTheFirstCheckedCurrent()
    {
        setUpDialogAccounts();
        SipAccountsDialog dialog(SourceType::ClickToDial, nullptr);
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("cmbDefaultSip"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("SIP Accounts"));
        QCOMPARE(comboTexts(dialog), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
        QCOMPARE(combo->currentText(), QStringLiteral("C"));
        QCOMPARE(combo->currentData().toString(), QStringLiteral("3"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* table = dialog.findChild<QTableView*>(QStringLiteral("tableView"));
        table->setFocus();
        table->setCurrentIndex(table->model()->index(2, 0));
        QTest::keyClick(table, Qt::Key_Space);
        QTRY_COMPARE(comboTexts(dialog), QStringList{QStringLiteral("A")});
        QCOMPARE(combo->currentText(), QStringLiteral("A"));
        QVERIFY(!m_registry->accountAt(2, SourceType::ClickToDial)->isChecked());
        clickButton(dialog, "btnSave");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(storedDefault(QStringLiteral("ClickToDial")), QStringLiteral("1"));
    }

    // "Annuleren" stores no default, but a check change is already stored; only the check column edits.
    void dialog_cancel_keepsCheckChanges_andTheSavedDefault()
    {
        setUpDialogAccounts();
        {
            SipAccountsDialog dialog(SourceType::ClickToDial, nullptr);
            QAbstractItemModel* model = dialog.findChild<QTableView*>(QStringLiteral("tableView"))->model();
            QVERIFY(model->setData(model->index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
            QVERIFY(!model->setData(model->index(0, 1), QStringLiteral("x"), Qt::EditRole));
            QVERIFY(!model->setData(model->index(7, 0), Qt::Checked, Qt::CheckStateRole));
            clickButton(dialog, "btnCancel");
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        QCOMPARE(storedDefault(QStringLiteral("ClickToDial")), QStringLiteral("3"));
        QVERIFY(!m_registry->accountAt(0, SourceType::ClickToDial)->isChecked());
        m_registry = SipAccountManagerTestAccess::restart();
        QVERIFY(!m_registry->accountAt(0, SourceType::ClickToDial)->isChecked());
        QVERIFY(m_registry->accountAt(2, SourceType::ClickToDial)->isChecked());
    }

    // With nothing checked the list is empty and "Opslaan" stores an empty default.
    void dialog_saveWithEmptyList_storesEmptyDefault()
    {
        setUpDialogAccounts();
        m_registry->accountAt(0, SourceType::ClickToDial)->setChecked(false);
        m_registry->accountAt(2, SourceType::ClickToDial)->setChecked(false);
        SipAccountsDialog dialog(SourceType::ClickToDial, nullptr);
        QCOMPARE(comboTexts(dialog), QStringList());
        clickButton(dialog, "btnSave");
        const QVariant stored = Settings().get(QStringLiteral("ClickToDial"), QStringLiteral("DefaultSip"));
        QVERIFY(stored.isValid());
        QCOMPARE(stored.toString(), QString());
    }

    // A source without a settings group keeps its default under the empty group.
    void dialog_sourceWithoutGroup_usesTheEmptyGroup()
    {
        setUpDialogAccounts();
        Settings().set(QString(), QStringLiteral("DefaultSip"), QStringLiteral("1"));
        SipAccountsDialog dialog(SourceType::AnyPlugin, nullptr);
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("cmbDefaultSip"));
        QCOMPARE(comboTexts(dialog), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
        QCOMPARE(combo->currentText(), QStringLiteral("A"));
        combo->setCurrentIndex(1);
        clickButton(dialog, "btnSave");
        QCOMPARE(storedDefault(QString()), QStringLiteral("3"));
        QCOMPARE(storedDefault(QStringLiteral("ClickToDial")), QStringLiteral("3"));
    }

    // The open dialog follows the registry. An empty answer is an answer: the source's rows go
    // (stored, other sources stay) and are released without the view touching them (ASan would tell).
    void dialog_refreshWhileOpen_followsTheRegistry()
    {
        setUpDialogAccounts();
        {
            SipAccountsDialog dialog(SourceType::ClickToDial, nullptr);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            auto* table = dialog.findChild<QTableView*>(QStringLiteral("tableView"));
            add(SourceType::ClickToDial, "D", "4", true);
            QCOMPARE(table->model()->rowCount(), 4);
            QCOMPARE(comboTexts(dialog), (QStringList{QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("D")}));
            QCOMPARE(dialog.findChild<QComboBox*>(QStringLiteral("cmbDefaultSip"))->currentText(), QStringLiteral("C"));

            setCustomer(QStringLiteral("1003"));
            QSignalSpy changed(m_registry, &SipAccountManager::sipAccountsChanged);
            m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);
            QCOMPARE(changed.count(), 1);
            QCOMPARE(table->model()->rowCount(), 0);
            QCOMPARE(comboTexts(dialog), QStringList());
            table->viewport()->repaint();
            SipAccountManagerTestAccess::flushDeferredDeletes();
            table->viewport()->repaint();
            QCOMPARE(m_registry->accountsCount(SourceType::AnyPlugin), 3);
        }
        QCOMPARE(SipAccountManagerTestAccess::restart()->accountsCount(SourceType::ClickToDial), 0);
    }

private:
    KarvelonApi::ServiceUrls urlsFor(const QString& apiBaseUrl) const
    {
        KarvelonApi::ServiceUrls urls = m_api->serviceUrls();
        urls.apiBaseUrl = apiBaseUrl;
        urls.notifyUrl = m_sim.notifyUrl();
        return urls;
    }

    SipAccount* add(SourceType::Type type, const char* name, const char* id, bool checked, bool isDefault = false)
    {
        auto* account = new SipAccount(type, QString::fromUtf8(name), QString::fromLatin1(id), checked);
        account->setDefault(isDefault);
        m_registry->addSipAccount(account);
        return account;
    }

    // A stored list A, B, C (A and C checked) for click-to-dial and the plug-ins, which the service
    // lists too, with C the saved default of click-to-dial.
    void setUpDialogAccounts()
    {
        setCustomer(QStringLiteral("2001"));
        Settings().set(QStringLiteral("ClickToDial"), QStringLiteral("DefaultSip"), QStringLiteral("3"));
        for (SourceType::Type type : {SourceType::ClickToDial, SourceType::AnyPlugin}) {
            m_registry->addSipAccount(new SipAccount(type, QStringLiteral("A"), QStringLiteral("1"), true));
            m_registry->addSipAccount(new SipAccount(type, QStringLiteral("B"), QStringLiteral("2"), false));
            m_registry->addSipAccount(new SipAccount(type, QStringLiteral("C"), QStringLiteral("3"), true));
        }
        m_registry->save();
    }

    PbxSimulator m_sim;
    KarvelonApi* m_api = nullptr;
    SipAccountManager* m_registry = nullptr;
};

QTEST_MAIN(TestSipAccountMerge)
#include "test_sipaccountmerge.moc"
