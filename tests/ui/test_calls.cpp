#include "CallDialog.h"
#include "CallHistory.h"
#include "DialWindow.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SipAccount.h"
#include "SipAccountManager.h"
#include "SystemTrayIcon.h"
#include "TestSupport.h"

#include <QtTest>
#include <QtWidgets>

// The roads to a call: the tray menu's number field, the dial window and the plug-ins' call dialog.
class TestCalls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
        // Unchecked accounts and those of another source stay out of the "Bel met" lists.
        for (const char* code : {"C+Kantoor", "C-Uit", "T+Elders", "C+Thuis", "T+Zolder"}) {
            const QString name = QString::fromLatin1(code + 2);
            const auto type = code[0] == 'C' ? SourceType::ClickToDial : SourceType::Thunderbird;
            SipAccountManager::instance()->addSipAccount(new SipAccount(type, name, name.toLower(), code[1] == '+'));
        }
        Settings().set(SettingsKeys::kClickToDialGroup, SettingsKeys::kDefaultSip, QStringLiteral("sip-7"));
    }

    void cleanupTestCase() { delete SipAccountManager::instance(); }

    void trayNumber_dialsWithDefaultOrChosenAccount_data()
    {
        QTest::addColumn<QStringList>("c"); // typed, how, what the field keeps and dials (empty: no call), account
        QTest::newRow("Bel") << QStringList{"+31201234567", "Bel", "+31201234567", "sip-7"};
        QTest::newRow("Return") << QStringList{"0612-345678", "Return", "0612-345678", "sip-7"};
        QTest::newRow("Bel met") << QStringList{"0612", "Thuis", "0612", "thuis"};
        QTest::newRow("letters and blanks refused") << QStringList{"06 ab<12>", "Return", "0612", "sip-7"};
        QTest::newRow("empty field dials nothing") << QStringList{"abc", "Return", "", ""};
    }

    void trayNumber_dialsWithDefaultOrChosenAccount()
    {
        QFETCH(QStringList, c);
        const QString typed = c[0], how = c[1], number = c[2], sipId = c[3];
        SystemTrayIcon tray;
        auto* field = tray.menu()->findChild<QLineEdit*>(QStringLiteral("txtPhoneNumber"));
        auto* callWith = tray.menu()->findChild<QMenu*>(QStringLiteral("mnuCallWith"));
        QSignalSpy calls(&tray, &SystemTrayIcon::callNumber);
        QTest::keyClicks(field, typed);
        QCOMPARE(field->text(), number);
        QCOMPARE(callWith->menuAction()->isEnabled(), !number.isEmpty());
        QStringList offered;
        for (QAction* entry : callWith->actions())
            offered << entry->text();
        QCOMPARE(offered, (QStringList{QStringLiteral("Kantoor"), QStringLiteral("Thuis")}));

        if (how == QLatin1String("Return"))
            QTest::keyClick(field, Qt::Key_Return);
        else if (how == QLatin1String("Bel"))
            tray.menu()->findChild<QAction*>(QStringLiteral("actCall"))->trigger();
        else
            callWith->actions().at(offered.indexOf(how))->trigger();
        QCOMPARE(calls.count(), number.isEmpty() ? 0 : 1);
        if (!number.isEmpty())
            QCOMPARE(calls.at(0), (QVariantList{number, sipId}));
        QVERIFY(field->text().isEmpty());
    }

    void dialog_showsNameAsTextCallsChosenNumberWithDefaultOrChosenAccount_data()
    {
        // The name (markup in it is shown, not obeyed), the entry, the number called (without the label: from
        // the first "(" to the last ")"), how, and the account (empty: the default).
        QTest::addColumn<QStringList>("c");
        QTest::newRow("Bellen") << QStringList{"<img src=\"/etc/passwd\"><a href=\"http://x.invalid\">Zoë</a>",
                                               "+31612345678 (werk)", "+31612345678 ", "btnCall", ""};
        QTest::newRow("Return, two labels")
            << QStringList{"</span><h1>Groot</h1> & Piet", "0123 (Werk) of 0456 (Mobiel)", "0123 ", "Return", ""};
        QTest::newRow("Bel met, unclosed label")
            << QStringList{"&lt;b&gt; &amp; \"x\"", "0123 (werk", "0123 (werk", "Zolder", "zolder"};
    }

    void dialog_showsNameAsTextCallsChosenNumberWithDefaultOrChosenAccount()
    {
        QFETCH(QStringList, c);
        const QString name = c[0], entry = c[1], number = c[2], how = c[3], sipId = c[4];
        CallDialog dialog(SourceType::Thunderbird);
        dialog.setName(name);
        QTextDocument shown;
        shown.setHtml(dialog.findChild<QLabel*>(QStringLiteral("lblCallInformation"))->text());
        QCOMPARE(shown.toPlainText(), name);
        dialog.setPhoneNumbers({QStringLiteral("0999 (eerste)"), entry});
        dialog.findChild<QComboBox*>(QStringLiteral("cmbPhoneNumber"))->setCurrentIndex(1);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QSignalSpy pressed(&dialog, &CallDialog::callPressed);
        QMenu* accounts = dialog.findChild<QPushButton*>(QStringLiteral("btnCallWith"))->menu();
        if (how == QLatin1String("btnCall"))
            QTest::mouseClick(dialog.findChild<QPushButton*>(how), Qt::LeftButton);
        else if (how == QLatin1String("Return"))
            QTest::keyClick(&dialog, Qt::Key_Return);
        else
            accounts->actions().at(1)->trigger();
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(pressed.at(0).at(0).value<SourceType::Type>(), SourceType::Thunderbird);
        QCOMPARE(pressed.at(0).at(1).toString(), sipId);
        QCOMPARE(dialog.selectedPhoneNumer(), number);
        QVERIFY(dialog.isVisible()); // open for the outcome
    }

    void dialWindow_dialsDefaultOrChosenAccount_andShowsOutcome_data()
    {
        QTest::addColumn<QString>("account"); // chosen; "Thuis" is the default; empty: Thuis removed, one left
        QTest::addColumn<bool>("returnKey");  // or "&Bellen"
        QTest::addColumn<bool>("success");
        QTest::newRow("Return, default account, success closes") << "Thuis" << true << true;
        QTest::newRow("chosen account, failure keeps the number") << "Kantoor" << false << false;
        QTest::newRow("one account: no list, the default") << "" << true << true;
    }

    void dialWindow_dialsDefaultOrChosenAccount_andShowsOutcome()
    {
        QFETCH(QString, account);
        QFETCH(bool, returnKey);
        QFETCH(bool, success);
        Settings().set(SettingsKeys::kClickToDialGroup, SettingsKeys::kDefaultSip, QStringLiteral("thuis"));
        auto restore = qScopeGuard([&account] {
            Settings().set(SettingsKeys::kClickToDialGroup, SettingsKeys::kDefaultSip, QStringLiteral("sip-7"));
            if (account.isEmpty())
                SipAccountManager::instance()->addSipAccount(
                    new SipAccount(SourceType::ClickToDial, "Thuis", "thuis", true));
        });
        DialWindow window(nullptr, false, 10);
        window.prepare();
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* field = window.findChild<QLineEdit*>(QStringLiteral("txtDialNumber"));
        auto* accounts = window.findChild<QComboBox*>(QStringLiteral("cboSipAccount"));
        auto* settings = window.findChild<QPushButton*>(QStringLiteral("btnSettings"));
        QVERIFY(field->hasFocus() && !accounts->isHidden() && settings->isHidden());
        QCOMPARE(accounts->currentText(), QStringLiteral("Thuis"));
        if (account.isEmpty())
            SipAccountManager::instance()->removeSipAccount(QStringLiteral("thuis"));
        QCOMPARE(accounts->isHidden(), account.isEmpty());
        QSignalSpy calls(&window, &DialWindow::callNumber);
        QTest::keyClick(field, Qt::Key_Return); // nothing to dial yet
        QTest::keyClicks(field, QStringLiteral("06-12 ab+3"));
        if (!account.isEmpty())
            accounts->setCurrentIndex(accounts->findText(account));
        if (returnKey)
            QTest::keyClick(field, Qt::Key_Return);
        else
            QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("btnDial")), Qt::LeftButton);
        const QString sipId = account.isEmpty() ? QStringLiteral("thuis") : account.toLower();
        QCOMPARE(calls, (QList<QVariantList>{{QStringLiteral("06-12+3"), sipId}}));
        window.setAppActions(true); // without a tray, the window also opens the settings and the log
        QSignalSpy settingsOpened(&window, &DialWindow::openSettings);
        QSignalSpy logOpened(&window, &DialWindow::openLogViewer);
        QTest::mouseClick(settings, Qt::LeftButton);
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("btnLogViewer")), Qt::LeftButton);
        QCOMPARE(settingsOpened.count() * 10 + logOpened.count(), 11);
        window.updateStatus(success);
        window.updateStatus(!success); // no second call pending: ignored
        auto* status = window.findChild<QLabel*>(QStringLiteral("lblDialStatus"));
        QCOMPARE(status->text(), CallDialog::statusText(success));
        QTRY_COMPARE(window.isVisible(), !success);
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        window.prepare();
        QCOMPARE(field->text(), success ? QString() : QStringLiteral("06-12+3"));
        QVERIFY(status->text().isEmpty());
    }

    void dialWindow_completesRecentNumbersNewestFirst()
    {
        CallHistory history(QDir(TestSupport::testHome()).filePath(QStringLiteral("calls.jsonl")));
        CallRecord call;
        for (const char* number : {"0201111", "+31612", "", "anoniem", "0201111", "06 12"}) {
            call.number = QString::fromLatin1(number);
            history.add(call);
        }
        DialWindow window(&history, false);
        call.number = QStringLiteral("0303");
        history.add(call); // followed while the window lives
        auto* field = window.findChild<QLineEdit*>(QStringLiteral("txtDialNumber"));
        QCOMPARE(qobject_cast<QStringListModel*>(field->completer()->model())->stringList(),
                 (QStringList{QStringLiteral("0303"), QStringLiteral("0201111"), QStringLiteral("+31612")}));
        // Return dials what was typed, also while the completions are open.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy calls(&window, &DialWindow::callNumber);
        QTest::keyClicks(field, QStringLiteral("0201111"));
        QTRY_VERIFY(field->completer()->popup()->isVisible());
        QTest::keyClick(field->completer()->popup(), Qt::Key_Return);
        QCOMPARE(calls.count(), 1);
        QCOMPARE(calls.at(0).at(0).toString(), QStringLiteral("0201111"));
    }
};

QTEST_MAIN(TestCalls)
#include "test_calls.moc"
