#include "KarvelonApi.h"
#include "MessageBox.h"
#include "PbxSimulator.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "SipAccountsDialog.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <thread>

using namespace UiTest;

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

// The fifteen stored keys in their save order, each with the widget that edits it.
const QList<QPair<QString, QString>> s_keys{
    {QStringLiteral("CustomerGroup/Number"), QStringLiteral("txtCustomerNumber")},
    {QStringLiteral("CustomerGroup/Password"), QStringLiteral("txtCustomerPassword")},
    {QStringLiteral("Notifications/Enabled"), QStringLiteral("chkEnableNotify")},
    {QStringLiteral("Notifications/Username"), QStringLiteral("txtNotifyUsername")},
    {QStringLiteral("Notifications/Password"), QStringLiteral("txtNotifyPassword")},
    {QStringLiteral("OutlookPlugin/Id"), QStringLiteral("txtOutlookPluginId")},
    {QStringLiteral("OutlookPlugin/Key"), QStringLiteral("txtOutlookPluginKey")},
    {QStringLiteral("AppleContactsPlugin/Id"), QStringLiteral("txtAppleContactsPluginId")},
    {QStringLiteral("AppleContactsPlugin/Key"), QStringLiteral("txtAppleContactsPluginKey")},
    {QStringLiteral("ThunderbirdPlugin/Id"), QStringLiteral("txtThunderbirdPluginId")},
    {QStringLiteral("ThunderbirdPlugin/Key"), QStringLiteral("txtThunderbirdPluginKey")},
    {QStringLiteral("ClickToDial/Modifier"), QStringLiteral("cmbHotkey1")},
    {QStringLiteral("ClickToDial/Hotkey"), QStringLiteral("cmbHotkey2")},
    {QStringLiteral("ClickToDial/Id"), QStringLiteral("txtClickToDialId")},
    {QStringLiteral("ClickToDial/Key"), QStringLiteral("txtClickToDialKey")},
};

bool isLineEdit(const QString& widget)
{
    return widget.startsWith(QLatin1String("txt"));
}

QVariant stored(const QString& path)
{
    return Settings().get(path.section(QLatin1Char('/'), 0, 0), path.section(QLatin1Char('/'), 1));
}

void store(const QString& path, const QVariant& value)
{
    Settings().set(path.section(QLatin1Char('/'), 0, 0), path.section(QLatin1Char('/'), 1), value);
}

void press(QWidget& dialog, const char* button)
{
    QTest::mouseClick(child<QPushButton>(dialog, button), Qt::LeftButton);
}

