// The program put together, in process: the roads of a call from its windows to the service simulator and back, a
// call request that first asks for settings, and incoming calls named from the user's own address books (the balloon
// of an incoming call is checked on a real tray, end to end).
#include "AddressBook.h"
#include "CallDialog.h"
#include "CallHistory.h"
#include "CallJournalModel.h"
#include "DialWindow.h"
#include "E2eSupport.h"
#include "KarvelonApplication.h"
#include "MessageBox.h"
#include "PbxSimulator.h"
#include "PrivateBus.h"
#include "SecretStore.h"
#include "Settings.h"
#include "TestSupport.h"
#include "Windows.h"

#include <QtTest>
#include <QtWidgets>

class TestController : public QObject
{
    Q_OBJECT

private slots:
    void showCallDialog_asksForSettingsWithoutCredentials()
    {
        const struct { SourceType::Type type; const char* key; int answer; QStringList dialogs; } table[] = {
            // the answer to "open the settings?", -1: no question; each dialog that opened, noted and closed
            {SourceType::MsOutlook, "", QMessageBox::No, {}},
            {SourceType::Thunderbird, "", QMessageBox::Yes, {"SettingsDialog", "CallDialog"}},
            {SourceType::Thunderbird, "sleutel", -1, {"CallDialog"}},
            {SourceType::ClickToDial, "sleutel", QMessageBox::No, {}}}; // click-to-dial asks anyway
        app()->secrets()->load(); // no keyring on the test's bus: the settings file
        QTRY_VERIFY(app()->secrets()->isLoaded());
        for (const auto& row : table) {
            QFile::remove(Settings().fileName());
            Settings().set(SourceType::settingsGroup(row.type), "Id", "api-id");
            app()->secrets()->save({{SourceType::settingsGroup(row.type), "Key", row.key}});
            MessageBox::clearAnswers();
            if (row.answer >= 0)
                MessageBox::setNextAnswer(QMessageBox::StandardButton(row.answer));
            QStringList dialogs;
            QTimer closer;
            connect(&closer, &QTimer::timeout, [&dialogs]() {
                if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    dialogs << dialog->metaObject()->className(), dialog->reject();
            });
            closer.start(20);
            app()->windows()->showCallDialog(row.type, "Helpdesk", {"0123 (Werk)"});
            QCOMPARE(MessageBox::shownCount(), row.answer >= 0 ? 1 : 0);
            QTest::qWait(200);
            QCOMPARE(dialogs, row.dialogs);
        }
    }

