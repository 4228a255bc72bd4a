#pragma once

#include "OutgoingCall.h"

#include <QDialog>
#include <QPointer>

class CallHistory;
class DoNotDisturb;
class QCheckBox;
class QComboBox;
class QCompleter;
class QLabel;
class QLineEdit;
class QPushButton;
class QStringListModel;
class QTimer;

// "Karvelon - Bellen": a small window to dial from where the tray menu cannot
// hold a number field (trays that show their menu over D-Bus) or where there is
// no tray at all. It asks the call road for a call (callRequested) and shows
// the outcome of that call when it comes back (onCallFinished).
class DialWindow : public QDialog
{
    Q_OBJECT

public:
    // history: offers its recent numbers as completions (may be null; not owned).
    // appActions: also show "Instellingen" and "Log bekijken" (for desktops without any tray).
    // closeDelayMsecs: how long the outcome of a successful call stays visible before the window closes.
    DialWindow(CallHistory* history, bool appActions, int closeDelayMsecs = 2000, QWidget* parent = nullptr);
    ~DialWindow() override;

    void setAppActions(bool on);
    // "Niet storen" as a checkbox beside the app actions (a desktop without a
    // tray has no tray menu for it); followed from now on, not owned.
    void setDoNotDisturb(DoNotDisturb* doNotDisturb);
    // The numbers found in what the user selected or copied, after prepare():
    // the first in the field, selected, so that Return dials it and typing
    // replaces it; the others first among the completions. None: an empty
    // field and a status that says so, and where only the clipboard can be
    // read (clipboardOnly), how to get a number there.
    void offerFoundNumbers(const QStringList& numbers, bool clipboardOnly);

public slots:
    // The outcome of a call; only that of the window's own call is shown.
    void onCallFinished(quint64 callId, bool success);
    // Before each show: the status cleared, the accounts re-read with the default
    // one chosen, and the keyboard focus in the number field.
    void prepare();

signals:
    void callRequested(const OutgoingCall& call);
    void openSettings();
    void openLogViewer();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Q_DISABLE_COPY(DialWindow)

    void dial();
    void loadAccounts(const QString& preferredId);
    void loadCompletions();
    void followDoNotDisturb();

    CallHistory* m_history;
    QLineEdit* m_number = nullptr;
    QLabel* m_accountLabel = nullptr;
    QComboBox* m_accounts = nullptr;
    QPushButton* m_dial = nullptr;
    QPushButton* m_settings = nullptr;
    QPushButton* m_logViewer = nullptr;
    QCheckBox* m_doNotDisturbBox = nullptr;
    QPointer<DoNotDisturb> m_doNotDisturb;
    bool m_appActions = false;
    QLabel* m_status = nullptr;
    QStringListModel* m_recentNumbers = nullptr;
    QTimer* m_closeTimer = nullptr;
    // From the selection: the number put in the field, and the others.
    QString m_foundNumber;
    QStringList m_moreFound;
    AwaitedCall m_awaited;
    // A number that was called successfully is not offered again on the next opening.
    bool m_clearOnPrepare = false;
};
