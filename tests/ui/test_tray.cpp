#include "ButtonGroupAction.h"
#include "Logger.h"
#include "Settings.h"
#include "SipAccount.h"
#include "SipAccountManager.h"
#include "SystemTrayIcon.h"
#include "TestSupport.h"
#include "TextInputAction.h"

#include <QAction>
#include <QApplication>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QWidgetAction>

#include <memory>

namespace {
struct AccountSpec
{
    SourceType::Type type;
    QString name;
    QString id;
    bool checked;
};
using AccountSpecs = QList<AccountSpec>;

void clearRegistry()
{
    SipAccountManager* registry = SipAccountManager::instance();
    for (SourceType::Type type : {SourceType::ClickToDial, SourceType::MsOutlook, SourceType::Thunderbird}) {
        for (SipAccount* account : registry->accounts(type, false))
            registry->removeSipAccount(account);
    }
}

void addAccounts(const AccountSpecs& specs)
{
    for (const AccountSpec& spec : specs)
        SipAccountManager::instance()->addSipAccount(new SipAccount(spec.type, spec.name, spec.id, spec.checked));
}

int countRecords(const QString& component, const QString& msg)
{
    int count = 0;
    for (const QJsonObject& record : Logger::instance()->readLogRecords()) {
        if (record.value(QStringLiteral("component")).toString() == component
            && record.value(QStringLiteral("msg")).toString() == msg)
            ++count;
    }
    return count;
}
} // namespace

Q_DECLARE_METATYPE(AccountSpecs)

