#include "ButtonGroupAction.h"
#include "CallHistory.h"
#include "CallJournalDialog.h"
#include "Clock.h"
#include "KarvelonApi.h"
#include "MessageBox.h"
#include "PbxSimulator.h"
#include "RecentCallsMenu.h"
#include "Settings.h"
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
} // namespace

// The call history as the user sees it: "Recente gesprekken" in the tray and the "Gesprekken" window.
class TestHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    PbxSimulator m_sim;

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
        QVERIFY2(m_sim.start(), m_sim.output().constData());
        Settings settings; // the simulator's demo customer; "202" is the default click-to-dial account
        for (const QString kv :
             {"CustomerGroup/Number=100234", "CustomerGroup/Password=demo-wachtwoord", "ClickToDial/Id=c2d-demo",
              "ClickToDial/Key=c2d-demo-sleutel-7f3a", "ClickToDial/DefaultSip=202"})
            settings.set(kv.section('/', 0, 0), kv.section('/', 1).section('=', 0, 0), kv.section('=', 1));
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
        QCOMPARE(top.at(top.indexOf(menu->menuAction()) + 1)->objectName(), QStringLiteral("actSettings"));
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

        QSignalSpy journal(&tray, &SystemTrayIcon::openCallJournal);
        menu->findChild<QAction*>(QStringLiteral("actAllCalls"))->trigger();
        QCOMPARE(journal.count(), 1);
        for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            MessageBox::setNextAnswer(answer);
            menu->findChild<QAction*>(QStringLiteral("actClearHistory"))->trigger();
            QCOMPARE(history.calls().size(), answer == QMessageBox::Yes ? 0 : 12);
        }
        QCOMPARE(shown(menu),
                 (QStringList{"x Geen recente gesprekken", "-", "Alle gesprekken…", "x Geschiedenis wissen"}));
    }

    void callBack_reachesServiceAsClickToDialWithDefaultAccount()
    {
        const struct { const char* how; const char* search; int row; QString number; } table[] = {
            // typed into the journal first; the row of what it shows; the number called, empty: none
            {"menu", "", 0, "0612345678"},
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
            KarvelonApi api(m_sim.config());
            SystemTrayIcon tray;
            tray.setCallHistory(&history);
            CallJournalDialog journal(&history);
            // As the controller wires them.
            connect(&tray, &SystemTrayIcon::callNumber, &api,
                    [&api](const QString& n, const QString& sipId) { api.call(n, SourceType::ClickToDial, sipId); });
            connect(&journal, &CallJournalDialog::callNumber, &api, [&api](const QString& n) {
                api.call(n, SourceType::ClickToDial, ButtonGroupAction::defaultSipId());
            });
            QTest::keyClicks(journal.findChild<QLineEdit*>(QStringLiteral("txtSearch")), QLatin1String(t.search));
            auto* view = journal.findChild<QTableView*>(QStringLiteral("tableView"));
            view->setCurrentIndex(view->model()->index(t.row, 0));
            const int before = m_sim.requests().size();
            if (qstrcmp(t.how, "menu") == 0)
                tray.recentCallsMenu()->actions().at(t.row)->trigger();
            else if (qstrcmp(t.how, "Return") == 0)
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
            QString called; // "<script> <number>@<account>" of a new request
            const QJsonArray requests = m_sim.requests();
            for (int i = before; i < requests.size(); ++i)
                called += requests[i]["endpoint"].toString() + ' ' + requests[i]["params"]["telnr"].toString() + '@' +
                          requests[i]["params"]["sipacc"].toString();
            QCOMPARE(called, t.number.isEmpty() ? QString() : "/api/cltodlapp.php " + t.number + "@202");
        }
    }

    void cutOffCell_showsWholeTextAsToolTip()
    {
        const QString name = QStringLiteral("Gemeente Westerwolde, afdeling Burgerzaken");
        CallHistory history(m_dir.filePath(QStringLiteral("tips")));
        history.add({CallRecord::Incoming, 0, QStringLiteral("0599"), name, QString(), QString(), false});
        CallJournalDialog journal(&history);
        auto* view = journal.findChild<QTableView*>(QStringLiteral("tableView"));
        const QModelIndex index = view->model()->match(view->model()->index(0, 2), Qt::DisplayRole, name).value(0);
        for (int width : {1000, 60}) {
            view->setColumnWidth(2, width);
            QHelpEvent help(QEvent::ToolTip, view->visualRect(index).center(), QPoint());
            QApplication::sendEvent(view->viewport(), &help);
            QTRY_COMPARE(QToolTip::text(), width < 100 ? name : QString());
        }
    }
};

QTEST_MAIN(TestHistory)
#include "test_history.moc"
