#include "CallDialog.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SipAccount.h"
#include "SipAccountManager.h"
#include "SystemTrayIcon.h"
#include "TestSupport.h"

#include <QtTest>
#include <QtWidgets>

// The two roads to a call: the tray menu's number field and the plug-ins' call dialog.
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
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("number"); // what the field keeps and dials; empty: no call
        QTest::addColumn<QString>("sipId");
        QTest::newRow("Bel") << "+31201234567" << "Bel" << "+31201234567" << "sip-7";
        QTest::newRow("Return") << "0612-345678" << "Return" << "0612-345678" << "sip-7";
        QTest::newRow("Bel met") << "0612" << "Thuis" << "0612" << "thuis";
        QTest::newRow("letters and blanks refused") << "06 ab<12>" << "Return" << "0612" << "sip-7";
        QTest::newRow("empty field dials nothing") << "abc" << "Return" << "" << "";
    }

    void trayNumber_dialsWithDefaultOrChosenAccount()
    {
        QFETCH(QString, typed);
        QFETCH(QString, how);
        QFETCH(QString, number);
        QFETCH(QString, sipId);
        SystemTrayIcon tray(nullptr);
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

    void dialogName_markupIsShownNotObeyed_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("image and link") << "<img src=\"/etc/passwd\"><a href=\"http://x.invalid\">Zoë</a>";
        QTest::newRow("closing the span") << "</span><h1>Groot</h1> & Piet";
        QTest::newRow("entities") << "&lt;b&gt; &amp; \"x\"";
    }

    void dialogName_markupIsShownNotObeyed()
    {
        QFETCH(QString, name);
        CallDialog dialog(SourceType::Thunderbird);
        dialog.setName(name);
        QTextDocument shown;
        shown.setHtml(dialog.findChild<QLabel*>(QStringLiteral("lblCallInformation"))->text());
        QCOMPARE(shown.toPlainText(), name);
    }

    void dialog_callsChosenNumberWithDefaultOrChosenAccount_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("number"); // without the label: from the first "(" to the last ")"
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("sipId"); // empty: the default account
        QTest::newRow("Bellen") << "+31612345678 (werk)" << "+31612345678 " << "btnCall" << "";
        QTest::newRow("Return, two labels") << "0123 (Werk) of 0456 (Mobiel)" << "0123 " << "Return" << "";
        QTest::newRow("Bel met, unclosed label") << "0123 (werk" << "0123 (werk" << "Zolder" << "zolder";
    }

    void dialog_callsChosenNumberWithDefaultOrChosenAccount()
    {
        QFETCH(QString, entry);
        QFETCH(QString, number);
        QFETCH(QString, how);
        QFETCH(QString, sipId);
        CallDialog dialog(SourceType::Thunderbird);
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
};

QTEST_MAIN(TestCalls)
#include "test_calls.moc"
