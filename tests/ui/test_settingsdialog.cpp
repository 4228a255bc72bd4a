#include "KarvelonApi.h"
#include "Logger.h"
#include "MessageBox.h"
#include "PbxSimulator.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "SipAccountsDialog.h"
#include "TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include <thread>

// Stands in for the client's start and stop, which the dialog reaches by name.
class RecordingApi : public KarvelonApi
{
    Q_OBJECT

public:
    int starts = 0;
    int stops = 0;

public slots:
    bool startNotificationSocket()
    {
        ++starts;
        return true;
    }
    bool stopNotificationSocket()
    {
        ++stops;
        return true;
    }
};

namespace {

const QString s_title = QStringLiteral("Karvelon - Instellingen");
const QString s_dirtyTitle = s_title + QStringLiteral(" *");

const QStringList s_lineEdits{
    QStringLiteral("txtCustomerNumber"),        QStringLiteral("txtCustomerPassword"),
    QStringLiteral("txtNotifyUsername"),        QStringLiteral("txtNotifyPassword"),
    QStringLiteral("txtOutlookPluginId"),       QStringLiteral("txtOutlookPluginKey"),
    QStringLiteral("txtAppleContactsPluginId"), QStringLiteral("txtAppleContactsPluginKey"),
    QStringLiteral("txtThunderbirdPluginId"),   QStringLiteral("txtThunderbirdPluginKey"),
    QStringLiteral("txtClickToDialId"),         QStringLiteral("txtClickToDialKey"),
};

template <typename T> T* child(QWidget& dialog, const QString& name)
{
    T* widget = dialog.findChild<T*>(name);
    if (!widget)
        qWarning("no widget %s", qPrintable(name));
    return widget;
}

QVariant stored(const QString& group, const QString& key)
{
    return Settings().get(group, key);
}

QString settingsFile()
{
    return Settings().fileName();
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void form_textsTabsAndFields();
    void openAndClose_withoutEdits_writesNothing_data();
    void openAndClose_withoutEdits_writesNothing();
    void load_fillsEveryFieldWithoutMarkingDirty();
    void firstEdit_marksTitleOnce_saveClearsIt_data();
    void firstEdit_marksTitleOnce_saveClearsIt();
    void save_writesTrimmedValuesInOrder();
    void cancelWhileDirty_asksToSave_data();
    void cancelWhileDirty_asksToSave();
    void manageSipAccounts_whileDirty_data();
    void manageSipAccounts_whileDirty();
    void manageSipAccounts_opensDialogForItsSource_data();
    void manageSipAccounts_opensDialogForItsSource();
    void activateTab_selectsOnlyShownTabs_data();
    void activateTab_selectsOnlyShownTabs();
    void socketState_followsChannelSignal();
    void connectButton_asksClientByName();

private:
    PbxSimulator m_sim;
    RecordingApi* m_api = nullptr;
};

void TestSettingsDialog::initTestCase()
{
    TestSupport::setApplicationIdentity();
    QVERIFY2(!TestSupport::testHome().isEmpty(), "run through the test wrapper");
    QVERIFY2(m_sim.start(), m_sim.output().constData());
    m_api = new RecordingApi;
    QCOMPARE(KarvelonApi::instance(), m_api);
    KarvelonApi::ServiceUrls urls = m_api->serviceUrls();
    urls.apiBaseUrl = m_sim.apiBaseUrl();
    urls.notifyUrl = m_sim.notifyUrl();
    m_api->setServiceUrlsForTesting(urls);
    m_api->setRequestTimeoutForTesting(5000);
}

void TestSettingsDialog::cleanupTestCase()
{
    delete m_api;
    m_api = nullptr;
    m_sim.stop();
}

void TestSettingsDialog::init()
{
    QFile::remove(settingsFile());
    MessageBox::clearAnswers();
    m_api->starts = 0;
    m_api->stops = 0;
}

void TestSettingsDialog::cleanup()
{
    QCOMPARE(MessageBox::pendingAnswers(), 0);
    MessageBox::clearAnswers();
}

void TestSettingsDialog::form_textsTabsAndFields()
{
    SettingsDialog dialog(m_api);
    QCOMPARE(dialog.windowTitle(), s_title);
    QCOMPARE(child<QLabel>(dialog, QStringLiteral("lblVersion"))->text(), QStringLiteral("Versie 2.0"));
    QCOMPARE(child<QPushButton>(dialog, QStringLiteral("btnSave"))->text(), QStringLiteral("&Opslaan"));
    QCOMPARE(child<QPushButton>(dialog, QStringLiteral("btnCancel"))->text(), QStringLiteral("Annuleren"));

    auto* tabs = child<QTabWidget>(dialog, QStringLiteral("tabWidget"));
    QStringList shown;
    QStringList names;
    for (int i = 0; i < tabs->count(); ++i) {
        shown << tabs->tabText(i);
        names << tabs->widget(i)->objectName();
    }
    QCOMPARE(shown, (QStringList{QStringLiteral("Algemeen"), QStringLiteral("Notificaties"),
                                 QStringLiteral("Thunderbird plugin"), QStringLiteral("Click-to-dial")}));
    QCOMPARE(names, (QStringList{QStringLiteral("tabCommon"), QStringLiteral("tabNotifications"),
                                 QStringLiteral("tabThunderbirdPlugin"), QStringLiteral("tabClickToDial")}));
    QCOMPARE(tabs->currentIndex(), 0);

    for (const QString& name : s_lineEdits) {
        auto* edit = child<QLineEdit>(dialog, name);
        QVERIFY(edit);
        const bool secret = name.endsWith(QLatin1String("Password")) || name.endsWith(QLatin1String("Key"));
        QCOMPARE(edit->echoMode(), secret ? QLineEdit::PasswordEchoOnEdit : QLineEdit::Normal);
    }

    auto* modifier = child<QComboBox>(dialog, QStringLiteral("cmbHotkey1"));
    auto* hotkey = child<QComboBox>(dialog, QStringLiteral("cmbHotkey2"));
    QStringList modifiers;
    for (int i = 0; i < modifier->count(); ++i)
        modifiers << modifier->itemText(i);
    QCOMPARE(modifiers, (QStringList{QString(), QStringLiteral("Control"), QStringLiteral("Alt")}));
    QStringList keys;
    for (int i = 0; i < hotkey->count(); ++i)
        keys << hotkey->itemText(i);
    QStringList expectedKeys{QString()};
    for (int f = 1; f <= 12; ++f)
        expectedKeys << QStringLiteral("F%1").arg(f);
    QCOMPARE(keys, expectedKeys);
    for (const char* name : {"lblHotkey", "lblHotkeyPlus", "cmbHotkey1", "cmbHotkey2"})
        QVERIFY(dialog.findChild<QWidget*>(QLatin1String(name))->isHidden());
    QVERIFY(!child<QLabel>(dialog, QStringLiteral("logo"))->isHidden());
    QVERIFY(!child<QLabel>(dialog, QStringLiteral("logo"))->pixmap(Qt::ReturnByValue).isNull());
}

void TestSettingsDialog::openAndClose_withoutEdits_writesNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("result");
    QTest::newRow("Annuleren") << QStringLiteral("btnCancel") << int(QDialog::Rejected);
    QTest::newRow("Opslaan") << QStringLiteral("btnSave") << int(QDialog::Accepted);
}

