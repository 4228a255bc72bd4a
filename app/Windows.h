#pragma once

#include "SourceType.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class CallDialog;
class CallHistory;
class CallJournalDialog;
class CallRouter;
class DialShortcut;
class DialWindow;
class DoNotDisturb;
class NewCallCount;
class NotificationChannel;
class ScreenPopOpener;
class QWidget;
class SecretStore;

// The program's windows: the settings, the log viewer, the journal, the dial
// window and the call dialogs. Every window that dials goes through the one
// call road and shows the outcome of its own call only.
class Windows : public QObject
{
    Q_OBJECT

public:
    // None is owned; channel may be null (the settings dialog then shows no connection), and so may
    // shortcut (the settings dialog then only stores the hot key).
    Windows(CallRouter* calls, CallHistory* history, NotificationChannel* channel, SecretStore* secrets,
            DialShortcut* shortcut,
            QObject* parent = nullptr);
    ~Windows() override;

    // At the desk: the dial window's "Niet storen", the journal's new calls
    // (seen once it opens) and its "Openen in …". Not owned; each may be null.
    void setDesk(DoNotDisturb* doNotDisturb, NewCallCount* newCalls, ScreenPopOpener* screenPop);

    // Modal: returns once the dialog is closed.
    void openSettings(const QString& tabName);
    void openLogViewer();
    // One window each, brought forward when asked for again.
    void openCallJournal();
    DialWindow* openDialWindow();
    // A contact's numbers to choose from, for a plug-in, a second start or a
    // link. Asks to open the settings first when the source has no
    // credentials (once the keyring has answered); returns at once, the
    // dialog stays until closed.
    void showCallDialog(SourceType::Type type, const QString& name, const QStringList& numbers);

signals:
    // The settings dialog saved something.
    void settingsSaved();

private:
    Q_DISABLE_COPY(Windows)

    void bringForward(QWidget* window);

    CallRouter* m_calls;
    CallHistory* m_history;
    NotificationChannel* m_channel;
    SecretStore* m_secrets;
    DoNotDisturb* m_doNotDisturb = nullptr;
    NewCallCount* m_newCalls = nullptr;
    ScreenPopOpener* m_screenPop = nullptr;
    DialShortcut* m_shortcut;
    QPointer<CallJournalDialog> m_journal;
    QPointer<DialWindow> m_dialWindow;
    QList<QPointer<CallDialog>> m_callDialogs;
};
