#include "ButtonGroupAction.h"
#include "CallDialog.h"
#include "CallHistory.h"
#include "CallJournalDialog.h"
#include "CallRouter.h"
#include "Clock.h"
#include "DialWindow.h"
#include "MessageBox.h"
#include "RecentCallsMenu.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SipAccount.h"
#include "SipAccountManager.h"
#include "SystemTrayIcon.h"
#include "TestSupport.h"

#include <QtTest>
#include <QtWidgets>

namespace {
// The visible entries; "-" for a separator, "x " before a disabled entry.
QStringList shown(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions())
        if (action->isVisible())
            texts << (action->isSeparator() ? QStringLiteral("-") : (action->isEnabled() ? "" : "x ") + action->text());
    return texts;
}
// The entry of a menu with this object name.
QAction* entry(const QMenu* menu, const QString& name)
{
    for (QAction* action : menu->actions())
        if (action->objectName() == name)
            return action;
    return nullptr;
}
// A call request as "origin number sipId source name", empty fields kept.
QString request(const QVariantList& signal)
{
    const OutgoingCall call = signal.value(0).value<OutgoingCall>();
    return QStringLiteral("%1 %2 %3 %4 %5").arg(call.origin).arg(call.number, call.sipId).arg(call.source).arg(call.contactName);
}
QStringList requests(const QSignalSpy& spy)
{
    QStringList list;
    for (const QVariantList& signal : spy)
        list << request(signal);
    return list;
}
} // namespace