void TestSettingsDialog::openAndClose_withoutEdits_writesNothing()
{
    QFETCH(QString, button);
    QFETCH(int, result);
    Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("100234"));

    SettingsDialog dialog(m_api);
    dialog.show();
    // Anything written from here on would bring the file back.
    QVERIFY(QFile::remove(settingsFile()));
    QTest::mouseClick(child<QPushButton>(dialog, button), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), result);
    QCOMPARE(MessageBox::shownCount(), 0);
    QVERIFY(!dialog.settingsUpdated());
    QVERIFY(!QFile::exists(settingsFile()));
    QCOMPARE(dialog.windowTitle(), s_title);
}

void TestSettingsDialog::load_fillsEveryFieldWithoutMarkingDirty()
{
    {
        Settings settings;
        settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("n"));
        settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), QStringLiteral("p"));
        settings.set(QStringLiteral("Notifications"), QStringLiteral("Enabled"), true);
        settings.set(QStringLiteral("Notifications"), QStringLiteral("Username"), QStringLiteral("nu"));
        settings.set(QStringLiteral("Notifications"), QStringLiteral("Password"), QStringLiteral("np"));
        for (const QString& group : {QStringLiteral("OutlookPlugin"), QStringLiteral("AppleContactsPlugin"),
                                     QStringLiteral("ThunderbirdPlugin"), QStringLiteral("ClickToDial")}) {
            settings.set(group, QStringLiteral("Id"), group + QStringLiteral("-id"));
            settings.set(group, QStringLiteral("Key"), group + QStringLiteral("-key"));
        }
        settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Hotkey"), QStringLiteral("F5"));
    }
    SettingsDialog dialog(m_api);
    QCOMPARE(dialog.windowTitle(), s_title);
    QCOMPARE(child<QLineEdit>(dialog, QStringLiteral("txtCustomerNumber"))->text(), QStringLiteral("n"));
    QCOMPARE(child<QLineEdit>(dialog, QStringLiteral("txtCustomerPassword"))->text(), QStringLiteral("p"));
    QVERIFY(child<QCheckBox>(dialog, QStringLiteral("chkEnableNotify"))->isChecked());
    QCOMPARE(child<QLineEdit>(dialog, QStringLiteral("txtNotifyUsername"))->text(), QStringLiteral("nu"));
    QCOMPARE(child<QLineEdit>(dialog, QStringLiteral("txtNotifyPassword"))->text(), QStringLiteral("np"));
    // The fields of the removed tabs are still loaded.
    QCOMPARE(child<QLineEdit>(dialog, QStringLiteral("txtOutlookPluginId"))->text(),
             QStringLiteral("OutlookPlugin-id"));
    QCOMPARE(child<QLineEdit>(dialog, QStringLiteral("txtAppleContactsPluginKey"))->text(),
             QStringLiteral("AppleContactsPlugin-key"));
    QCOMPARE(child<QLineEdit>(dialog, QStringLiteral("txtThunderbirdPluginId"))->text(),
             QStringLiteral("ThunderbirdPlugin-id"));
    QCOMPARE(child<QLineEdit>(dialog, QStringLiteral("txtClickToDialKey"))->text(), QStringLiteral("ClickToDial-key"));
    // Hot keys are not loaded: they start empty.
    QCOMPARE(child<QComboBox>(dialog, QStringLiteral("cmbHotkey2"))->currentText(), QString());
}

