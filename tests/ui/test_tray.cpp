#include "ButtonGroupAction.h"
#include "Settings.h"
#include "SystemTrayIcon.h"
#include "TestSupport.h"
#include "TextInputAction.h"
#include "UiTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QWidgetAction>

#include <memory>

using namespace UiTest;

class TestTray : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SystemTrayIcon> m_tray;

    QMenu* menu() const { return m_tray->menu(); }
    QLineEdit* field() const { return child<QLineEdit>(*menu(), "txtPhoneNumber"); }
    QAction* action(const char* name) const { return child<QAction>(*menu(), name); }
    QAction* callAction() const { return action("actCall"); }
    QAction* callWithAction() const { return action("actCallWith"); }
    QMenu* callWithMenu() const { return child<QMenu>(*menu(), "mnuCallWith"); }

    static void setDefaultSip(const QVariant& id)
    {
        Settings().set(QStringLiteral("ClickToDial"), QStringLiteral("DefaultSip"), id);
    }

    void verifyIdle()
    {
        QVERIFY(field()->text().isEmpty());
        QCOMPARE(callAction()->text(), QStringLiteral("Bel"));
        QVERIFY(!callAction()->isEnabled());
        QVERIFY(!callWithAction()->isEnabled());
    }

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/karvelon/32")));
    }

    void init()
    {
        clearAccounts();
        setDefaultSip(QVariant());
        m_tray.reset(new SystemTrayIcon(nullptr));
    }

    void cleanup()
    {
        m_tray.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the menu goes with deleteLater
    }

    void cleanupTestCase()
    {
        clearAccounts();
        delete SipAccountManager::instance();
    }

    void menu_entriesInOrderAndTheirSignals()
    {
        QStringList texts;
        for (QAction* entry : menu()->actions()) {
            texts << (entry->isSeparator() ? QStringLiteral("--") : entry->text());
            QVERIFY(entry->shortcut().isEmpty());
        }
        QCOMPARE(texts.join(QLatin1Char('|')),
                 QStringLiteral("|Bel|Bel met|--|&Instellingen|&Log bekijken|--|&Afsluiten"));
        QCOMPARE(qobject_cast<QWidgetAction*>(menu()->actions().at(0))->defaultWidget(), field());
        QCOMPARE(field()->placeholderText(), QStringLiteral("Voer telefoonnummer in"));
        QCOMPARE(menu()->minimumWidth(), 200);
        QCOMPARE(m_tray->contextMenu(), menu());
        QVERIFY(m_tray->isVisible());

        QSignalSpy settings(m_tray.get(), &SystemTrayIcon::openSettings);
        QSignalSpy logViewer(m_tray.get(), &SystemTrayIcon::openLogViewer);
        QSignalSpy quit(m_tray.get(), &SystemTrayIcon::quitApplication);
        for (const char* name : {"actSettings", "actLogViewer", "actQuit"})
            action(name)->trigger();
        QCOMPARE(QList<int>({settings.count(), logViewer.count(), quit.count()}), QList<int>({1, 1, 1}));
    }

    void numberField_drivesCallEntry_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("nothing") << QString() << QString();
        QTest::newRow("number") << QStringLiteral("0612345678") << QStringLiteral("0612345678");
        QTest::newRow("international") << QStringLiteral("+31-6-1234") << QStringLiteral("+31-6-1234");
        QTest::newRow("letters and blanks refused") << QStringLiteral("06 ab<12>") << QStringLiteral("0612");
        QTest::newRow("only refused characters") << QStringLiteral("abc ") << QString();
    }

    void numberField_drivesCallEntry()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        addAccounts(words("C+Kantoor C+Thuis"));
        QSignalSpy calls(m_tray->callWidget(), &IMenuCallWidget::callNumber);
        QTest::keyClicks(field(), typed);
        QCOMPARE(field()->text(), kept);
        QCOMPARE(m_tray->callWidget()->phoneNumber(), kept);
        QCOMPARE(callAction()->text(), kept.isEmpty() ? QStringLiteral("Bel") : QStringLiteral("Bel: ") + kept);
        QCOMPARE(callAction()->isEnabled(), !kept.isEmpty());
        QCOMPARE(callWithAction()->isEnabled(), !kept.isEmpty());
        if (kept.isEmpty()) {
            // Return, Enter or "Bel" with an empty field dial nothing.
            QTest::keyClick(field(), Qt::Key_Return);
            QTest::keyClick(field(), Qt::Key_Enter);
            m_tray->callWidget()->onCallClicked();
            QCOMPARE(calls.count(), 0);
        }
        field()->clear();
        verifyIdle();
    }

    void callWithMenu_listsCheckedClickToDialAccounts_data()
    {
        QTest::addColumn<QStringList>("accounts");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("none") << QStringList() << QStringList();
        QTest::newRow("one") << words("C+Kantoor") << QStringList();
        QTest::newRow("two") << words("C+Kantoor C+Thuis") << words("Kantoor Thuis");
        QTest::newRow("two, one unchecked") << words("C+Kantoor C-Thuis") << QStringList();
        QTest::newRow("two of a plug-in") << words("O+A O+B C+Kantoor") << QStringList();
        QTest::newRow("three, registry order")
            << words("C+Zolder C-Kantoor T+Elders C+Auto C+Thuis") << words("Zolder Auto Thuis");
    }

    void callWithMenu_listsCheckedClickToDialAccounts()
    {
        QFETCH(QStringList, accounts);
        QFETCH(QStringList, names);
        addAccounts(accounts); // after the menu was built: picked up through the registry's signal
        QCOMPARE(callWithAction()->isVisible(), !names.isEmpty());
        QVERIFY(!callWithAction()->isEnabled());
        if (names.isEmpty())
            return;
        QStringList shown;
        for (QAction* entry : callWithMenu()->actions()) {
            shown << entry->text() + QLatin1Char('=') + entry->data().toString();
            QVERIFY(entry->shortcut().isEmpty());
        }
        QStringList expected;
        for (const QString& name : names)
            expected << name + QLatin1Char('=') + name.toLower();
        QCOMPARE(shown, expected);

        // A fresh tray over the same registry builds the same menu; fewer than two accounts hide it.
        m_tray.reset(new SystemTrayIcon(nullptr));
        QCOMPARE(callWithMenu()->actions().size(), names.size());
        QVERIFY(callWithAction()->isVisible());
        SipAccountManager::instance()->removeSipAccount(names.first().toLower());
        QCOMPARE(callWithAction()->isVisible(), names.size() > 2);
    }

    void accountChange_leavesSubmenuDisabledUntilNextEdit()
    {
        QTest::keyClicks(field(), QStringLiteral("0612"));
        addAccounts(words("C+Kantoor C+Thuis"));
        QVERIFY(callWithAction()->isVisible());
        QVERIFY(!callWithAction()->isEnabled());
        QTest::keyClicks(field(), QStringLiteral("3"));
        QVERIFY(callWithAction()->isEnabled());
    }

    void dialling_usesDefaultOrPickedAccount_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("sipId");
        const QVariant sip7(QStringLiteral("sip-7"));
        QTest::newRow("default set, Bel") << sip7 << QStringLiteral("Bel") << QStringLiteral("sip-7");
        QTest::newRow("default set, Return") << sip7 << QStringLiteral("Return") << QStringLiteral("sip-7");
        QTest::newRow("no default, Bel") << QVariant() << QStringLiteral("Bel") << QString();
        QTest::newRow("no default, Return") << QVariant() << QStringLiteral("Return") << QString();
        QTest::newRow("Bel met, second entry") << sip7 << QStringLiteral("Bel met") << QStringLiteral("thuis");
    }

    void dialling_usesDefaultOrPickedAccount()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, how);
        QFETCH(QString, sipId);
        addAccounts(words("C+Kantoor C+Thuis"));
        setDefaultSip(stored);
        QSignalSpy calls(m_tray.get(), &SystemTrayIcon::callNumber);
        const QString logged = QStringLiteral("Bel nummer: +31201234567 via ClickToDial menu opdracht ontvangen");
        const int before = countRecords(QStringLiteral("Click-to-Dial"), logged);

        QTest::keyClicks(field(), QStringLiteral("+31201234567"));
        if (how == QLatin1String("Return"))
            QTest::keyClick(field(), Qt::Key_Return);
        else if (how == QLatin1String("Bel"))
            callAction()->trigger();
        else
            callWithMenu()->actions().at(1)->trigger();
        QCOMPARE(calls.count(), 1);
        QCOMPARE(calls.at(0), (QVariantList{QStringLiteral("+31201234567"), sipId}));
        verifyIdle();
        QCOMPARE(countRecords(QStringLiteral("Click-to-Dial"), logged), before + 1);
    }

    void openMenu_clearsFocusesAndDialsWithReturn()
    {
        setDefaultSip(QStringLiteral("sip-1"));
        QSignalSpy calls(m_tray.get(), &SystemTrayIcon::callNumber);
        field()->setText(QStringLiteral("0123"));
        menu()->popup(QPoint(10, 10));
        QTRY_VERIFY(menu()->isVisible());
        verifyIdle();
        QTRY_VERIFY(field()->hasFocus());

        // Keys go through the menu's window, as the keyboard delivers them.
        QWindow* window = menu()->windowHandle();
        QVERIFY(window);
        QTest::keyClick(window, Qt::Key_Return);
        QCOMPARE(calls.count(), 0);
        for (char digit : {'0', '6', '1', '2'})
            QTest::keyClick(window, digit);
        QCOMPARE(field()->text(), QStringLiteral("0612"));
        QTest::keyClick(window, Qt::Key_Return);
        QCOMPARE(calls.count(), 1);
        QCOMPARE(calls.at(0), (QVariantList{QStringLiteral("0612"), QStringLiteral("sip-1")}));
        QTRY_VERIFY(!menu()->isVisible());
        QVERIFY(field()->text().isEmpty());
    }

    void activation_onlyPlainClickPopsUpMenu()
    {
        for (auto reason : {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Context}) {
            emit m_tray->activated(reason);
            QVERIFY(!menu()->isVisible());
        }
        emit m_tray->activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(menu()->isVisible());
        emit m_tray->callWidget()->rejected(); // the call widget's rejection closes the menu
        QVERIFY(!menu()->isVisible());
    }

    void textInputAction_bareFieldThatCanBeDeletedLater()
    {
        QPointer<TextInputAction> input = new TextInputAction();
        auto* edit = qobject_cast<QLineEdit*>(input->action()->defaultWidget());
        QVERIFY(edit);
        QCOMPARE(edit->placeholderText(), QStringLiteral("Voer telefoonnummer in"));
        QTest::keyClicks(edit, QStringLiteral("0612"));
        QCOMPARE(input->inputtedText(), QStringLiteral("0612"));
        input->clear();
        QVERIFY(input->inputtedText().isEmpty());
        // It ignores every event, but deleteLater() must still work.
        input->deleteLater();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(input.isNull());
    }
};

QTEST_MAIN(TestTray)
#include "test_tray.moc"
