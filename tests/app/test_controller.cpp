// The controller in process: when a call request first asks for settings (the balloon of an incoming call is
// checked on a real tray, end to end).
#include "KarvelonApplication.h"
#include "MessageBox.h"
#include "Settings.h"

#include <QDialog>
#include <QtTest>

class TestController : public QObject
{
    Q_OBJECT

private slots:
    void showCallDialog_asksForSettingsWithoutCredentials()
    {
        const struct { SourceType::Type type; const char* key; int answer; QStringList dialogs; } table[] = {
            // the answer to "open the settings?", -1: no question; each dialog that opened, in a loop of its own
            {SourceType::MsOutlook, "", QMessageBox::No, {}},
            {SourceType::Thunderbird, "", QMessageBox::Yes, {"SettingsDialog", "CallDialog"}},
            {SourceType::Thunderbird, "sleutel", -1, {"CallDialog"}},
            {SourceType::ClickToDial, "sleutel", QMessageBox::No, {}}}; // click-to-dial asks anyway
        for (const auto& row : table) {
            QFile::remove(Settings().fileName());
            Settings().set(SourceType::settingsGroup(row.type), "Id", "api-id");
            Settings().set(SourceType::settingsGroup(row.type), "Key", row.key);
            MessageBox::clearAnswers();
            if (row.answer >= 0)
                MessageBox::setNextAnswer(QMessageBox::StandardButton(row.answer));
            QStringList dialogs; // noted and closed
            QTimer closer;
            connect(&closer, &QTimer::timeout, [&dialogs]() {
                if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    dialogs << dialog->metaObject()->className(), dialog->reject();
            });
            closer.start(20);
            app()->onShowCallDialog(row.type, "Helpdesk", {"0123 (Werk)"});
            QCOMPARE(MessageBox::shownCount(), row.answer >= 0 ? 1 : 0);
            QCOMPARE(dialogs, row.dialogs);
        }
    }

private:
    static KarvelonApplication* app() { return qobject_cast<KarvelonApplication*>(qApp); }
};

int main(int argc, char** argv)
{
    KarvelonApplication app(argc, argv);
    TestController test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_controller.moc"