void TestSettingsDialog::firstEdit_marksTitleOnce_saveClearsIt_data()
{
    QTest::addColumn<QString>("widget");
    for (const QString& name : s_lineEdits)
        QTest::newRow(qPrintable(name)) << name;
    QTest::newRow("chkEnableNotify") << QStringLiteral("chkEnableNotify");
    QTest::newRow("chkActivatePlugin") << QStringLiteral("chkActivatePlugin");
    QTest::newRow("cmbHotkey1") << QStringLiteral("cmbHotkey1");
    QTest::newRow("cmbHotkey2") << QStringLiteral("cmbHotkey2");
}

void TestSettingsDialog::firstEdit_marksTitleOnce_saveClearsIt()
{
    QFETCH(QString, widget);
    SettingsDialog dialog(m_api);
    const auto edit = [&](int round) {
        if (auto* line = dialog.findChild<QLineEdit*>(widget))
            QTest::keyClicks(line, QStringLiteral("ab"));
        else if (auto* check = dialog.findChild<QCheckBox*>(widget))
            check->setChecked(round % 2 == 0);
        else if (auto* combo = dialog.findChild<QComboBox*>(widget))
            combo->setCurrentIndex(round + 1);
    };
    edit(0);
    QCOMPARE(dialog.windowTitle(), s_dirtyTitle);
    edit(1);
    QTest::keyClicks(child<QLineEdit>(dialog, QStringLiteral("txtCustomerNumber")), QStringLiteral("1"));
    QCOMPARE(dialog.windowTitle(), s_dirtyTitle);

    QTest::mouseClick(child<QPushButton>(dialog, QStringLiteral("btnSave")), Qt::LeftButton);
    QCOMPARE(dialog.windowTitle(), s_title);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(dialog.settingsUpdated());
    QCOMPARE(MessageBox::shownCount(), 0);

    // Dirty again after the save, and the mark comes back exactly once.
    edit(2);
    QCOMPARE(dialog.windowTitle(), s_dirtyTitle);
}

