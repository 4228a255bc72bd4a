#include "CallDialog.h"
#include "KarvelonApplication.h"
#include "Logger.h"
#include "MessageBox.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "TestSupport.h"

#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {
const QString CallQuestion = QStringLiteral("Er zijn geen geldige instelling gevonden voor het initïeren van een "
                                            "telefoongesprek. Wilt u deze nu instellen?");
const QString StartQuestion = QStringLiteral(
    "Karvelon kon geen instellingen vinden om van de services gebruik te maken. Wilt u deze nu instellen?");

int countRecords(const QString& component, const QString& message)
{
    int count = 0;
    const QList<QJsonObject> records = Logger::instance()->readLogRecords();
    for (const QJsonObject& record : records) {
        if (record.value(QStringLiteral("component")).toString() == component
            && record.value(QStringLiteral("msg")).toString() == message)
            ++count;
    }
    return count;
}

template <typename T>
QList<T*> visibleTopLevels()
{
    QList<T*> found;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        if (auto* typed = qobject_cast<T*>(widget); typed && typed->isVisible())
            found.append(typed);
    }
    return found;
}

// Watches the dialogs that the controller opens in its own loops and lets a
// test act on them (close them, open more) from inside those loops.
class DialogWatcher : public QObject
{
public:
    std::function<void(SettingsDialog*)> onSettings = [](SettingsDialog* dialog) { dialog->reject(); };
    std::function<void(const QList<CallDialog*>&)> onCallDialogs = [](const QList<CallDialog*>& dialogs) {
        dialogs.first()->reject();
    };
    QStringList settingsTabs;
    QList<SourceType::Type> callDialogTypes;
    int maxCallDialogs = 0;

    DialogWatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, [this]() { poll(); });
        m_timer.start(20);
    }

private:
    void poll()
    {
        const QList<SettingsDialog*> settings = visibleTopLevels<SettingsDialog>();
        if (!settings.isEmpty()) {
            auto* tabs = settings.first()->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
            settingsTabs.append(tabs && tabs->currentWidget() ? tabs->currentWidget()->objectName() : QString());
            onSettings(settings.first());
            return;
        }
        const QList<CallDialog*> calls = visibleTopLevels<CallDialog>();
        if (calls.isEmpty())
            return;
        maxCallDialogs = qMax(maxCallDialogs, calls.size());
        for (CallDialog* dialog : calls) {
            if (!m_seen.contains(dialog)) {
                m_seen.append(dialog);
                callDialogTypes.append(dialog->sourceType());
            }
        }
        onCallDialogs(calls);
    }

    QTimer m_timer;
    QList<CallDialog*> m_seen;
};
} // namespace

class TestController : public QObject
{
    Q_OBJECT

public:
    explicit TestController(KarvelonApplication* app) : m_app(app) {}

private slots:
    void init();
    void alreadyStartedMessage_showsBalloon();
    void ignoredMessages_doNothing_data();
    void ignoredMessages_doNothing();
    void pluginRequest_missingCredentials_answeredNo_showsNoDialog();
    void pluginRequest_missingCredentials_answeredYes_opensSettingsThenDialog();
    void clickToDialSource_alwaysAsks();
    void callMessage_withCredentials_opensThunderbirdDialog();
    void severalDialogs_canBeOpenAtOnce();
    void incomingCall_logsAndShowsText();
    void applicationStarted_asksOnlyWithoutCredentials_data();
    void applicationStarted_asksOnlyWithoutCredentials();
    void qtOwnTexts_areDutch();

private:
    static void clearSettings();
    KarvelonApplication* m_app;
};

void TestController::clearSettings()
{
    QFile::remove(Settings().fileName());
}

void TestController::init()
{
    MessageBox::clearAnswers();
    clearSettings();
}

void TestController::alreadyStartedMessage_showsBalloon()
{
    const QString balloon = QStringLiteral("Notificatie text naar Windows gestuurd. Error? 0, text: Karvelon is al actief");
    const int before = countRecords(QString(), balloon);
    m_app->onMessageReceived(QStringLiteral("AlreadyStarted|Karvelon is al actief"));
    QCOMPARE(countRecords(QString(), balloon), before + 1);
    QCOMPARE(MessageBox::shownCount(), 0);
}

