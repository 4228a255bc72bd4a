#include "CallHistory.h"
#include "Clock.h"
#include "DoNotDisturb.h"
#include "NewCallCount.h"
#include "ScreenPop.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "TestSupport.h"

#include <QtTest>

#include <ctime>

using namespace SettingsKeys;

namespace {
// The settings file as any other reader sees it: the text after "key=", null when the key is absent.
QString stored(const QString& key = kDoNotDisturbUntil)
{
    for (const QByteArray& line : TestSupport::readFile(Settings().fileName()).split('\n'))
        if (line.startsWith(key.toUtf8() + '='))
            return QString::fromUtf8(line.mid(key.size() + 1));
    return QString();
}
QDateTime at(const QString& iso) { return QDateTime::fromString(iso, Qt::ISODate); }
} // namespace

// "Niet storen" and the rules of the caller's page.
class TestDesk : public QObject
{
    Q_OBJECT

    FixedClock m_clock{QDateTime()};

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Amsterdam"); // local time with a change to summer time
        tzset();
        TestSupport::setApplicationIdentity();
    }
    void init()
    {
        QFile::remove(Settings().fileName());
        m_clock.setMoment(at("2024-06-12T10:00:00"));
        Clock::setInstance(&m_clock);
    }
    void cleanup() { Clock::setInstance(nullptr); }

    void choices_setTheirEnd_andARestartReadsItBack_data()
    {
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("choices");
        QTest::addColumn<int>("changes");
        QTest::addColumn<QString>("end"); // as stored; null: no key
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("1 uur") << "2024-06-12T10:15:30.250" << "hour" << 1 << "2024-06-12T11:15:30" << "Niet storen tot 11:15";
        QTest::newRow("1 uur into summer time") << "2024-03-31T01:30:00" << "hour" << 1 << "2024-03-31T03:30:00" << "Niet storen tot 03:30";
        QTest::newRow("tot morgen after midnight") << "2024-06-12T00:30:00" << "tomorrow" << 1 << "2024-06-13T08:00:00" << "Niet storen tot 08:00";
        QTest::newRow("tot ik het uitzet, twice") << "2024-06-12T10:00:00" << "always always" << 1 << "always" << "Niet storen";
        QTest::newRow("uitzetten") << "2024-06-12T10:00:00" << "always off off" << 2 << QString() << "";
    }
    void choices_setTheirEnd_andARestartReadsItBack()
    {
        QFETCH(QString, now);
        QFETCH(QString, choices);
        QFETCH(int, changes);
        QFETCH(QString, end);
        QFETCH(QString, toolTip);
        m_clock.setMoment(at(now));
        DoNotDisturb dnd;
        QSignalSpy changed(&dnd, &DoNotDisturb::changed);
        const QHash<QString, void (DoNotDisturb::*)()> choice{{"hour", &DoNotDisturb::setForOneHour},
            {"tomorrow", &DoNotDisturb::setUntilTomorrow}, {"always", &DoNotDisturb::setAlways}, {"off", &DoNotDisturb::turnOff}};
        for (const QString& name : choices.split(' '))
            (dnd.*choice.value(name))();
        QCOMPARE(changed.count(), changes);
        QCOMPARE(stored(), end);
        QCOMPARE(dnd.isOn(), !end.isNull());
        QCOMPARE(dnd.toolTipLine(), toolTip);
        const DoNotDisturb restarted;
        QCOMPARE(restarted.toolTipLine(), toolTip);
        QCOMPARE(restarted.until(), dnd.until());
    }

    // The end (11:00) is read back at a start; then time passes, or the machine sleeps: the wall clock jumps
    // while the monotonic timers stand still.
    void end_byItsTimerTheNextTickOrOnWaking_data()
    {
        QTest::addColumn<int>("endInMsecs");
        QTest::addColumn<int>("checkMsecs");
        QTest::addColumn<int>("passedMsecs");
        QTest::addColumn<bool>("woke"); // told at once, as after a resume
        QTest::newRow("its own timer, long check period") << 100 << 3600000 << 100 << false;
        QTest::newRow("tick after a sleep past the end") << 3600000 << 20 << 3660000 << false;
        QTest::newRow("woke past the end") << 3600000 << 3600000 << 3660000 << true;
        QTest::newRow("woke at the end") << 3600000 << 3600000 << 3600000 << true;
        QTest::newRow("woke before the end") << 3600000 << 3600000 << 3540000 << true;
    }
    void end_byItsTimerTheNextTickOrOnWaking()
    {
        QFETCH(int, endInMsecs);
        QFETCH(int, checkMsecs);
        QFETCH(int, passedMsecs);
        QFETCH(bool, woke);
        const bool ended = passedMsecs >= endInMsecs;
        m_clock.setMoment(at("2024-06-12T11:00:00").addMSecs(-endInMsecs));
        Settings().set(kNotificationsGroup, kDoNotDisturbUntil, "2024-06-12T11:00:00");
        DoNotDisturb dnd(checkMsecs);
        QSignalSpy changed(&dnd, &DoNotDisturb::changed);
        if (checkMsecs < endInMsecs)
            QTest::qWait(5 * checkMsecs); // ticks that find the end still ahead must keep the timer going
        m_clock.advanceMSecs(passedMsecs);
        QCOMPARE(dnd.isOn(), !ended); // a call that comes in now, before any tick
        if (woke)
            dnd.checkNow();
        else
            QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(changed.count(), int(ended));
        QCOMPARE(stored().isNull(), ended);
        QCOMPARE(dnd.toolTipLine().isEmpty(), ended);
    }

    void restart_readsTheStoredValue_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("until"); // "always", the end, or empty for off (and the key removed)
        QTest::newRow("always") << "always" << "always";
        QTest::newRow("end ahead") << "2024-06-12T14:00:00" << "2024-06-12T14:00:00";
        QTest::newRow("end in UTC") << "2024-06-12T12:00:00Z" << "2024-06-12T14:00:00";
        QTest::newRow("ended while not running") << "2024-06-12T09:59:59" << "";
        QTest::newRow("unreadable") << "morgen" << "";
        QTest::newRow("further than any choice") << "2024-06-14T10:00:01" << "";
    }
    void restart_readsTheStoredValue()
    {
        QFETCH(QString, value);
        QFETCH(QString, until);
        Settings().set(kNotificationsGroup, kDoNotDisturbUntil, value);
        const DoNotDisturb dnd;
        QCOMPARE(dnd.isOn(), !until.isEmpty());
        QCOMPARE(dnd.isAlways(), until == "always");
        QCOMPARE(dnd.until(), dnd.isAlways() || until.isEmpty() ? QDateTime() : at(until));
        QCOMPARE(stored(), until.isEmpty() ? QString() : value);
    }

    void template_acceptedOrRefusedWithItsReason_data()
    {
        QTest::addColumn<QString>("urlTemplate");
        QTest::addColumn<QString>("reason"); // a word of the reason; empty: accepted, and the journal's label names the server
        const QString crm = "https://crm.example.nl/";
        QTest::newRow("empty: off") << "" << "";
        QTest::newRow("upper case, blanks, port") << "  HTTP://crm.example.nl:8080/{op}#a  " << "";
        QTest::newRow("2000 characters") << crm + QString(1969, 'a') + "{nummer}" << "";
        QTest::newRow("2001 characters") << crm + QString(1970, 'a') + "{nummer}" << "lang";
        QTest::newRow("no placeholder") << crm + "zoek?tel={NUMMER}" << "{nummer}";
        QTest::newRow("in the server name") << "https://{naam}.example.nl/" << "servernaam";
        QTest::newRow("no server") << "https:///{nummer}" << "geldig";
        QTest::newRow("line break inside") << crm + "\n{nummer}" << "geldig";
        QTest::newRow("escape joined with a value") << crm + "?q=%4{nummer}%20" << "geldig";
    }
    void template_acceptedOrRefusedWithItsReason()
    {
        QFETCH(QString, urlTemplate);
        QFETCH(QString, reason);
        const QString problem = ScreenPop::templateProblem(urlTemplate);
        QVERIFY2(reason.isEmpty() ? problem.isEmpty() : problem.contains(reason), qPrintable(problem));
        const bool named = reason.isEmpty() && !urlTemplate.isEmpty();
        QCOMPARE(ScreenPop::openInLabel(urlTemplate), named ? "Openen in crm.example.nl" : "");
    }

    void page_carriesEveryValueEncoded_data()
    {
        QTest::addColumn<QString>("urlTemplate");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("url"); // as the browser gets it; empty: nothing opens
        const QString crm = "https://crm.example.nl/zoek?tel={nummer}&naam={naam}&op={op}";
        const QByteArray head = "https://crm.example.nl/zoek?tel=%2B31%2020%20123&naam=";
        QTest::newRow("controls, direction override") << crm << "Jan\r\nX: 1\t\u202Eab\x7F\x01" << head + "JanX%3A%201ab&op=0201";
        QTest::newRow("shell and URL syntax") << crm << "$(x)`id`;'\"#?/{op}" << head + "%24%28x%29%60id%60%3B%27%22%23%3F%2F%7Bop%7D&op=0201";
        QTest::newRow("cut keeps a character whole") << crm << QString(199, 'a') + "\U0001F600b" << head + QByteArray(199, 'a') + "%F0%9F%98%80&op=0201";
        QTest::newRow("longer than any address") << "https://crm.example.nl/?" + QString("{naam}").repeated(300) << QString(10000, u'é') << QByteArray();
    }
    void page_carriesEveryValueEncoded()
    {
        QFETCH(QString, urlTemplate);
        QFETCH(QString, name);
        QFETCH(QByteArray, url);
        QCOMPARE(ScreenPop::pageFor(urlTemplate, {"+31 20 123", name, "0201"}).toEncoded(), url);
    }

    // New calls: the incoming calls after the mark, read off the history; the mark beside it survives a restart.
    void newCalls_countedOffTheHistory_seenWhenOpened_keptOverARestart()
    {
        const QString dir = TestSupport::testHome() + "/calls", path = dir + "/calls.jsonl", mark = dir + "/calls.seen";
        const auto add = [](CallHistory& history, CallRecord::Direction direction, qint64 msecs) {
            history.add({direction, msecs, "0201", "", "", "", false});
        };
        {
            CallHistory history(path);
            add(history, CallRecord::Incoming, 1000);
            NewCallCount calls(&history); // the first start with a mark: what is there was seen
            QSignalSpy changed(&calls, &NewCallCount::changed);
            for (int i = 1; i <= 12; ++i)
                add(history, i == 5 ? CallRecord::Outgoing : CallRecord::Incoming, 1000 + i);
            QCOMPARE(calls.count(), 11);
            QCOMPARE(changed.count(), 11);
        }
        CallHistory history(path);
        NewCallCount calls(&history);
        QCOMPARE(calls.count(), 11);
        calls.markSeen();
        QCOMPARE(calls.count(), 0);
        QCOMPARE(TestSupport::readFile(mark), "1012\n");
        QCOMPARE(QFileInfo(mark).permissions() & 0x77, QFile::Permissions());
        add(history, CallRecord::Incoming, 2000);
        QCOMPARE(calls.count(), 1);
        history.clear();
        QCOMPARE(calls.count(), 0);
        // A mark that is a link: everything there is counts as seen, and nothing is written through it.
        add(history, CallRecord::Incoming, 3000);
        QVERIFY(QFile::remove(mark) && QFile::link(path, mark));
        const QByteArray file = TestSupport::readFile(path);
        QCOMPARE(NewCallCount(&history).count(), 0);
        QVERIFY(QFileInfo(mark).isSymLink() && TestSupport::readFile(path) == file);
    }
};

QTEST_GUILESS_MAIN(TestDesk)
#include "test_desk.moc"