void TestSettingsDialog::save_writesTrimmedValuesInOrder()
{
    SettingsDialog dialog(m_api);
    for (int i = 0; i < s_lineEdits.size(); ++i)
        child<QLineEdit>(dialog, s_lineEdits.at(i))->setText(QStringLiteral("  waarde %1\t ").arg(i));
    child<QCheckBox>(dialog, QStringLiteral("chkEnableNotify"))->setChecked(true);
    child<QComboBox>(dialog, QStringLiteral("cmbHotkey1"))->setCurrentText(QStringLiteral("Alt"));
    child<QComboBox>(dialog, QStringLiteral("cmbHotkey2"))->setCurrentText(QStringLiteral("F9"));

    const QStringList order{
        QStringLiteral("CustomerGroup/Number"),    QStringLiteral("CustomerGroup/Password"),
        QStringLiteral("Notifications/Enabled"),   QStringLiteral("Notifications/Username"),
        QStringLiteral("Notifications/Password"),  QStringLiteral("OutlookPlugin/Id"),
        QStringLiteral("OutlookPlugin/Key"),       QStringLiteral("AppleContactsPlugin/Id"),
        QStringLiteral("AppleContactsPlugin/Key"), QStringLiteral("ThunderbirdPlugin/Id"),
        QStringLiteral("ThunderbirdPlugin/Key"),   QStringLiteral("ClickToDial/Modifier"),
        QStringLiteral("ClickToDial/Hotkey"),      QStringLiteral("ClickToDial/Id"),
        QStringLiteral("ClickToDial/Key"),
    };
    // Which field goes where: index into s_lineEdits, or -1 for the switch and the hot keys.
    const QList<int> field{0, 1, -1, 2, 3, 4, 5, 6, 7, 8, 9, -1, -1, 10, 11};
    const QList<SettingsDialog::SettingValue> values = dialog.valuesToSave();
    QStringList keys;
    for (const auto& value : values)
        keys << value.group + QLatin1Char('/') + value.key;
    QCOMPARE(keys, order);

    QTest::mouseClick(child<QPushButton>(dialog, QStringLiteral("btnSave")), Qt::LeftButton);
    QVERIFY(dialog.settingsUpdated());
    for (int i = 0; i < order.size(); ++i) {
        const QStringList parts = order.at(i).split(QLatin1Char('/'));
        const QVariant value = stored(parts.at(0), parts.at(1));
        if (field.at(i) >= 0)
            QCOMPARE(value.toString(), QStringLiteral("waarde %1").arg(field.at(i)));
    }
    QCOMPARE(stored(QStringLiteral("Notifications"), QStringLiteral("Enabled")).toBool(), true);
    QCOMPARE(stored(QStringLiteral("ClickToDial"), QStringLiteral("Modifier")).toString(), QStringLiteral("Alt"));
    QCOMPARE(stored(QStringLiteral("ClickToDial"), QStringLiteral("Hotkey")).toString(), QStringLiteral("F9"));
    // The fields keep what was typed.
    QCOMPARE(child<QLineEdit>(dialog, s_lineEdits.at(0))->text(), QStringLiteral("  waarde 0\t "));

    bool logged = false;
    for (const QJsonObject& record : Logger::instance()->readLogRecords()) {
        logged = logged || (record.value(QStringLiteral("component")).toString() == QStringLiteral("Instellingen") &&
                            record.value(QStringLiteral("msg")).toString() ==
                                QStringLiteral("Instellingen zijn gewijzigd en opgeslagen.") &&
                            record.value(QStringLiteral("severity")).toInt() == Logger::Info);
    }
    QVERIFY(logged);
}

void TestSettingsDialog::cancelWhileDirty_asksToSave_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closeWindow");
    QTest::addColumn<bool>("staysOpen");
    QTest::addColumn<QString>("storedNumber");
    QTest::addColumn<int>("result");
    QTest::newRow("Yes") << int(QMessageBox::Yes) << false << false << QStringLiteral("200") << int(QDialog::Accepted);
    QTest::newRow("No") << int(QMessageBox::No) << false << false << QStringLiteral("100") << int(QDialog::Rejected);
    QTest::newRow("Cancel") << int(QMessageBox::Cancel) << false << true << QStringLiteral("100") << -1;
    QTest::newRow("close button, Cancel") << int(QMessageBox::Cancel) << true << true << QStringLiteral("100") << -1;
    QTest::newRow("close button, No") << int(QMessageBox::No) << true << false << QStringLiteral("100")
                                      << int(QDialog::Rejected);
}

