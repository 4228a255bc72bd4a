#pragma once

#include <QDialog>

class CallHistory;
class QComboBox;
class QCompleter;
class QLabel;
class QLineEdit;
class QPushButton;
class QStringListModel;
class QTimer;

// "Karvelon - Bellen": a small window to dial from where the tray menu cannot
// hold a number field (trays that show their menu over D-Bus) or where there is
// no tray at all. It dials the tray menu's road: it emits callNumber and shows
// the outcome that comes back through updateStatus.
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

public slots:
    void updateStatus(bool success);
    // Before each show: the status cleared, the accounts re-read with the default
    // one chosen, and the keyboard focus in the number field.
    void prepare();

signals:
    void callNumber(const QString& number, const QString& sipId);
    void openSettings();
    void openLogViewer();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Q_DISABLE_COPY(DialWindow)

    void dial();
    void loadAccounts(const QString& preferredId);
    void loadCompletions();

    CallHistory* m_history;
    QLineEdit* m_number = nullptr;
    QLabel* m_accountLabel = nullptr;
    QComboBox* m_accounts = nullptr;
    QPushButton* m_dial = nullptr;
    QPushButton* m_settings = nullptr;
    QPushButton* m_logViewer = nullptr;
    QLabel* m_status = nullptr;
    QStringListModel* m_recentNumbers = nullptr;
    QTimer* m_closeTimer = nullptr;
    // Only the outcome of a call this window started is shown.
    bool m_pending = false;
    // A number that was called successfully is not offered again on the next opening.
    bool m_clearOnPrepare = false;
};