void TestController::ignoredMessages_doNothing_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("call without request") << QStringLiteral("ShowCallDialog|");
    QTest::newRow("call without bar") << QStringLiteral("ShowCallDialog");
    QTest::newRow("lower-case kind") << QStringLiteral("showcalldialog|Helpdesk;0123=Werk");
    QTest::newRow("unknown kind") << QStringLiteral("Dial|0123");
    QTest::newRow("empty") << QString();
}

void TestController::ignoredMessages_doNothing()
{
    QFETCH(QString, message);
    DialogWatcher watcher;
    m_app->onMessageReceived(message);
    QTest::qWait(100);
    QCOMPARE(MessageBox::shownCount(), 0);
    QCOMPARE(watcher.maxCallDialogs, 0);
    QVERIFY(watcher.settingsTabs.isEmpty());
}

void TestController::pluginRequest_missingCredentials_answeredNo_showsNoDialog()
{
    Settings().set(QStringLiteral("OutlookPlugin"), QStringLiteral("Id"), QStringLiteral("api-id"));
    // The key is missing: the credentials are incomplete.
    DialogWatcher watcher;
    MessageBox::setNextAnswer(QMessageBox::No);
    m_app->onShowCallDialog(SourceType::MsOutlook, QStringLiteral("Helpdesk"), {QStringLiteral("0123 (Werk)")});
    QCOMPARE(MessageBox::shownCount(), 1);
    QCOMPARE(MessageBox::lastShown().title, QStringLiteral("Karvelon"));
    QCOMPARE(MessageBox::lastShown().text, CallQuestion);
    QCOMPARE(watcher.maxCallDialogs, 0);
    QVERIFY(watcher.settingsTabs.isEmpty());
}

void TestController::pluginRequest_missingCredentials_answeredYes_opensSettingsThenDialog()
{
    DialogWatcher watcher;
    MessageBox::setNextAnswer(QMessageBox::Yes);
    m_app->onShowCallDialog(SourceType::Thunderbird, QStringLiteral("Helpdesk"), {QStringLiteral("0123 (Werk)")});
    QCOMPARE(MessageBox::lastShown().text, CallQuestion);
    QCOMPARE(watcher.settingsTabs, QStringList{QStringLiteral("tabThunderbirdPlugin")});
    // Nothing was entered, yet the dialog follows.
    QCOMPARE(watcher.callDialogTypes, QList<SourceType::Type>{SourceType::Thunderbird});
}

void TestController::clickToDialSource_alwaysAsks()
{
    Settings().set(QStringLiteral("ClickToDial"), QStringLiteral("Id"), QStringLiteral("api-id"));
    Settings().set(QStringLiteral("ClickToDial"), QStringLiteral("Key"), QStringLiteral("api-key"));
    DialogWatcher watcher;
    MessageBox::setNextAnswer(QMessageBox::Yes);
    m_app->onShowCallDialog(SourceType::ClickToDial, QStringLiteral("Helpdesk"), {QStringLiteral("0123 (Werk)")});
    QCOMPARE(MessageBox::lastShown().text, CallQuestion);
    // No tab of its own: the dialog's default tab.
    QCOMPARE(watcher.settingsTabs, QStringList{QStringLiteral("tabCommon")});
    QCOMPARE(watcher.callDialogTypes, QList<SourceType::Type>{SourceType::ClickToDial});
}