void TestSettingsDialog::cancelWhileDirty_asksToSave()
{
    QFETCH(int, answer);
    QFETCH(bool, closeWindow);
    QFETCH(bool, staysOpen);
    QFETCH(QString, storedNumber);
    QFETCH(int, result);
    Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("100"));

    SettingsDialog dialog(m_api);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.setResult(-1);
    auto* number = child<QLineEdit>(dialog, QStringLiteral("txtCustomerNumber"));
    number->setText(QStringLiteral(" 200 "));

    MessageBox::setNextAnswer(QMessageBox::StandardButton(answer));
    if (closeWindow)
        dialog.close();
    else
        QTest::mouseClick(child<QPushButton>(dialog, QStringLiteral("btnCancel")), Qt::LeftButton);

    QCOMPARE(MessageBox::shownCount(), 1);
    QCOMPARE(MessageBox::lastShown().title, s_dirtyTitle);
    QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Wilt u de wijzigingen opslaan?"));
    QCOMPARE(dialog.isVisible(), staysOpen);
    QCOMPARE(dialog.result(), result);
    QCOMPARE(stored(QStringLiteral("CustomerGroup"), QStringLiteral("Number")).toString(), storedNumber);
    QCOMPARE(dialog.settingsUpdated(), answer == QMessageBox::Yes);
    QCOMPARE(dialog.windowTitle(), staysOpen ? s_dirtyTitle : (answer == QMessageBox::Yes ? s_title : s_dirtyTitle));
    QCOMPARE(number->text(), QStringLiteral(" 200 "));
}

void TestSettingsDialog::manageSipAccounts_whileDirty_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("Yes saves first") << int(QMessageBox::Yes);
    QTest::newRow("No saves nothing") << int(QMessageBox::No);
}

void TestSettingsDialog::manageSipAccounts_whileDirty()
{
    QFETCH(int, answer);
    const bool yes = answer == QMessageBox::Yes;
    QVERIFY(m_sim.reset());

    SettingsDialog dialog(m_api);
    dialog.show();
    // The demo customer of the simulator, typed but not yet stored.
    child<QLineEdit>(dialog, QStringLiteral("txtCustomerNumber"))->setText(QStringLiteral("100234"));
    child<QLineEdit>(dialog, QStringLiteral("txtCustomerPassword"))->setText(QStringLiteral("demo-wachtwoord"));
    child<QLineEdit>(dialog, QStringLiteral("txtClickToDialId"))->setText(QStringLiteral("c2d-demo "));
    child<QLineEdit>(dialog, QStringLiteral("txtClickToDialKey"))->setText(QStringLiteral("c2d-demo-sleutel-7f3a"));
    QCOMPARE(dialog.windowTitle(), s_dirtyTitle);

    // Close the account dialog as soon as it runs, noting what it got to work with.
    int sipDialogs = 0;
    int accountsOffered = -1;
    QString idWhenOpened;
    QTimer closer;
    closer.setInterval(20);
    connect(&closer, &QTimer::timeout, this, [&]() {
        auto* sip = qobject_cast<SipAccountsDialog*>(QApplication::activeModalWidget());
        if (!sip)
            return;
        ++sipDialogs;
        idWhenOpened = stored(QStringLiteral("ClickToDial"), QStringLiteral("Id")).toString();
        accountsOffered = sip->findChild<QTableView*>(QStringLiteral("tableView"))->model()->rowCount();
        sip->reject();
    });
    closer.start();

    MessageBox::setNextAnswer(QMessageBox::StandardButton(answer));
    QTest::mouseClick(child<QPushButton>(dialog, QStringLiteral("btnManageSipAccountsC2D")), Qt::LeftButton);
    closer.stop();

    QCOMPARE(sipDialogs, 1);
    QCOMPARE(MessageBox::shownCount(), 1);
    QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Onopgeslagen wijzigingen"));
    QCOMPARE(MessageBox::lastShown().text,
             QStringLiteral("Er zijn nog onopgeslagen wijzigingen. Indien de wijzigigen betrekking hebben op "
                            "inloggegevens van een van de ondersteunde extensies of click-to-dial functionaliteit "
                            "raden wij aan deze eerst op te slaan. Wilt u deze nu opslaan?"));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.settingsUpdated(), yes);
    QCOMPARE(dialog.windowTitle(), yes ? s_title : s_dirtyTitle);
    // Saved before the account dialog asked the service, so it asked with the new credentials.
    QCOMPARE(idWhenOpened, yes ? QStringLiteral("c2d-demo") : QString());
    const QJsonArray requests = m_sim.requests();
    if (yes) {
        QVERIFY(!requests.isEmpty());
        const QJsonObject last = requests.last().toObject();
        QCOMPARE(last.value(QStringLiteral("verdict")).toString(), QStringLiteral("ok"));
        QVERIFY(last.value(QStringLiteral("rawQuery")).toString().contains(QStringLiteral("apiID=c2d-demo")));
        QCOMPARE(accountsOffered, 3);
    } else {
        for (const QJsonValue& request : requests)
            QVERIFY(request.toObject().value(QStringLiteral("verdict")).toString() != QStringLiteral("ok"));
    }

    // A later cancel does not undo the save; without one it still asks.
    if (!yes)
        MessageBox::setNextAnswer(QMessageBox::No);
    QTest::mouseClick(child<QPushButton>(dialog, QStringLiteral("btnCancel")), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.settingsUpdated(), yes);
    QCOMPARE(MessageBox::shownCount(), yes ? 1 : 2);
}