    // A call shows its outcome as soon as the service gives it, in the window that started it, while the
    // notification channel's registration waits for the service much longer; two calls from two windows at once
    // each show their own. Runs in a child whose program talks to the simulator this process started.
    void callOutcome_inItsOwnWindow_neverBehindTheChannel()
    {
        if (qEnvironmentVariableIsEmpty("KARVELON_TEST_SIM")) {
            PbxSimulator sim;
            QVERIFY2(sim.start(), sim.output().constData());
            E2e::seedDemoCustomer(true, {"201", "202"});
            QVERIFY(runInChild(sim));
            return;
        }
        PbxSimulator sim;
        sim.attach(qEnvironmentVariable("KARVELON_TEST_SIM"));
        const QJsonObject slow{{"delayMs", 2000}};
        QVERIFY(sim.setBehaviour({{"endpoints", QJsonObject{{"/api/krpopnotify.php", QJsonObject{{"delayMs", 8000}}},
                                                            {"/api/cltodlapp.php", slow},
                                                            {"/api/ouctdpl.php", QJsonObject{{"delayMs", 2500}, {"status", 500}}}}}}));
        app()->init();
        QTest::qWait(500); // the channel's registration is on its way

        QElapsedTimer clock;
        clock.start();
        DialWindow* dial = app()->windows()->openDialWindow();
        QTest::keyClicks(dial->findChild<QLineEdit*>("txtDialNumber"), "0201234567");
        QTest::mouseClick(dial->findChild<QPushButton*>("btnDial"), Qt::LeftButton);
        app()->windows()->showCallDialog(SourceType::Thunderbird, "Jan", {"0612345678 (Mobiel)"});
        CallDialog* dialog = nullptr;
        QTRY_VERIFY(dialog = qobject_cast<CallDialog*>(QApplication::activeModalWidget()));
        QTest::mouseClick(dialog->findChild<QPushButton*>("btnCall"), Qt::LeftButton);

        auto* dialStatus = dial->findChild<QLabel*>("lblDialStatus");
        QTRY_VERIFY_WITH_TIMEOUT(!dialStatus->text().isEmpty(), 6000);
        QVERIFY2(clock.elapsed() <= 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(dialStatus->text(), CallDialog::statusText(true));
        auto* dialogStatus = dialog->findChild<QLabel*>("lblStatus");
        QTRY_COMPARE_WITH_TIMEOUT(QTextDocumentFragment::fromHtml(dialogStatus->text()).toPlainText(),
                                  CallDialog::statusText(false), 6000);
        // Both outcomes came while the registration still waited for its answer.
        QStringList endpoints;
        for (const QJsonValue request : sim.requests())
            endpoints << request["endpoint"].toString();
        QCOMPARE(endpoints.filter("krpopnotify").size(), 0);
    }

    // A pushed call from a number in a vCard folder, and one from Thunderbird's address book, shows "Naam (nummer)"
    // in the desktop notification and in the history, marked in its file and in the journal (italics, with where the
    // name came from as tooltip); a name the service sent stays.
    // A vCard file replaced on disk and Thunderbird switched off in the settings are followed without a restart.
    // Runs in a child on a private bus with a notification server.
    void incomingCall_namedFromTheUsersOwnAddressBooks()
    {
        const QString cards = QDir::homePath() + "/contacten", jan = cards + "/jan.vcf";
        if (qEnvironmentVariableIsEmpty("KARVELON_TEST_SIM")) {
            PbxSimulator sim;
            PrivateBus bus;
            QVERIFY2(sim.start(), sim.output().constData());
            QVERIFY(bus.start() && bus.startMock("notification_daemon", kNotifications, {{"capabilities", "body"}}));
            E2e::seedDemoCustomer(true);
            QFile::remove(CallHistory::defaultFilePath()); // the calls of the test before
            QVERIFY(writeFile(jan, "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Jan de Vries\r\n"
                                   "TEL;VALUE=uri:tel:+31-20-1234567\r\nEND:VCARD\r\n"));
            const QString profile = QDir::homePath() + "/.thunderbird/p1"; // with its table of card properties
            QVERIFY(writeFile(profile + "/../profiles.ini", "[Profile0]\nIsRelative=1\nPath=p1\n")
                    && QDir().mkpath(profile));
            const QString sql = "CREATE TABLE properties (card, name, value); INSERT INTO properties VALUES "
                                "('a','DisplayName','\u00D6laf Donder'),('a','WorkPhone','010-5550001');";
            QCOMPARE(QProcess::execute("sqlite3", {profile + "/abook.sqlite", sql}), 0);
            Settings().set("AddressBooks", "VCardPath", cards);
            QVERIFY(runInChild(sim, bus.address()));
            return;
        }
        PbxSimulator sim;
        sim.attach(qEnvironmentVariable("KARVELON_TEST_SIM"));
        app()->init();
        QTRY_VERIFY_WITH_TIMEOUT(app()->addressBook() && app()->addressBook()->isReady(), 30000);
        const CallJournalModel journal(app()->callHistory());
        const struct { const char* number; const char* contact; QString caller; bool marked; } table[] = {
            {"0201234567", "", "Jan de Vries (0201234567)", true},          // the vCard folder
            {"+31105550001", "", "\u00D6laf Donder (+31105550001)", true}, // Thunderbird's address book
            {"0201234567", "Receptie", "Receptie (0201234567)", false},     // the service's name stays
            {"0201234567", "", "Jan Bakker (0201234567)", true}};           // the file replaced meanwhile
        for (const auto& row : table) {
            if (&row == &table[3]) {
                QVERIFY(writeFile(jan, "BEGIN:VCARD\nFN:Jan Bakker\nTEL:020 1234567\nEND:VCARD\n"));
                QTRY_COMPARE_WITH_TIMEOUT(app()->addressBook()->lookup("0201234567"), "Jan Bakker", 30000);
            }
            const int before = app()->callHistory()->calls().size();
            QVERIFY(pushIncomingCall(sim, {{"callerID", row.number}, {"did", "201"}, {"contact", row.contact}}));
            QTRY_COMPARE_WITH_TIMEOUT(app()->callHistory()->calls().size(), before + 1, 15000);
            const CallRecord call = app()->callHistory()->calls().last();
            QCOMPARE(call.name + " (" + call.number + ")", row.caller);
            const QModelIndex name = journal.index(0, CallJournalModel::NameColumn); // the newest call
            QCOMPARE(name.data(Qt::FontRole).value<QFont>().italic(), row.marked);
            QCOMPARE(name.data(Qt::ToolTipRole).toString(), row.marked ? "Uit uw adresboek: " + call.name : "");
            const QString body = "Inkomende oproep van " + row.caller + " op 201.";
            QTRY_COMPARE_WITH_TIMEOUT(notifyBodies().value(&row - table), body, 15000);
        }
        QCOMPARE(TestSupport::readFile(CallHistory::defaultFilePath()).count("\"nameSource\":\"addressbook\""), 3);

        Settings().set("AddressBooks", "Thunderbird", false);
        emit app()->settingsUpdated();
        QTRY_VERIFY_WITH_TIMEOUT(app()->addressBook()->lookup("0105550001").isEmpty(), 30000);
        QCOMPARE(app()->addressBook()->lookup("0201234567"), "Jan Bakker");
    }

private:
    static KarvelonApplication* app() { return qobject_cast<KarvelonApplication*>(qApp); }

    // Runs the current test function again in a child whose program talks to this simulator, on this session bus.
    static bool runInChild(const PbxSimulator& sim, const QString& sessionBus = QString())
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KARVELON_TEST_SIM", sim.ports());
        if (!sessionBus.isEmpty())
            env.insert("DBUS_SESSION_BUS_ADDRESS", sessionBus);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(QTest::currentTestFunction())});
        return child.waitForFinished(90000) && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    }

    // Once the notification channel is up, the service pushes a call.
    static bool pushIncomingCall(PbxSimulator& sim, const QJsonObject& call)
    {
        return QTest::qWaitFor([&sim]() { return sim.control("GET", "notify-state")["registered"].toInt() > 0; }, 30000)
               && sim.control("POST", "notify", call)["delivered"].toInt() == 1;
    }

    // The body of every incoming call the notification server was asked to show, oldest first.
    static QStringList notifyBodies()
    {
        QDBusMessage getCalls = QDBusMessage::createMethodCall(kNotifications, "/org/freedesktop/Notifications",
                                                               "org.freedesktop.DBus.Mock", "GetMethodCalls");
        getCalls.setArguments({"Notify"});
        QStringList bodies;
        for (const QVariantList& arguments : PrivateBus::methodCalls(QDBusConnection::sessionBus().call(getCalls)))
            bodies << arguments.value(4).toString();
        return bodies.filter(QRegularExpression("^Inkomende oproep")); // not what the channel may have to say
    }

    static bool writeFile(const QString& path, const QByteArray& content)
    {
        QSaveFile file(path); // replaced by renaming, as sync tools do
        return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(content) >= 0
               && file.commit();
    }

    static inline const QString kNotifications = "org.freedesktop.Notifications";
};

int main(int argc, char** argv)
{
    PbxSimulator sim;
    sim.attach(qEnvironmentVariable("KARVELON_TEST_SIM"));
    ServiceConfig config = sim.config();
    config.commandServerName = TestSupport::uniqueSocketPath("cmd");
    config.serviceStartDelayMsecs = 0; // the channel registers at once
    config.addressBookRebuildDelayMsecs = 100;
    KarvelonApplication app(argc, argv, config);
    TestController test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_controller.moc"