void TestController::callMessage_withCredentials_opensThunderbirdDialog()
{
    Settings().set(QStringLiteral("ThunderbirdPlugin"), QStringLiteral("Id"), QStringLiteral("api-id"));
    Settings().set(QStringLiteral("ThunderbirdPlugin"), QStringLiteral("Key"), QStringLiteral("api-key"));
    const QString record = QStringLiteral("Showing call dialog for thunderbird, name: Helpdesk and 2 numbers");
    const int before = countRecords(QString(), record);

    DialogWatcher watcher;
    m_app->onMessageReceived(QStringLiteral("ShowCallDialog|Helpdesk;0123=Werk;0456=Mobiel"));
    QCOMPARE(MessageBox::shownCount(), 0);
    QCOMPARE(watcher.callDialogTypes, QList<SourceType::Type>{SourceType::Thunderbird});
    QCOMPARE(countRecords(QString(), record), before + 1);
    QVERIFY(countRecords(QString(), QStringLiteral("Call dialog closed")) > 0);
}

void TestController::severalDialogs_canBeOpenAtOnce()
{
    Settings().set(QStringLiteral("ThunderbirdPlugin"), QStringLiteral("Id"), QStringLiteral("api-id"));
    Settings().set(QStringLiteral("ThunderbirdPlugin"), QStringLiteral("Key"), QStringLiteral("api-key"));

    DialogWatcher watcher;
    bool secondRequested = false;
    watcher.onCallDialogs = [this, &secondRequested](const QList<CallDialog*>& dialogs) {
        if (!secondRequested) {
            // A further request while the first dialog waits in its loop.
            // Posted, so this watcher keeps running while that request waits too.
            secondRequested = true;
            QTimer::singleShot(0, m_app, [this]() {
                m_app->onMessageReceived(QStringLiteral("ShowCallDialog|Tweede;0456=Mobiel"));
            });
            return;
        }
        if (dialogs.size() == 2) {
            for (CallDialog* dialog : dialogs)
                dialog->reject();
        }
    };
    m_app->onMessageReceived(QStringLiteral("ShowCallDialog|Eerste;0123=Werk"));
    QCOMPARE(watcher.maxCallDialogs, 2);
    QCOMPARE(watcher.callDialogTypes.size(), 2);
    QTRY_VERIFY(visibleTopLevels<CallDialog>().isEmpty());
}

void TestController::incomingCall_logsAndShowsText()
{
    const QString plain = QStringLiteral("Inkomende oproep van 0201234567 op 0307654321.");
    const int plainBefore = countRecords(QStringLiteral("Notifier"), plain);
    m_app->onIncomingCall(QStringLiteral("0201234567"), QStringLiteral("0307654321"), QString());
    QCOMPARE(countRecords(QStringLiteral("Notifier"), plain), plainBefore + 1);

    const QString withText = plain + QStringLiteral("\r\nKlant: Zoë");
    m_app->onIncomingCall(QStringLiteral("0201234567"), QStringLiteral("0307654321"), QStringLiteral("Klant: Zoë"));
    QCOMPARE(countRecords(QStringLiteral("Notifier"), withText), 1);
}

void TestController::applicationStarted_asksOnlyWithoutCredentials_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("asked");
    QTest::newRow("nothing") << QString() << QString() << true;
    QTest::newRow("number without password") << QStringLiteral("12345") << QString() << true;
    QTest::newRow("password without number") << QString() << QStringLiteral("geheim") << true;
    QTest::newRow("both") << QStringLiteral("12345") << QStringLiteral("geheim") << false;
}

void TestController::applicationStarted_asksOnlyWithoutCredentials()
{
    QFETCH(QString, number);
    QFETCH(QString, password);
    QFETCH(bool, asked);
    if (!number.isEmpty())
        Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), number);
    if (!password.isEmpty())
        Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), password);

    DialogWatcher watcher;
    MessageBox::setNextAnswer(QMessageBox::No);
    m_app->onApplicationStarted();
    QCOMPARE(MessageBox::shownCount(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(MessageBox::lastShown().text, StartQuestion);
    QVERIFY(watcher.settingsTabs.isEmpty());
    MessageBox::clearAnswers();
}

// The buttons of every question come from Qt; the user must see "Ja"/"Nee".
void TestController::qtOwnTexts_areDutch()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("q"), QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("&Ja"));
    QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("&Nee"));
}

int main(int argc, char** argv)
{
    KarvelonApplication app(argc, argv);
    TestController test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_controller.moc"