void TestSettingsDialog::manageSipAccounts_opensDialogForItsSource_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("apiId");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("options");
    QTest::newRow("click-to-dial") << QStringLiteral("btnManageSipAccountsC2D") << QStringLiteral("ClickToDial")
                                   << QStringLiteral("c2d-demo") << QStringLiteral("c2d-demo-sleutel-7f3a")
                                   << QString(); // the click-to-dial source sends no options
    QTest::newRow("Outlook") << QStringLiteral("btnManageSipAccounts1") << QStringLiteral("OutlookPlugin")
                             << QStringLiteral("outlook-demo") << QStringLiteral("outlook-demo-sleutel-91bc")
                             << QStringLiteral("options=msoutlook");
    QTest::newRow("Thunderbird") << QStringLiteral("btnManageSipAccounts2") << QStringLiteral("ThunderbirdPlugin")
                                 << QStringLiteral("thunderbird-demo")
                                 << QStringLiteral("thunderbird-demo-sleutel-e85f")
                                 << QStringLiteral("options=thunderbird");
    QTest::newRow("Apple Contacts") << QStringLiteral("btnManageSipAccounts3") << QStringLiteral("AppleContactsPlugin")
                                    << QStringLiteral("acontacts-demo") << QStringLiteral("acontacts-demo-sleutel-4d20")
                                    << QStringLiteral("options=acontacts");
}

void TestSettingsDialog::manageSipAccounts_opensDialogForItsSource()
{
    QFETCH(QString, button);
    QFETCH(QString, group);
    QFETCH(QString, apiId);
    QFETCH(QString, key);
    QFETCH(QString, options);
    QVERIFY(m_sim.reset());
    {
        Settings settings;
        settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), QStringLiteral("100234"));
        settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), QStringLiteral("demo-wachtwoord"));
        settings.set(group, QStringLiteral("Id"), apiId);
        settings.set(group, QStringLiteral("Key"), key);
    }
    SettingsDialog dialog(m_api);
    int sipDialogs = 0;
    QTimer closer;
    closer.setInterval(20);
    connect(&closer, &QTimer::timeout, this, [&]() {
        if (auto* sip = qobject_cast<SipAccountsDialog*>(QApplication::activeModalWidget())) {
            ++sipDialogs;
            sip->reject();
        }
    });
    closer.start();
    // The Outlook and Apple Contacts buttons sit on removed tabs: press them as the signal would.
    QVERIFY(QMetaObject::invokeMethod(child<QPushButton>(dialog, button), "pressed"));
    closer.stop();

    QCOMPARE(sipDialogs, 1);
    QCOMPARE(MessageBox::shownCount(), 0); // nothing unsaved, nothing asked
    const QJsonArray requests = m_sim.requests();
    QCOMPARE(requests.size(), 1);
    const QJsonObject request = requests.first().toObject();
    QCOMPARE(request.value(QStringLiteral("verdict")).toString(), QStringLiteral("ok"));
    const QString query = request.value(QStringLiteral("rawQuery")).toString();
    if (options.isEmpty())
        QVERIFY2(!query.contains(QStringLiteral("options=")), qPrintable(query));
    else
        QVERIFY2(query.startsWith(options + QLatin1Char('&')) ||
                     query.contains(QLatin1Char('&') + options + QLatin1Char('&')),
                 qPrintable(query));
    QVERIFY2(query.contains(QStringLiteral("apiID=") + apiId), qPrintable(query));
    QVERIFY(!dialog.settingsUpdated());
}

