#include "KarvelonApi.h"
#include "PbxSimulator.h"
#include "SipAccount.h"
#include "SipAccountManager.h"
#include "SipAccountsDialog.h"
#include "SipAccountsTestAccess.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

namespace {

const QString kPassword = QStringLiteral("dialoog-wachtwoord");

QJsonObject simulatorConfig()
{
    auto account = [](const QString& name, const QString& id) {
        return QJsonObject{{QStringLiteral("logname"), name}, {QStringLiteral("SIPusername"), id}};
    };
    auto customer = [&](const QString& number, const QJsonArray& accounts) {
        return QJsonObject{{QStringLiteral("number"), number},
                           {QStringLiteral("password"), kPassword},
                           {QStringLiteral("sipAccounts"), accounts}};
    };
    return QJsonObject{
        {QStringLiteral("customers"),
         QJsonArray{customer(QStringLiteral("2001"), {account(QStringLiteral("A"), QStringLiteral("1")),
                                                      account(QStringLiteral("B"), QStringLiteral("2")),
                                                      account(QStringLiteral("C"), QStringLiteral("3"))}),
                    customer(QStringLiteral("2002"), {})}},
        {QStringLiteral("apis"),
         QJsonArray{QJsonObject{{QStringLiteral("apiID"), QStringLiteral("c2d")},
                                {QStringLiteral("key"), QStringLiteral("c2d-sleutel")},
                                {QStringLiteral("options"), QString()}},
                    QJsonObject{{QStringLiteral("apiID"), QStringLiteral("outlook")},
                                {QStringLiteral("key"), QStringLiteral("outlook-sleutel")},
                                {QStringLiteral("options"), QStringLiteral("msoutlook")}}}},
        {QStringLiteral("notificationLogins"), QJsonArray()},
        {QStringLiteral("incomingCallEverySeconds"), 0}};
}

QStringList comboTexts(QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

QVariant storedDefault(const QString& group)
{
    return Settings().get(group, QStringLiteral("DefaultSip"));
}

} // namespace

class TestSipAccountsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
        QVERIFY2(m_sim.start(simulatorConfig()), m_sim.output().constData());
        m_api = new KarvelonApi();
        KarvelonApi::ServiceUrls urls = m_api->serviceUrls();
        urls.apiBaseUrl = m_sim.apiBaseUrl();
        m_api->setServiceUrlsForTesting(urls);
    }

    void cleanupTestCase()
    {
        SipAccountManagerTestAccess::destroy();
        delete m_api;
    }

    // A stored list A, B, C (only A and C checked) that the service lists too.
    void init()
    {
        QFile::remove(Settings().fileName());
        Settings settings;
        settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("2001"));
        settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), kPassword);
        settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Id"), QStringLiteral("c2d"));
        settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Key"), QStringLiteral("c2d-sleutel"));
        settings.set(QStringLiteral("OutlookPlugin"), QStringLiteral("Id"), QStringLiteral("outlook"));
        settings.set(QStringLiteral("OutlookPlugin"), QStringLiteral("Key"), QStringLiteral("outlook-sleutel"));
        settings.set(QStringLiteral("ClickToDial"), QStringLiteral("DefaultSip"), QStringLiteral("3"));
        m_registry = SipAccountManagerTestAccess::restart();
        for (SourceType::Type type : {SourceType::ClickToDial, SourceType::AnyPlugin}) {
            m_registry->addSipAccount(new SipAccount(type, QStringLiteral("A"), QStringLiteral("1"), true));
            m_registry->addSipAccount(new SipAccount(type, QStringLiteral("B"), QStringLiteral("2"), false));
            m_registry->addSipAccount(new SipAccount(type, QStringLiteral("C"), QStringLiteral("3"), true));
        }
        m_registry->save();
    }

    void form_isBuiltAsDesigned()
    {
        SipAccountsDialog dialog(SourceType::ClickToDial, nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("SIP Accounts"));
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("btnSave"))->text(), QStringLiteral("Opslaan"));
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("btnCancel"))->text(), QStringLiteral("Annuleren"));
        QVERIFY(!dialog.findChild<QComboBox*>(QStringLiteral("cmbDefaultSip"))->isEditable());
        QAbstractItemModel* model = dialog.findChild<QTableView*>(QStringLiteral("tableView"))->model();
        QVERIFY(model);
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(model->columnCount(), 2);
        QCOMPARE(model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString());
        QCOMPARE(model->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Naam"));
        QVERIFY(!model->headerData(0, Qt::Vertical, Qt::DisplayRole).isValid());
        QCOMPARE(model->index(2, 1).data(Qt::UserRole).toString(), QStringLiteral("3"));
        QVERIFY(!model->index(0, 0).data(Qt::DisplayRole).isValid());
        QVERIFY(model->flags(model->index(0, 0)) & Qt::ItemIsUserCheckable);
        QVERIFY(!(model->flags(model->index(0, 1)) & Qt::ItemIsUserCheckable));
        QVERIFY(!(model->flags(model->index(0, 1)) & Qt::ItemIsEditable));
    }

    void checkedAccounts_fillTheDefaultList_withTheSavedDefaultCurrent()
    {
        SipAccountsDialog dialog(SourceType::ClickToDial, nullptr);
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("cmbDefaultSip"));
        QCOMPARE(comboTexts(combo), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
        QCOMPARE(combo->currentText(), QStringLiteral("C"));
        QCOMPARE(combo->currentData().toString(), QStringLiteral("3"));
    }

    // Unchecked with the keyboard in the table, as a user would.
    void uncheckingTheDefault_makesTheFirstCheckedCurrent()
    {
        SipAccountsDialog dialog(SourceType::ClickToDial, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* table = dialog.findChild<QTableView*>(QStringLiteral("tableView"));
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("cmbDefaultSip"));
        table->setFocus();
        table->setCurrentIndex(table->model()->index(2, 0));
        QTest::keyClick(table, Qt::Key_Space);

        QTRY_COMPARE(comboTexts(combo), QStringList{QStringLiteral("A")});
        QCOMPARE(combo->currentText(), QStringLiteral("A"));
        QVERIFY(!m_registry->accountAt(2, SourceType::ClickToDial)->isChecked());

        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnSave")), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(storedDefault(QStringLiteral("ClickToDial")).toString(), QStringLiteral("1"));
    }

    // "Annuleren" stores no default, but a check change is already stored.
    void cancel_keepsCheckChanges_andTheSavedDefault()
    {
        {
            SipAccountsDialog dialog(SourceType::ClickToDial, nullptr);
            QAbstractItemModel* model = dialog.findChild<QTableView*>(QStringLiteral("tableView"))->model();
            QVERIFY(model->setData(model->index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
            QVERIFY(!model->setData(model->index(0, 1), QStringLiteral("x"), Qt::EditRole));
            QVERIFY(!model->setData(model->index(7, 0), Qt::Checked, Qt::CheckStateRole));
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        QCOMPARE(storedDefault(QStringLiteral("ClickToDial")).toString(), QStringLiteral("3"));
        QVERIFY(!m_registry->accountAt(0, SourceType::ClickToDial)->isChecked());
        SipAccountManager* restarted = SipAccountManagerTestAccess::restart();
        m_registry = restarted;
        QVERIFY(!restarted->accountAt(0, SourceType::ClickToDial)->isChecked());
        QVERIFY(restarted->accountAt(2, SourceType::ClickToDial)->isChecked());
    }

    // With nothing checked the list is empty and "Opslaan" stores an empty default.
    void saveWithEmptyList_storesEmptyDefault()
    {
        m_registry->accountAt(0, SourceType::ClickToDial)->setChecked(false);
        m_registry->accountAt(2, SourceType::ClickToDial)->setChecked(false);
        SipAccountsDialog dialog(SourceType::ClickToDial, nullptr);
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("cmbDefaultSip"));
        QCOMPARE(combo->count(), 0);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnSave")), Qt::LeftButton);
        const QVariant stored = storedDefault(QStringLiteral("ClickToDial"));
        QVERIFY(stored.isValid());
        QCOMPARE(stored.toString(), QString());
    }

    // A source without a settings group keeps its default under the empty group.
    void sourceWithoutGroup_usesTheEmptyGroup()
    {
        Settings().set(QString(), QStringLiteral("DefaultSip"), QStringLiteral("1"));
        SipAccountsDialog dialog(SourceType::AnyPlugin, nullptr);
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("cmbDefaultSip"));
        QCOMPARE(comboTexts(combo), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
        QCOMPARE(combo->currentText(), QStringLiteral("A"));
        combo->setCurrentIndex(1);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnSave")), Qt::LeftButton);
        QCOMPARE(storedDefault(QString()).toString(), QStringLiteral("3"));
        QCOMPARE(storedDefault(QStringLiteral("ClickToDial")).toString(), QStringLiteral("3"));
    }

    // Opening the dialog refreshes from the service; a source the service has
    // no accounts for shows an empty table, and the rows it had are released
    // without the open view ever touching them.
    void refreshWhileOpen_followsTheRegistry()
    {
        SipAccountsDialog dialog(SourceType::ClickToDial, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* table = dialog.findChild<QTableView*>(QStringLiteral("tableView"));
        auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("cmbDefaultSip"));

        m_registry->addSipAccount(new SipAccount(SourceType::ClickToDial, QStringLiteral("D"), QStringLiteral("4"), true));
        QCOMPARE(table->model()->rowCount(), 4);
        QCOMPARE(comboTexts(combo), (QStringList{QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("D")}));
        QCOMPARE(combo->currentText(), QStringLiteral("C"));

        Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("2002"));
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);
        QCOMPARE(table->model()->rowCount(), 0);
        QCOMPARE(combo->count(), 0);
        table->viewport()->repaint();
        AccountsTest::flushDeferredDeletes();
        table->viewport()->repaint();
        QCOMPARE(m_registry->accountsCount(SourceType::AnyPlugin), 3);
    }

    // A failed refresh leaves the stored list in the dialog.
    void failedRefresh_showsTheStoredAccounts()
    {
        QVERIFY(m_sim.setBehaviour(QJsonObject{{QStringLiteral("status"), 500}}));
        SipAccountsDialog dialog(SourceType::ClickToDial, nullptr);
        QVERIFY(m_sim.setBehaviour(QJsonObject()));
        QCOMPARE(dialog.findChild<QTableView*>(QStringLiteral("tableView"))->model()->rowCount(), 3);
        QCOMPARE(comboTexts(dialog.findChild<QComboBox*>(QStringLiteral("cmbDefaultSip"))),
                 (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
    }

private:
    PbxSimulator m_sim;
    KarvelonApi* m_api = nullptr;
    SipAccountManager* m_registry = nullptr;
};

QTEST_MAIN(TestSipAccountsDialog)
#include "test_sipaccountsdialog.moc"
