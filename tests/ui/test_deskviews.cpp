#include "CallHistory.h"
#include "CallJournalDialog.h"
#include "CallRouter.h"
#include "Clock.h"
#include "DialWindow.h"
#include "DoNotDisturb.h"
#include "IncomingCalls.h"
#include "NewCallCount.h"
#include "Notifier.h"
#include "RecentCallsMenu.h"
#include "ScreenPopOpener.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SystemTrayIcon.h"
#include "TestSupport.h"
#include "TrayBadges.h"
#include "TrayLook.h"
#include "Windows.h"

#include <QtTest>
#include <QtWidgets>

using namespace SettingsKeys;

namespace {
QAction* entry(const QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions())
        if (action->text() == text)
            return action;
    return nullptr;
}
CallJournalDialog* openJournal()
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* journal = qobject_cast<CallJournalDialog*>(top); journal && journal->isVisible())
            return journal;
    return nullptr;
}
// The names in bold in the open journal, top to bottom.
QString boldNames()
{
    QStringList names;
    const QAbstractItemModel* model = openJournal()->findChild<QTableView*>("tableView")->model();
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->index(row, 2).data(Qt::FontRole).value<QFont>().bold())
            names << model->index(row, 2).data().toString();
    return names.join('|');
}
} // namespace

// At the desk in the program's own views: the tray's "Niet storen" with its badges and tooltip beside the new calls,
// the dial window's checkbox, the road of an incoming call while it is on and with a page to open, and the journal's
// new calls and "Openen in …". The desktop's URL handler for web pages is this test.
class TestDeskViews : public QObject
{
    Q_OBJECT