void TestSettingsDialog::activateTab_selectsOnlyShownTabs_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("current");
    QTest::newRow("Thunderbird") << QStringLiteral("tabThunderbirdPlugin") << QStringLiteral("tabThunderbirdPlugin");
    QTest::newRow("Click-to-dial") << QStringLiteral("tabClickToDial") << QStringLiteral("tabClickToDial");
    QTest::newRow("Notificaties") << QStringLiteral("tabNotifications") << QStringLiteral("tabNotifications");
    QTest::newRow("removed Outlook") << QStringLiteral("tabOutlookPlugin") << QStringLiteral("tabCommon");
    QTest::newRow("removed Apple Contacts") << QStringLiteral("tabAppleContactsPlugin") << QStringLiteral("tabCommon");
    QTest::newRow("unknown") << QStringLiteral("tabBestaatNiet") << QStringLiteral("tabCommon");
    QTest::newRow("empty") << QString() << QStringLiteral("tabCommon");
}

void TestSettingsDialog::activateTab_selectsOnlyShownTabs()
{
    QFETCH(QString, name);
    QFETCH(QString, current);
    SettingsDialog dialog(m_api);
    dialog.activateTab(name);
    QCOMPARE(child<QTabWidget>(dialog, QStringLiteral("tabWidget"))->currentWidget()->objectName(), current);
    QCOMPARE(dialog.windowTitle(), s_title);
}

void TestSettingsDialog::socketState_followsChannelSignal()
{
    SettingsDialog dialog(m_api);
    auto* status = child<QLabel>(dialog, QStringLiteral("lblSocketStatus"));
    auto* button = child<QPushButton>(dialog, QStringLiteral("btnConnectDisconnectSocket"));
    QVERIFY(!m_api->isNotificationSocketConnected());
    QCOMPARE(status->text(), QStringLiteral("<b>Verbroken</b>"));
    QCOMPARE(button->text(), QStringLiteral("Verbinden"));

    // The channel reports from its own thread: the news is queued into the dialog's.
    std::thread worker([this]() { emit m_api->notificationSocketConnectionChanged(true); });
    worker.join();
    QTRY_COMPARE(status->text(), QStringLiteral("<b>Verbonden</b>"));
    QCOMPARE(button->text(), QStringLiteral("Verbreken"));

    emit m_api->notificationSocketConnectionChanged(false);
    QTRY_COMPARE(status->text(), QStringLiteral("<b>Verbroken</b>"));
    QCOMPARE(button->text(), QStringLiteral("Verbinden"));
    QCOMPARE(dialog.windowTitle(), s_title);
}

void TestSettingsDialog::connectButton_asksClientByName()
{
    SettingsDialog dialog(m_api);
    dialog.show();
    auto* status = child<QLabel>(dialog, QStringLiteral("lblSocketStatus"));
    QTest::mouseClick(child<QPushButton>(dialog, QStringLiteral("btnConnectDisconnectSocket")), Qt::LeftButton);
    // Queued into the client's thread, never called in the middle of the press.
    QCOMPARE(m_api->starts, 0);
    QTRY_COMPARE(m_api->starts, 1);
    QCOMPARE(m_api->stops, 0);
    // The label waits for the channel's own word.
    QCOMPARE(status->text(), QStringLiteral("<b>Verbroken</b>"));
    QCOMPARE(dialog.windowTitle(), s_title);
}

QTEST_MAIN(TestSettingsDialog)
#include "test_settingsdialog.moc"