// Runs the action, rejecting every SIP account dialog it opens after handing it to seen; returns how many opened.
int closingSipDialogs(const std::function<void()>& action, const std::function<void(SipAccountsDialog*)>& seen = {})
{
    int opened = 0;
    QTimer closer;
    closer.setInterval(20);
    QObject::connect(&closer, &QTimer::timeout, [&]() {
        if (auto* sip = qobject_cast<SipAccountsDialog*>(QApplication::activeModalWidget())) {
            ++opened;
            if (seen)
                seen(sip);
            sip->reject();
        }
    });
    closer.start();
    action();
    return opened;
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private:
    PbxSimulator m_sim;
    RecordingApi* m_api = nullptr;

private slots:
    void initTestCase()
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

    void cleanupTestCase()
    {
        delete m_api;
        m_sim.stop();
    }

    void init()
    {
        QFile::remove(Settings().fileName());
        MessageBox::clearAnswers();
        m_api->starts = 0;
        m_api->stops = 0;
    }

    void cleanup()
    {
        QCOMPARE(MessageBox::pendingAnswers(), 0);
        MessageBox::clearAnswers();
    }

    void form_textsTabsAndFields()
    {
        SettingsDialog dialog(m_api);
        QCOMPARE(dialog.windowTitle(), s_title);
        QCOMPARE(child<QLabel>(dialog, "lblVersion")->text(), QStringLiteral("Versie 2.0"));
        QCOMPARE(child<QPushButton>(dialog, "btnSave")->text(), QStringLiteral("&Opslaan"));
        QCOMPARE(child<QPushButton>(dialog, "btnCancel")->text(), QStringLiteral("Annuleren"));
        auto* tabs = child<QTabWidget>(dialog, "tabWidget");
        QStringList shown;
        for (int i = 0; i < tabs->count(); ++i)
            shown << tabs->tabText(i) + QLatin1Char('=') + tabs->widget(i)->objectName();
        QCOMPARE(shown.join(QLatin1Char('|')),
                 QStringLiteral("Algemeen=tabCommon|Notificaties=tabNotifications|"
                                "Thunderbird plugin=tabThunderbirdPlugin|Click-to-dial=tabClickToDial"));
        QCOMPARE(tabs->currentIndex(), 0);
        for (const auto& key : s_keys) {
            const bool secret =
                key.first.endsWith(QLatin1String("Password")) || key.first.endsWith(QLatin1String("Key"));
            if (isLineEdit(key.second))
                QCOMPARE(child<QLineEdit>(dialog, key.second)->echoMode(),
                         secret ? QLineEdit::PasswordEchoOnEdit : QLineEdit::Normal);
        }
        for (const char* name : {"lblHotkey", "lblHotkeyPlus", "cmbHotkey1", "cmbHotkey2"})
            QVERIFY(child<QWidget>(dialog, name)->isHidden());
        QVERIFY(!child<QLabel>(dialog, "logo")->isHidden());
        QVERIFY(!child<QLabel>(dialog, "logo")->pixmap(Qt::ReturnByValue).isNull());
    }

    void firstEdit_marksTitleOnce_saveClearsIt_data()
    {
        QTest::addColumn<QString>("widget");
        for (const auto& key : s_keys)
            QTest::newRow(qPrintable(key.second)) << key.second;
        QTest::newRow("chkActivatePlugin") << QStringLiteral("chkActivatePlugin");
    }

    void firstEdit_marksTitleOnce_saveClearsIt()
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
        QTest::keyClicks(child<QLineEdit>(dialog, "txtCustomerNumber"), QStringLiteral("1"));
        QCOMPARE(dialog.windowTitle(), s_dirtyTitle);

        press(dialog, "btnSave");
        QCOMPARE(dialog.windowTitle(), s_title);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.settingsUpdated());
        QCOMPARE(MessageBox::shownCount(), 0);
        edit(2); // dirty again, marked exactly once
        QCOMPARE(dialog.windowTitle(), s_dirtyTitle);
    }

    void loadAndSave_everyKeyTrimmedInOrder()
    {
        for (const auto& key : s_keys) {
            if (isLineEdit(key.second))
                store(key.first, key.first + QStringLiteral("-v"));
        }
        store(QStringLiteral("Notifications/Enabled"), true);
        store(QStringLiteral("ClickToDial/Hotkey"), QStringLiteral("F5"));
        SettingsDialog dialog(m_api);
        QCOMPARE(dialog.windowTitle(), s_title); // loading is no edit
        for (const auto& key : s_keys) {         // the fields of the removed tabs too
            if (isLineEdit(key.second))
                QCOMPARE(child<QLineEdit>(dialog, key.second)->text(), key.first + QStringLiteral("-v"));
        }
        QVERIFY(child<QCheckBox>(dialog, "chkEnableNotify")->isChecked());
        QCOMPARE(child<QComboBox>(dialog, "cmbHotkey2")->currentText(), QString()); // hot keys are not loaded

        for (int i = 0; i < s_keys.size(); ++i) {
            if (isLineEdit(s_keys.at(i).second))
                child<QLineEdit>(dialog, s_keys.at(i).second)->setText(QStringLiteral("  waarde %1\t ").arg(i));
        }
        child<QCheckBox>(dialog, "chkEnableNotify")->setChecked(false);
        child<QComboBox>(dialog, "cmbHotkey1")->setCurrentText(QStringLiteral("Alt"));
        child<QComboBox>(dialog, "cmbHotkey2")->setCurrentText(QStringLiteral("F9"));
        QStringList order;
        for (const SettingsDialog::SettingValue& value : dialog.valuesToSave())
            order << value.group + QLatin1Char('/') + value.key;
        QStringList expected;
        for (const auto& key : s_keys)
            expected << key.first;
        QCOMPARE(order, expected);

        const QString logged = QStringLiteral("Instellingen zijn gewijzigd en opgeslagen.");
        const int before = countRecords(QStringLiteral("Instellingen"), logged, Logger::Info);
        press(dialog, "btnSave");
        QVERIFY(dialog.settingsUpdated());
        for (int i = 0; i < s_keys.size(); ++i) {
            if (isLineEdit(s_keys.at(i).second))
                QCOMPARE(stored(s_keys.at(i).first).toString(), QStringLiteral("waarde %1").arg(i));
        }
        QCOMPARE(stored(QStringLiteral("Notifications/Enabled")).toBool(), false);
        QCOMPARE(stored(QStringLiteral("ClickToDial/Modifier")).toString(), QStringLiteral("Alt"));
        QCOMPARE(stored(QStringLiteral("ClickToDial/Hotkey")).toString(), QStringLiteral("F9"));
        QCOMPARE(child<QLineEdit>(dialog, "txtCustomerNumber")->text(), QStringLiteral("  waarde 0\t ")); // as typed
        QCOMPARE(countRecords(QStringLiteral("Instellingen"), logged, Logger::Info), before + 1);
    }

    void closing_asksToSaveOnlyWhenDirty_data()
    {
        QTest::addColumn<QString>("how"); // a button, or "close" for the window's close button
        QTest::addColumn<bool>("edited");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("result"); // -1: still open
        const int yes = QMessageBox::Yes, no = QMessageBox::No, cancel = QMessageBox::Cancel;
        const QString btnCancel = QStringLiteral("btnCancel");
        QTest::newRow("untouched, Annuleren") << btnCancel << false << 0 << int(QDialog::Rejected);
        QTest::newRow("untouched, Opslaan") << QStringLiteral("btnSave") << false << 0 << int(QDialog::Accepted);
        QTest::newRow("dirty, Yes") << btnCancel << true << yes << int(QDialog::Accepted);
        QTest::newRow("dirty, No") << btnCancel << true << no << int(QDialog::Rejected);
        QTest::newRow("dirty, Cancel") << btnCancel << true << cancel << -1;
        QTest::newRow("dirty, close button, Cancel") << QStringLiteral("close") << true << cancel << -1;
        QTest::newRow("dirty, close button, No") << QStringLiteral("close") << true << no << int(QDialog::Rejected);
    }

    void closing_asksToSaveOnlyWhenDirty()
    {
        QFETCH(QString, how);
        QFETCH(bool, edited);
        QFETCH(int, answer);
        QFETCH(int, result);
        const bool yes = answer == QMessageBox::Yes;
        store(QStringLiteral("CustomerGroup/Number"), QStringLiteral("100"));
        SettingsDialog dialog(m_api);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.setResult(-1);
        auto* number = child<QLineEdit>(dialog, "txtCustomerNumber");
        if (edited) {
            number->setText(QStringLiteral(" 200 "));
            MessageBox::setNextAnswer(QMessageBox::StandardButton(answer));
        } else {
            QVERIFY(QFile::remove(Settings().fileName())); // anything written from here on brings it back
        }
        if (how == QLatin1String("close"))
            dialog.close();
        else
            press(dialog, qPrintable(how));

        QCOMPARE(MessageBox::shownCount(), edited ? 1 : 0);
        if (edited) {
            QCOMPARE(MessageBox::lastShown().title, s_dirtyTitle);
            QCOMPARE(MessageBox::lastShown().text, QStringLiteral("Wilt u de wijzigingen opslaan?"));
            QCOMPARE(stored(QStringLiteral("CustomerGroup/Number")).toString(),
                     yes ? QStringLiteral("200") : QStringLiteral("100"));
            QCOMPARE(number->text(), QStringLiteral(" 200 "));
        } else {
            QVERIFY(!QFile::exists(Settings().fileName()));
        }
        QCOMPARE(dialog.isVisible(), result == -1);
        QCOMPARE(dialog.result(), result);
        QCOMPARE(dialog.settingsUpdated(), yes);
        QCOMPARE(dialog.windowTitle(), edited && !yes ? s_dirtyTitle : s_title);
    }

    void manageSipAccounts_asksServiceForItsSource_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("apiId");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("options"); // the click-to-dial source sends none
        QTest::addColumn<int>("answer");      // 0: credentials stored; else typed only, and the answer to saving first
        const QString c2d = QStringLiteral("btnManageSipAccountsC2D");
        const QString c2dGroup = QStringLiteral("ClickToDial");
        const QString c2dKey = QStringLiteral("c2d-demo-sleutel-7f3a");
        QTest::newRow("click-to-dial") << c2d << c2dGroup << QStringLiteral("c2d-demo") << c2dKey << QString() << 0;
        QTest::newRow("Outlook") << QStringLiteral("btnManageSipAccounts1") << QStringLiteral("OutlookPlugin")
                                 << QStringLiteral("outlook-demo") << QStringLiteral("outlook-demo-sleutel-91bc")
                                 << QStringLiteral("options=msoutlook") << 0;
        QTest::newRow("Thunderbird") << QStringLiteral("btnManageSipAccounts2") << QStringLiteral("ThunderbirdPlugin")
                                     << QStringLiteral("thunderbird-demo")
                                     << QStringLiteral("thunderbird-demo-sleutel-e85f")
                                     << QStringLiteral("options=thunderbird") << 0;
        QTest::newRow("Apple Contacts") << QStringLiteral("btnManageSipAccounts3")
                                        << QStringLiteral("AppleContactsPlugin") << QStringLiteral("acontacts-demo")
                                        << QStringLiteral("acontacts-demo-sleutel-4d20")
                                        << QStringLiteral("options=acontacts") << 0;
        QTest::newRow("dirty, Yes saves first")
            << c2d << c2dGroup << QStringLiteral("c2d-demo ") << c2dKey << QString() << int(QMessageBox::Yes);
        QTest::newRow("dirty, No saves nothing")
            << c2d << c2dGroup << QStringLiteral("c2d-demo ") << c2dKey << QString() << int(QMessageBox::No);
    }

    void manageSipAccounts_asksServiceForItsSource()
    {
        QFETCH(QString, button);
        QFETCH(QString, group);
        QFETCH(QString, apiId);
        QFETCH(QString, key);
        QFETCH(QString, options);
        QFETCH(int, answer);
        const bool dirty = answer != 0;
        const bool yes = answer == QMessageBox::Yes;
        QVERIFY(m_sim.reset());
        // The simulator's demo customer, stored or only typed.
        const QMap<QString, QString> values{
            {QStringLiteral("CustomerGroup/Number"), QStringLiteral("100234")},
            {QStringLiteral("CustomerGroup/Password"), QStringLiteral("demo-wachtwoord")},
            {group + QStringLiteral("/Id"), apiId},
            {group + QStringLiteral("/Key"), key}};
        for (auto it = values.cbegin(); it != values.cend() && !dirty; ++it)
            store(it.key(), it.value());
        SettingsDialog dialog(m_api);
        dialog.show();
        for (const auto& field : s_keys) {
            if (dirty && values.contains(field.first))
                child<QLineEdit>(dialog, field.second)->setText(values.value(field.first));
        }
        QCOMPARE(dialog.windowTitle(), dirty ? s_dirtyTitle : s_title);

        int accountsOffered = -1;
        QString idWhenOpened;
        if (dirty)
            MessageBox::setNextAnswer(QMessageBox::StandardButton(answer));
        const int opened = closingSipDialogs(
            [&]() {
                // The Outlook and Apple Contacts buttons sit on removed tabs: press them as the signal would.
                QVERIFY(QMetaObject::invokeMethod(child<QPushButton>(dialog, button), "pressed"));
            },
            [&](SipAccountsDialog* sip) {
                idWhenOpened = stored(group + QStringLiteral("/Id")).toString();
                accountsOffered = child<QTableView>(*sip, "tableView")->model()->rowCount();
            });
        QCOMPARE(opened, 1);
        QCOMPARE(MessageBox::shownCount(), dirty ? 1 : 0);
        if (dirty) {
            QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Onopgeslagen wijzigingen"));
            QCOMPARE(
                MessageBox::lastShown().text,
                QStringLiteral("Er zijn nog onopgeslagen wijzigingen. Indien de wijzigigen betrekking hebben op "
                               "inloggegevens van een van de ondersteunde extensies of click-to-dial functionaliteit "
                               "raden wij aan deze eerst op te slaan. Wilt u deze nu opslaan?"));
        }
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.settingsUpdated(), yes);
        QCOMPARE(dialog.windowTitle(), dirty && !yes ? s_dirtyTitle : s_title);

        // Saved before the account dialog asked the service, so it asked with the new credentials.
        const QJsonArray requests = m_sim.requests();
        if (dirty && !yes) {
            QCOMPARE(idWhenOpened, QString());
            for (const QJsonValue& request : requests)
                QVERIFY(request.toObject().value(QStringLiteral("verdict")).toString() != QStringLiteral("ok"));
        } else {
            QCOMPARE(idWhenOpened, apiId.trimmed());
            if (!dirty)
                QCOMPARE(requests.size(), 1);
            QVERIFY(!requests.isEmpty());
            const QJsonObject request = requests.last().toObject();
            QCOMPARE(request.value(QStringLiteral("verdict")).toString(), QStringLiteral("ok"));
            const QString query = request.value(QStringLiteral("rawQuery")).toString();
            QVERIFY2(query.contains(QStringLiteral("apiID=") + apiId.trimmed()), qPrintable(query));
            if (options.isEmpty())
                QVERIFY2(!query.contains(QStringLiteral("options=")), qPrintable(query));
            else
                QVERIFY2(query.startsWith(options + QLatin1Char('&')) ||
                             query.contains(QLatin1Char('&') + options + QLatin1Char('&')),
                         qPrintable(query));
            if (yes)
                QCOMPARE(accountsOffered, 3);
        }
        if (!dirty)
            return;
        // A later cancel does not undo the save; without one it still asks.
        if (!yes)
            MessageBox::setNextAnswer(QMessageBox::No);
        press(dialog, "btnCancel");
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.settingsUpdated(), yes);
        QCOMPARE(MessageBox::shownCount(), yes ? 1 : 2);
    }

    void activateTab_selectsOnlyShownTabs_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("current");
        const QString common = QStringLiteral("tabCommon");
        QTest::newRow("Thunderbird") << QStringLiteral("tabThunderbirdPlugin")
                                     << QStringLiteral("tabThunderbirdPlugin");
        QTest::newRow("Click-to-dial") << QStringLiteral("tabClickToDial") << QStringLiteral("tabClickToDial");
        QTest::newRow("Notificaties") << QStringLiteral("tabNotifications") << QStringLiteral("tabNotifications");
        QTest::newRow("removed Outlook") << QStringLiteral("tabOutlookPlugin") << common;
        QTest::newRow("removed Apple Contacts") << QStringLiteral("tabAppleContactsPlugin") << common;
        QTest::newRow("unknown") << QStringLiteral("tabBestaatNiet") << common;
        QTest::newRow("empty") << QString() << common;
    }

    void activateTab_selectsOnlyShownTabs()
    {
        QFETCH(QString, name);
        QFETCH(QString, current);
        SettingsDialog dialog(m_api);
        dialog.activateTab(name);
        QCOMPARE(child<QTabWidget>(dialog, "tabWidget")->currentWidget()->objectName(), current);
        QCOMPARE(dialog.windowTitle(), s_title);
    }

    void socketState_followsChannelSignal()
    {
        SettingsDialog dialog(m_api);
        dialog.show();
        auto* status = child<QLabel>(dialog, "lblSocketStatus");
        auto* button = child<QPushButton>(dialog, "btnConnectDisconnectSocket");
        QVERIFY(!m_api->isNotificationSocketConnected());
        QCOMPARE(status->text(), QStringLiteral("<b>Verbroken</b>"));
        QCOMPARE(button->text(), QStringLiteral("Verbinden"));

        // Pressing asks the client by name, queued into its thread; the label waits for the channel's word.
        press(dialog, "btnConnectDisconnectSocket");
        QCOMPARE(m_api->starts, 0);
        QTRY_COMPARE(m_api->starts, 1);
        QCOMPARE(m_api->stops, 0);
        QCOMPARE(status->text(), QStringLiteral("<b>Verbroken</b>"));

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
};

QTEST_MAIN(TestSettingsDialog)
#include "test_settingsdialog.moc"