    FixedClock m_clock{QDateTime(QDate(2024, 6, 12), QTime(10, 15))};
    QStringList m_opened;

public slots:
    void open(const QUrl& url) { m_opened << QString::fromUtf8(url.toEncoded()); }

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/karvelon/32")));
        Clock::setInstance(&m_clock);
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        Clock::setInstance(nullptr);
    }
    void init() { QFile::remove(Settings().fileName()), m_opened.clear(); }

    // Every view follows the one "Niet storen" and the one count: tray menu, tooltip and badges, dial window.
    void tray_composesChannelDoNotDisturbAndNewCalls_theDialWindowFollows()
    {
        CallHistory history(TestSupport::testHome() + "/tray/calls.jsonl");
        DoNotDisturb dnd;
        NewCallCount newCalls(&history);
        SystemTrayIcon tray;
        tray.setDesk(&dnd, &newCalls);
        DialWindow dial(nullptr, true); // without a tray
        dial.setDoNotDisturb(&dnd);
        auto* box = dial.findChild<QCheckBox*>("chkDoNotDisturb");
        auto* menu = tray.menu()->findChild<QMenu*>("mnuDoNotDisturb");
        const QList<QAction*> top = tray.menu()->actions();
        const int at = top.indexOf(menu->menuAction());
        QVERIFY(top.at(at - 1) == tray.recentCallsMenu()->menuAction() && top.at(at + 1)->objectName() == "actSettings");

        using S = ConnectionSupervisor::State;
        const struct { QString step; S state; int calls; QString toolTip; QString badges, count; } table[] = {
            // a menu entry, "box" (a click on the checkbox) or "seen"; the channel's state; new calls that come in
            {"", S::Stopped, 0, "Karvelon", "", ""},
            {"1 uur", S::Waiting, 3, "Karvelon\nNotificaties: opnieuw verbinden over 17 s\nNiet storen tot 11:15\n"
                                     "3 nieuwe oproep(en)", "cdg", "3"},
            {"Tot ik het uitzet", S::Connected, 7, "Karvelon\nNotificaties: verbonden\nNiet storen\n10 nieuwe oproep(en)",
             "cd", "9+"},
            {"seen", S::Connecting, 0, "Karvelon\nNotificaties: verbonden\nNiet storen", "d", ""},
            {"box", S::Connected, 1, "Karvelon\nNotificaties: verbonden\n1 nieuwe oproep(en)", "c", "1"},
            {"box", S::Disabled, 0, "Karvelon\nNotificaties: uitgeschakeld (controleer uw instellingen)\nNiet storen\n"
                                    "1 nieuwe oproep(en)", "cdg", "1"},
            {"Uitzetten", S::Stopped, 0, "Karvelon\n1 nieuwe oproep(en)", "c", "1"}};
        for (const auto& row : table) {
            if (row.step == "box")
                QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
            else if (row.step == "seen")
                newCalls.markSeen();
            else if (!row.step.isEmpty())
                entry(menu, row.step)->trigger();
            tray.setNotificationState(row.state, 17);
            for (int i = 0; i < row.calls; ++i)
                history.add({CallRecord::Incoming, Clock::currentMSecsSinceEpoch() + history.calls().size(), "0201", "",
                             "", "", false});
            const bool on = row.toolTip.contains("Niet storen");
            QCOMPARE(tray.toolTip(), row.toolTip);
            QCOMPARE(TestSupport::trayBadges(tray.icon().pixmap(64, 64).toImage()) + '|' + tray.look().countBadge(), row.badges + '|' + row.count);
            QCOMPARE(entry(menu, "Uitzetten")->isVisible(), on);
            QCOMPARE(menu->menuAction()->isChecked(), on);
            QCOMPARE(box->isChecked(), on);
        }
        QVERIFY(!box->isHidden());
        dial.setAppActions(false); // the tray has the menu
        QVERIFY(box->isHidden());
    }

    // The road of an incoming call: shown unless "Niet storen", recorded and counted always, the caller's page opened
    // once per call (automatically, or through the notification's "Openen"), never while "Niet storen" is on.
    void incomingCall_quietWhileDoNotDisturb_pageOncePerCall()
    {
        CallHistory history(TestSupport::testHome() + "/road/calls.jsonl");
        NewCallCount newCalls(&history);
        SystemTrayIcon tray;
        Notifier notifier(&tray, nullptr);
        DoNotDisturb dnd;
        ScreenPopOpener opener;
        IncomingCalls road(&notifier, &history);
        road.useDesk(&dnd, &opener);
        QSignalSpy balloons(&tray, &SystemTrayIcon::balloonShown);
        const QString crm = "https://crm.example.nl/?tel={nummer}&naam={naam}&op={op}";
        const QString page = "https://crm.example.nl/?tel=0612&naam=Jan%20%26%20Zo%C3%AB&op=0201";
        const struct { const char* mode; QString url; bool quiet; QString callId; bool shown; QStringList opened; } table[] = {
            {"auto", crm, false, "1", true, {page}},
            {"auto", crm, false, "1", true, {}}, // announced again
            {"auto", crm, true, "2", false, {}}, // a browser window is a pop-up too
            {"auto", "file:///tmp/{nummer}", false, "3", true, {}}, // refused, as stored by hand
            {"auto", crm, false, "3", true, {page}}, // the refusal did not use the call up
            {"auto", crm, false, "", true, {page}},
            {"auto", crm, false, "", true, {page}}, // without the service's id: another call
            {"button", crm, false, "4", true, {}}};
        for (const auto& row : table) {
            ScreenPop::writeSetup({row.url, ScreenPop::modeFromName(row.mode)});
            row.quiet ? dnd.setAlways() : dnd.turnOff();
            m_opened.clear();
            m_clock.advanceMSecs(1000);
            const int shown = balloons.count(), counted = newCalls.count();
            road.onIncomingCall({"0612", "Jan & Zoë", "0201", "", row.callId});
            QCOMPARE(balloons.count() - shown, int(row.shown));
            QCOMPARE(newCalls.count() - counted, 1);
            QCOMPARE(m_opened, row.opened);
        }
        // "Openen" clicked twice in a notification.
        road.openPage("call", {"0612", "Jan & Zoë", "0201"});
        road.openPage("call", {"0612", "Jan & Zoë", "0201"});
        QCOMPARE(m_opened, QStringList{page});
    }

    // The journal shows the new calls in bold until it closes (opening it has cleared the count), and opens the
    // caller's page each time "Openen in …" is chosen.
    void journal_newCallsBoldUntilClosed_opensTheCallersPageEachTime()
    {
        CallHistory history(TestSupport::testHome() + "/journal/calls.jsonl");
        history.add({CallRecord::Incoming, 1000, "0201", "Oud", "0201", "", false});
        NewCallCount newCalls(&history);
        history.add({CallRecord::Incoming, 2000, "0612", "Jan & Zoë", "0201", "", false});
        history.add({CallRecord::Outgoing, 3000, "0613", "Uit", "", "", true});
        CallRouter calls(&history);
        ScreenPopOpener opener;
        Windows windows(&calls, &history, nullptr, nullptr, nullptr);
        windows.setDesk(nullptr, &newCalls, &opener);
        windows.openCallJournal();
        QCOMPARE(newCalls.count(), 0);
        history.add({CallRecord::Incoming, 4000, "0614", "Piet", "0201", "", false});
        QCOMPARE(boldNames(), "Piet|Jan & Zoë"); // also a call that came in while it is open
        QCOMPARE(newCalls.count(), 1);

        CallJournalDialog* journal = openJournal();
        auto* view = journal->findChild<QTableView*>("tableView");
        const auto contextMenu = [&](int row) {
            emit view->customContextMenuRequested(view->visualRect(view->model()->index(row, 0)).center());
            QMenu* menu = journal->findChildren<QMenu*>("mnuCallJournal").last();
            menu->close();
            return menu;
        };
        QVERIFY(!contextMenu(1)->findChild<QAction*>("actOpenPage")); // no page set up
        ScreenPop::writeSetup({"https://crm.example.nl/{nummer}?naam={naam}&op={op}", ScreenPop::Mode::Button});
        for (int i = 0; i < 2; ++i) {
            QAction* open = contextMenu(2)->findChild<QAction*>("actOpenPage");
            QCOMPARE(open->text(), "Openen in crm.example.nl");
            open->trigger();
        }
        const QString page = "https://crm.example.nl/0612?naam=Jan%20%26%20Zo%C3%AB&op=0201";
        QCOMPARE(m_opened, (QStringList{page, page}));
        journal->close();
        QTRY_VERIFY(QApplication::topLevelWidgets().indexOf(journal) < 0);
        windows.openCallJournal();
        QCOMPARE(boldNames(), "Piet");
        QCOMPARE(newCalls.count(), 0);
    }
};

QTEST_MAIN(TestDeskViews)
#include "test_deskviews.moc"