// The roads to a call: the tray menu's number field, the dial window, the plug-ins' call dialog, and the call history
// ("Recente gesprekken" in the tray, the "Gesprekken" window).
class TestCalls : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

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
        QTest::newRow("Bel") << QStringList{"+31201234567", "Bel", "+31201234567", ""}; // the road takes the default
        QTest::newRow("Return") << QStringList{"0612-345678", "Return", "0612-345678", ""};
        QTest::newRow("Bel met") << QStringList{"0612", "Thuis", "0612", "thuis"};
        QTest::newRow("letters refused, + only in front") << QStringList{"06 ab<12>+", "Return", "06 12", ""};
        QTest::newRow("empty field dials nothing") << QStringList{"abc", "Return", "", ""};
    }

    void trayNumber_dialsWithDefaultOrChosenAccount()
    {
        QFETCH(QStringList, c);
        const QString typed = c[0], how = c[1], number = c[2], sipId = c[3];
        SystemTrayIcon tray;
        auto* field = tray.callWidget()->inputField();
        QMenu* callWith = entry(tray.menu(), QStringLiteral("actCallWith"))->menu();
        QSignalSpy calls(&tray, &SystemTrayIcon::callRequested);
        QTest::keyClicks(field, typed);
        QCOMPARE(field->text(), number);
        QCOMPARE(callWith->menuAction()->isEnabled(), !number.isEmpty());
        const QStringList offered = shown(callWith);
        QCOMPARE(offered, (QStringList{QStringLiteral("Kantoor"), QStringLiteral("Thuis")}));

        if (how == QLatin1String("Return"))
            QTest::keyClick(field, Qt::Key_Return);
        else if (how == QLatin1String("Bel"))
            entry(tray.menu(), QStringLiteral("actCall"))->trigger();
        else
            callWith->actions().at(offered.indexOf(how))->trigger();
        QCOMPARE(requests(calls), number.isEmpty() ? QStringList() : QStringList{"0 " + number + ' ' + sipId + " 0 "});
        QVERIFY(field->text().isEmpty());
    }

    void dialog_showsNameAsTextCallsChosenNumberWithDefaultOrChosenAccount_data()
    {
        // The name (markup in it is shown, not obeyed), the entry, the number called (without the label: the
        // bracketed part at its end), how, and the account (empty: the default).
        QTest::addColumn<QStringList>("c");
        QTest::newRow("Bellen") << QStringList{"<img src=\"/etc/passwd\"><a href=\"http://x.invalid\">Zoë</a>",
                                               "+31612345678 (werk)", "+31612345678 ", "btnCall", ""};
        QTest::newRow("Return, brackets in the number and the label")
            << QStringList{"</span><h1>Groot</h1> & Piet", "+31 (0)20 123 (Werk (oud))", "+31 (0)20 123 ", "Return", ""};
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
        QSignalSpy pressed(&dialog, &CallDialog::callRequested);
        QMenu* accounts = dialog.findChild<QPushButton*>(QStringLiteral("btnCallWith"))->menu();
        if (how == QLatin1String("btnCall"))
            QTest::mouseClick(dialog.findChild<QPushButton*>(how), Qt::LeftButton);
        else if (how == QLatin1String("Return"))
            QTest::keyClick(&dialog, Qt::Key_Return);
        else
            accounts->actions().at(1)->trigger();
        QCOMPARE(requests(pressed), QStringList{QStringLiteral("2 %1 %2 1026 %3").arg(number, sipId, name)});
        QVERIFY(dialog.isVisible()); // open for the outcome, of its own call only
        auto* status = dialog.findChild<QLabel*>(QStringLiteral("lblStatus"));
        const QString before = status->text();
        const quint64 id = pressed.at(0).at(0).value<OutgoingCall>().id;
        dialog.onCallFinished(id + 1, true);
        QCOMPARE(status->text(), before);
        dialog.onCallFinished(id, false);
        QCOMPARE(QTextDocumentFragment::fromHtml(status->text()).toPlainText(), CallDialog::statusText(false));
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
        QVERIFY(field->hasFocus() && !accounts->isHidden()); // with a tray, no "Instellingen" (see the e2e journeys)
        QVERIFY(window.findChild<QPushButton*>(QStringLiteral("btnSettings"))->isHidden());
        QCOMPARE(accounts->currentText(), QStringLiteral("Thuis"));
        if (account.isEmpty())
            SipAccountManager::instance()->removeSipAccount(QStringLiteral("thuis"));
        QCOMPARE(accounts->isHidden(), account.isEmpty());
        QSignalSpy calls(&window, &DialWindow::callRequested);
        QTest::keyClick(field, Qt::Key_Return); // nothing to dial yet
        QTest::keyClicks(field, QStringLiteral("06-12 ab+3"));
        if (!account.isEmpty())
            accounts->setCurrentIndex(accounts->findText(account));
        if (returnKey)
            QTest::keyClick(field, Qt::Key_Return);
        else
            QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("btnDial")), Qt::LeftButton);
        // Without a list the road takes the default.
        QCOMPARE(requests(calls), QStringList{"1 06-12 3 " + account.toLower() + " 0 "});
        const quint64 id = calls.at(0).at(0).value<OutgoingCall>().id;
        window.onCallFinished(id + 1, !success); // another window's call: none of this one's business
        window.onCallFinished(id, success);
        window.onCallFinished(id, !success); // no second call pending: ignored
        auto* status = window.findChild<QLabel*>(QStringLiteral("lblDialStatus"));
        QCOMPARE(status->text(), CallDialog::statusText(success));
        QTRY_COMPARE(window.isVisible(), !success);
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        window.prepare();
        QCOMPARE(field->text(), success ? QString() : QStringLiteral("06-12 3"));
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
                 (QStringList{QStringLiteral("0303"), QStringLiteral("06 12"), QStringLiteral("0201111"), QStringLiteral("+31612")}));
        // Return dials what was typed, also while the completions are open.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy calls(&window, &DialWindow::callRequested);
        QTest::keyClicks(field, QStringLiteral("0201111"));
        QTRY_VERIFY(field->completer()->popup()->isVisible());
        QTest::keyClick(field->completer()->popup(), Qt::Key_Return);
        QCOMPARE(requests(calls), QStringList{"1 0201111 kantoor 0 "}); // as the list shows it
    }

    // A number found in the selection waits selected in the field: Return dials it as found (the log names the
    // selection), typing replaces it, the other numbers come first among the completions; none found says so, and
    // where only the clipboard can be read, how to get one there.
    void dialWindow_offersFoundNumbers()
    {
        const struct { QStringList found; bool clipboardOnly; QString typed, request; int statusLines; } table[] = {
            {{"+31201234567", "0612345678"}, false, "", "6 +31201234567", 0},
            {{"0201234567"}, false, "0207654321", "1 0207654321", 0},
            {{}, false, "", "", 1},
            {{}, true, "", "", 2}};
        CallHistory history(QDir(TestSupport::testHome()).filePath(QStringLiteral("found.jsonl")));
        CallRecord recent;
        recent.number = QStringLiteral("0303");
        history.add(recent);
        DialWindow window(&history, false);
        auto* field = window.findChild<QLineEdit*>(QStringLiteral("txtDialNumber"));
        auto* status = window.findChild<QLabel*>(QStringLiteral("lblDialStatus"));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (const auto& row : table) {
            window.prepare();
            window.offerFoundNumbers(row.found, row.clipboardOnly);
            QCOMPARE(field->selectedText(), row.found.value(0));
            QCOMPARE(qobject_cast<QStringListModel*>(field->completer()->model())->stringList(),
                     row.found.mid(1) + QStringList{QStringLiteral("0303")});
            QSignalSpy calls(&window, &DialWindow::callRequested);
            QTest::keyClicks(field, row.typed);
            QTest::keyClick(field, Qt::Key_Return);
            QCOMPARE(requests(calls).join(QString()).section(QLatin1Char(' '), 0, 1), row.request);
            QCOMPARE(status->text().isEmpty() ? 0 : status->text().count(QLatin1Char('\n')) + 1, row.statusLines);
        }
    }

    void recentMenu_newestTenAboveSettings_clearedOnlyAfterYes()
    {
        FixedClock clock(QDateTime(QDate(2026, 3, 10), QTime(14, 30)));
        Clock::setInstance(&clock);
        CallHistory history(m_dir.filePath(QStringLiteral("menu")));
        SystemTrayIcon tray;
        tray.setCallHistory(&history);
        RecentCallsMenu* menu = tray.recentCallsMenu();
        const QList<QAction*> top = tray.menu()->actions();
        // "Niet storen" stands between.
        QCOMPARE(top.at(top.indexOf(menu->menuAction()) + 2)->objectName(), QStringLiteral("actSettings"));
        // Every two hours back from now: the oldest two fall off, the last two shown were yesterday.
        for (int i = 0; i < 12; ++i)
            history.add({i == 9 ? CallRecord::Outgoing : CallRecord::Incoming,
                         Clock::currentMSecsSinceEpoch() - (11 - i) * 7200000LL,
                         i == 10 ? QString() : QStringLiteral("0201%1").arg(i, 2, 10, QLatin1Char('0')),
                         QStringList{"Anoniem", "Piet & <b>Jan</b>"}.value(i - 10), QString(), QString(), false});
        Clock::setInstance(nullptr);
        QCOMPARE(shown(menu),
                 (QStringList{"14:30 Piet && <b>Jan</b> (020111)", "x 12:30 Anoniem", "10:30 020109", "08:30 020108",
                              "06:30 020107", "04:30 020106", "02:30 020105", "00:30 020104", "09-03 22:30 020103",
                              "09-03 20:30 020102", "-", "Alle gesprekken…", "Geschiedenis wissen"}));

        QSignalSpy calls(&tray, &SystemTrayIcon::callRequested); // an entry calls back with the default account
        menu->actions().at(0)->trigger();
        QCOMPARE(requests(calls), QStringList{"3 020111  0 Piet & <b>Jan</b>"});
        for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            MessageBox::setNextAnswer(answer);
            menu->findChild<QAction*>(QStringLiteral("actClearHistory"))->trigger();
            QCOMPARE(history.calls().size(), answer == QMessageBox::Yes ? 0 : 12);
        }
        QCOMPARE(shown(menu),
                 (QStringList{"x Geen recente gesprekken", "-", "Alle gesprekken…", "x Geschiedenis wissen"}));
    }

    // The journal: Return or "Bellen" calls back the chosen caller, found by name in any case or part of the number;
    // "Nummer kopiëren" copies the number; a name cut off by its column shows in full as tool tip.
    void journal_searchCallBackCopyAndCutOffNames()
    {
        const struct { const char* how; const char* search; int row; QString number; } table[] = {
            // typed into the journal first; the row of what it shows; the number called, empty: none
            {"Return", "VRIES", 0, "0612345678"}, // a name in any case
            {"Return", "1111", 0, "0201111"},     // part of a number
            {"Return", "02012", 0, ""},           // the line called is not searched
            {"Bellen", "", 2, "0301234567"},      // and copy; newest first
            {"Bellen", "", 3, ""}};
        // Four calls; newest first: Piet, Jan, a caller without name, one without number.
        const QStringList calls{"|Anoniem", "0301234567|", "0201111|Jan", "0612345678|Piet de Vries"};
        for (const auto& t : table) {
            CallHistory history(m_dir.filePath(QString::number(&t - table)));
            for (int i = 0; i < calls.size(); ++i)
                history.add({CallRecord::Incoming, 1000000 + i * 60000, calls[i].section('|', 0, 0),
                             calls[i].section('|', 1), QStringLiteral("0201234567"), QString(), false});
            CallJournalDialog journal(&history);
            QSignalSpy called(&journal, &CallJournalDialog::callRequested);
            QTest::keyClicks(journal.findChild<QLineEdit*>(QStringLiteral("txtSearch")), QLatin1String(t.search));
            auto* view = journal.findChild<QTableView*>(QStringLiteral("tableView"));
            view->setCurrentIndex(view->model()->index(t.row, 0));
            for (int width : {1000, 40}) { // the first row's name: Piet's is cut off at 40, Jan's is not
                view->setColumnWidth(2, width);
                QHelpEvent help(QEvent::ToolTip, view->visualRect(view->model()->index(0, 2)).center(), QPoint());
                QApplication::sendEvent(view->viewport(), &help);
                const bool piet = view->model()->index(0, 2).data() == QStringLiteral("Piet de Vries");
                QTRY_COMPARE(QToolTip::text(), width < 100 && piet ? QStringLiteral("Piet de Vries") : QString());
                QToolTip::hideText();
            }
            if (qstrcmp(t.how, "Return") == 0)
                QTest::keyClick(view, Qt::Key_Return);
            else {
                emit view->customContextMenuRequested(view->visualRect(view->currentIndex()).center());
                auto* menu = journal.findChild<QMenu*>(QStringLiteral("mnuCallJournal"));
                const QString entries = t.number.isEmpty() ? "x Bellen|x Nummer kopiëren" : "Bellen|Nummer kopiëren";
                QCOMPARE(shown(menu).join('|'), entries);
                menu->actions().at(1)->trigger();
                QCOMPARE(QGuiApplication::clipboard()->text(), t.number);
                menu->actions().at(0)->trigger();
            }
            const QString name = calls.filter(t.number).value(0).section('|', 1);
            QCOMPARE(requests(called), t.number.isEmpty() ? QStringList() : QStringList{"4 " + t.number + "  0 " + name});
        }
    }

    // The journal follows the history row by row: the selected call stays selected and current when a call comes in
    // and when one is made from it, so Return calls it again.
    void journal_keepsTheSelectedCall()
    {
        CallHistory history(m_dir.filePath(QStringLiteral("selection")));
        const QStringList names{"Jan", "Piet", "Klaas"};
        for (int i = 0; i < names.size(); ++i)
            history.add({CallRecord::Incoming, 1000000 + i * 60000, "020100" + QString::number(i), names[i], "", "", false});
        CallRouter road(&history); // the service stood in for: every call succeeds at once
        connect(&road, &CallRouter::requested, &road, [&road](quint64 id) { road.onCallFinished(id, true); });
        CallJournalDialog journal(&history);
        connect(&journal, &CallJournalDialog::callRequested, &road, &CallRouter::start);
        QSignalSpy called(&journal, &CallJournalDialog::callRequested);
        auto* view = journal.findChild<QTableView*>(QStringLiteral("tableView"));
        view->selectRow(1); // Piet
        history.add({CallRecord::Incoming, 2000000, "0209999", "Nieuw", "", "", false});
        QTest::keyClick(view, Qt::Key_Return);
        QTest::keyClick(view, Qt::Key_Return); // after the call to Piet went into the history
        QCOMPARE(requests(called).join('|').count(" Piet"), 2);
        QCOMPARE(view->selectionModel()->selectedRows().value(0).siblingAtColumn(2).data().toString(), "Piet");
        QCOMPARE(history.calls().size(), 6);
    }
};

QTEST_MAIN(TestCalls)
#include "test_calls.moc"