class TestTray : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SystemTrayIcon> m_tray;

    QMenu* menu() const { return m_tray->menu(); }
    QLineEdit* field() const { return m_tray->menu()->findChild<QLineEdit*>(QStringLiteral("txtPhoneNumber")); }
    QAction* action(const char* name) const { return m_tray->menu()->findChild<QAction*>(QLatin1String(name)); }
    QAction* callAction() const { return action("actCall"); }
    QAction* callWithAction() const { return action("actCallWith"); }
    QMenu* callWithMenu() const { return m_tray->menu()->findChild<QMenu*>(QStringLiteral("mnuCallWith")); }

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/karvelon/32")));
    }

    void init()
    {
        clearRegistry();
        Settings().set(QStringLiteral("ClickToDial"), QStringLiteral("DefaultSip"), QVariant());
        m_tray.reset(new SystemTrayIcon(nullptr));
        QVERIFY(field());
        QVERIFY(callAction());
        QVERIFY(callWithAction());
    }

    void cleanup()
    {
        m_tray.reset();
        // The menu is released with deleteLater.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void cleanupTestCase()
    {
        clearRegistry();
        delete SipAccountManager::instance();
    }

    void menu_hasEntriesInOrder()
    {
        const QList<QAction*> actions = menu()->actions();
        QCOMPARE(actions.size(), 8);
        auto* fieldAction = qobject_cast<QWidgetAction*>(actions.at(0));
        QVERIFY(fieldAction);
        QCOMPARE(fieldAction->defaultWidget(), field());
        QCOMPARE(field()->placeholderText(), QStringLiteral("Voer telefoonnummer in"));
        QCOMPARE(actions.at(1), callAction());
        QCOMPARE(actions.at(1)->text(), QStringLiteral("Bel"));
        QCOMPARE(actions.at(2), callWithAction());
        QCOMPARE(actions.at(2)->text(), QStringLiteral("Bel met"));
        QVERIFY(actions.at(3)->isSeparator());
        QCOMPARE(actions.at(4)->text(), QStringLiteral("&Instellingen"));
        QCOMPARE(actions.at(5)->text(), QStringLiteral("&Log bekijken"));
        QVERIFY(actions.at(6)->isSeparator());
        QCOMPARE(actions.at(7)->text(), QStringLiteral("&Afsluiten"));
        for (int i = 4; i < 8; ++i)
            QVERIFY(actions.at(i)->shortcut().isEmpty());
        QCOMPARE(menu()->minimumWidth(), 200);
        QCOMPARE(m_tray->contextMenu(), menu());
        QVERIFY(m_tray->isVisible());
    }

    void menuEntries_emitTheirSignals()
    {
        QSignalSpy settings(m_tray.get(), &SystemTrayIcon::openSettings);
        QSignalSpy logViewer(m_tray.get(), &SystemTrayIcon::openLogViewer);
        QSignalSpy quit(m_tray.get(), &SystemTrayIcon::quitApplication);
        action("actSettings")->trigger();
        action("actLogViewer")->trigger();
        QCOMPARE(settings.count(), 1);
        QCOMPARE(logViewer.count(), 1);
        QCOMPARE(quit.count(), 0);
        action("actQuit")->trigger();
        QCOMPARE(quit.count(), 1);
    }

    void numberField_drivesCallEntry_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("callText");
        QTest::addColumn<bool>("enabled");

        QTest::newRow("nothing") << QString() << QString() << QStringLiteral("Bel") << false;
        QTest::newRow("number") << QStringLiteral("0612345678") << QStringLiteral("0612345678")
                                << QStringLiteral("Bel: 0612345678") << true;
        QTest::newRow("international") << QStringLiteral("+31-6-1234") << QStringLiteral("+31-6-1234")
                                       << QStringLiteral("Bel: +31-6-1234") << true;
        QTest::newRow("letters and blanks refused") << QStringLiteral("06 ab<12>") << QStringLiteral("0612")
                                                    << QStringLiteral("Bel: 0612") << true;
        QTest::newRow("only refused characters") << QStringLiteral("abc ") << QString() << QStringLiteral("Bel")
                                                 << false;
    }

    void numberField_drivesCallEntry()
    {
        QFETCH(QString, typed);
        QFETCH(QString, field);
        QFETCH(QString, callText);
        QFETCH(bool, enabled);

        addAccounts({{SourceType::ClickToDial, QStringLiteral("Kantoor"), QStringLiteral("tray-a"), true},
                     {SourceType::ClickToDial, QStringLiteral("Thuis"), QStringLiteral("tray-b"), true}});
        QTest::keyClicks(this->field(), typed);
        QCOMPARE(this->field()->text(), field);
        QCOMPARE(m_tray->callWidget()->phoneNumber(), field);
        QCOMPARE(callAction()->text(), callText);
        QCOMPARE(callAction()->isEnabled(), enabled);
        QCOMPARE(callWithAction()->isEnabled(), enabled);

        // Erasing the number brings the entries back to their idle state.
        this->field()->clear();
        QCOMPARE(callAction()->text(), QStringLiteral("Bel"));
        QVERIFY(!callAction()->isEnabled());
        QVERIFY(!callWithAction()->isEnabled());
    }

    void callWithMenu_listsCheckedClickToDialAccounts_data()
    {
        QTest::addColumn<AccountSpecs>("accounts");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("ids");

        const auto ctd = SourceType::ClickToDial;
        QTest::newRow("none") << AccountSpecs() << QStringList() << QStringList();
        QTest::newRow("one") << AccountSpecs{{ctd, QStringLiteral("Kantoor"), QStringLiteral("c-1"), true}}
                             << QStringList() << QStringList();
        QTest::newRow("two") << AccountSpecs{{ctd, QStringLiteral("Kantoor"), QStringLiteral("c-1"), true},
                                             {ctd, QStringLiteral("Thuis"), QStringLiteral("c-2"), true}}
                             << QStringList{QStringLiteral("Kantoor"), QStringLiteral("Thuis")}
                             << QStringList{QStringLiteral("c-1"), QStringLiteral("c-2")};
        QTest::newRow("two, one unchecked")
            << AccountSpecs{{ctd, QStringLiteral("Kantoor"), QStringLiteral("c-1"), true},
                            {ctd, QStringLiteral("Thuis"), QStringLiteral("c-2"), false}}
            << QStringList() << QStringList();
        QTest::newRow("two of a plug-in") << AccountSpecs{{SourceType::MsOutlook, QStringLiteral("A"), QStringLiteral("o-1"), true},
                                                          {SourceType::MsOutlook, QStringLiteral("B"), QStringLiteral("o-2"), true},
                                                          {ctd, QStringLiteral("Kantoor"), QStringLiteral("c-1"), true}}
                                          << QStringList() << QStringList();
        QTest::newRow("three, registry order")
            << AccountSpecs{{ctd, QStringLiteral("Zolder"), QStringLiteral("c-9"), true},
                            {ctd, QStringLiteral("Kantoor"), QStringLiteral("c-1"), false},
                            {SourceType::Thunderbird, QStringLiteral("Elders"), QStringLiteral("t-1"), true},
                            {ctd, QStringLiteral("Auto"), QStringLiteral("c-3"), true},
                            {ctd, QStringLiteral("Thuis"), QStringLiteral("c-2"), true}}
            << QStringList{QStringLiteral("Zolder"), QStringLiteral("Auto"), QStringLiteral("Thuis")}
            << QStringList{QStringLiteral("c-9"), QStringLiteral("c-3"), QStringLiteral("c-2")};
    }

    void callWithMenu_listsCheckedClickToDialAccounts()
    {
        QFETCH(AccountSpecs, accounts);
        QFETCH(QStringList, names);
        QFETCH(QStringList, ids);

        // Accounts that arrive after the menu was built are picked up too.
        addAccounts(accounts);
        QCOMPARE(callWithAction()->isVisible(), !names.isEmpty());
        QVERIFY(!callWithAction()->isEnabled());

        if (names.isEmpty())
            return;
        const QList<QAction*> entries = callWithMenu()->actions();
        QStringList shownNames;
        QStringList shownIds;
        for (QAction* entry : entries) {
            shownNames << entry->text();
            shownIds << entry->data().toString();
            QVERIFY(entry->shortcut().isEmpty());
        }
        QCOMPARE(shownNames, names);
        QCOMPARE(shownIds, ids);

        // A fresh tray built over the same registry shows the same menu.
        m_tray.reset(new SystemTrayIcon(nullptr));
        QVERIFY(callWithAction()->isVisible());
        QCOMPARE(callWithMenu()->actions().size(), names.size());
    }

    void callWithMenu_hidesAgainWhenAccountsGo()
    {
        addAccounts({{SourceType::ClickToDial, QStringLiteral("Kantoor"), QStringLiteral("g-1"), true},
                     {SourceType::ClickToDial, QStringLiteral("Thuis"), QStringLiteral("g-2"), true}});
        QVERIFY(callWithAction()->isVisible());
        SipAccountManager::instance()->removeSipAccount(QStringLiteral("g-2"));
        QVERIFY(!callWithAction()->isVisible());
    }

    void accountChange_leavesSubmenuDisabledUntilNextEdit()
    {
        QTest::keyClicks(field(), QStringLiteral("0612"));
        addAccounts({{SourceType::ClickToDial, QStringLiteral("Kantoor"), QStringLiteral("d-1"), true},
                     {SourceType::ClickToDial, QStringLiteral("Thuis"), QStringLiteral("d-2"), true}});
        QVERIFY(callWithAction()->isVisible());
        QVERIFY(!callWithAction()->isEnabled());
        QTest::keyClicks(field(), QStringLiteral("3"));
        QVERIFY(callWithAction()->isEnabled());
    }

    void callWithEntry_callsWithThatAccount()
    {
        addAccounts({{SourceType::ClickToDial, QStringLiteral("Kantoor"), QStringLiteral("e-1"), true},
                     {SourceType::ClickToDial, QStringLiteral("Thuis"), QStringLiteral("e-2"), true}});
        Settings().set(QStringLiteral("ClickToDial"), QStringLiteral("DefaultSip"), QStringLiteral("e-1"));
        QSignalSpy calls(m_tray.get(), &SystemTrayIcon::callNumber);
        const int logged = countRecords(QStringLiteral("Click-to-Dial"),
                                        QStringLiteral("Bel nummer: 0201234567 via ClickToDial menu opdracht ontvangen"));

        QTest::keyClicks(field(), QStringLiteral("0201234567"));
        callWithMenu()->actions().at(1)->trigger();

        QCOMPARE(calls.count(), 1);
        QCOMPARE(calls.at(0).at(0).toString(), QStringLiteral("0201234567"));
        QCOMPARE(calls.at(0).at(1).toString(), QStringLiteral("e-2"));
        QVERIFY(field()->text().isEmpty());
        QCOMPARE(callAction()->text(), QStringLiteral("Bel"));
        QCOMPARE(countRecords(QStringLiteral("Click-to-Dial"),
                              QStringLiteral("Bel nummer: 0201234567 via ClickToDial menu opdracht ontvangen")),
                 logged + 1);
    }

    void callEntry_usesStoredDefaultAccount_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("sipId");
        QTest::addColumn<bool>("viaReturn");

        QTest::newRow("default set, Bel") << QVariant(QStringLiteral("sip-7")) << QStringLiteral("sip-7") << false;
        QTest::newRow("default set, Return") << QVariant(QStringLiteral("sip-7")) << QStringLiteral("sip-7") << true;
        QTest::newRow("no default, Bel") << QVariant() << QString() << false;
        QTest::newRow("no default, Return") << QVariant() << QString() << true;
    }

    void callEntry_usesStoredDefaultAccount()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, sipId);
        QFETCH(bool, viaReturn);

        Settings().set(QStringLiteral("ClickToDial"), QStringLiteral("DefaultSip"), stored);
        QSignalSpy calls(m_tray.get(), &SystemTrayIcon::callNumber);
        QTest::keyClicks(field(), QStringLiteral("+3120"));
        if (viaReturn)
            QTest::keyClick(field(), Qt::Key_Return);
        else
            callAction()->trigger();

        QCOMPARE(calls.count(), 1);
        QCOMPARE(calls.at(0).at(0).toString(), QStringLiteral("+3120"));
        QCOMPARE(calls.at(0).at(1).toString(), sipId);
        QVERIFY(field()->text().isEmpty());
        QCOMPARE(callAction()->text(), QStringLiteral("Bel"));
        QVERIFY(!callAction()->isEnabled());
    }

    void emptyField_emitsNothing()
    {
        QSignalSpy widgetCalls(m_tray->callWidget(), &IMenuCallWidget::callNumber);
        QSignalSpy calls(m_tray.get(), &SystemTrayIcon::callNumber);
        QTest::keyClick(field(), Qt::Key_Return);
        QTest::keyClick(field(), Qt::Key_Enter);
        m_tray->callWidget()->onCallClicked();
        m_tray->callWidget()->onReturnPressed();
        QCOMPARE(widgetCalls.count(), 0);
        QCOMPARE(calls.count(), 0);
        QVERIFY(field()->text().isEmpty());
    }

    void openingMenu_clearsAndFocusesField()
    {
        field()->setText(QStringLiteral("0123"));
        QCOMPARE(callAction()->text(), QStringLiteral("Bel: 0123"));

        menu()->popup(QPoint(10, 10));
        QTRY_VERIFY(menu()->isVisible());
        QVERIFY(field()->text().isEmpty());
        QCOMPARE(callAction()->text(), QStringLiteral("Bel"));
        QTRY_VERIFY(field()->hasFocus());
        menu()->hide();
    }

    void typingIntoOpenMenu_dialsWithReturn()
    {
        Settings().set(QStringLiteral("ClickToDial"), QStringLiteral("DefaultSip"), QStringLiteral("sip-1"));
        QSignalSpy calls(m_tray.get(), &SystemTrayIcon::callNumber);
        menu()->popup(QPoint(10, 10));
        QTRY_VERIFY(menu()->isVisible());
        QWindow* window = menu()->windowHandle();
        QVERIFY(window);

        // Keys go through the window, as the user's keyboard would deliver them.
        QTest::keyClick(window, Qt::Key_Return);
        QCOMPARE(calls.count(), 0);
        for (char digit : {'0', '6', '1', '2'})
            QTest::keyClick(window, digit);
        QCOMPARE(field()->text(), QStringLiteral("0612"));
        QTest::keyClick(window, Qt::Key_Return);

        QCOMPARE(calls.count(), 1);
        QCOMPARE(calls.at(0).at(0).toString(), QStringLiteral("0612"));
        QCOMPARE(calls.at(0).at(1).toString(), QStringLiteral("sip-1"));
        QTRY_VERIFY(!menu()->isVisible());
        QVERIFY(field()->text().isEmpty());
    }

    void plainClick_popsUpMenu_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("shown");
        QTest::newRow("plain click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << false;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
        QTest::newRow("context") << int(QSystemTrayIcon::Context) << false;
    }

    void plainClick_popsUpMenu()
    {
        QFETCH(int, reason);
        QFETCH(bool, shown);
        emit m_tray->activated(QSystemTrayIcon::ActivationReason(reason));
        if (shown)
            QTRY_VERIFY(menu()->isVisible());
        else
            QVERIFY(!menu()->isVisible());
        menu()->hide();
    }

    void textInputAction_isABareNumberField()
    {
        QPointer<TextInputAction> input = new TextInputAction();
        auto* edit = qobject_cast<QLineEdit*>(input->action()->defaultWidget());
        QVERIFY(edit);
        QCOMPARE(edit->placeholderText(), QStringLiteral("Voer telefoonnummer in"));
        QVERIFY(edit->inputMask().isEmpty());
        QTest::keyClicks(edit, QStringLiteral("0612"));
        QCOMPARE(input->inputtedText(), QStringLiteral("0612"));
        input->clear();
        QVERIFY(input->inputtedText().isEmpty());

        // It reacts to no event, yet can still be scheduled for deletion.
        input->deleteLater();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(input.isNull());
    }

    void rejected_hidesMenu()
    {
        menu()->popup(QPoint(10, 10));
        QTRY_VERIFY(menu()->isVisible());
        emit m_tray->callWidget()->rejected();
        QVERIFY(!menu()->isVisible());
    }
};

QTEST_MAIN(TestTray)
#include "test_tray.moc"
