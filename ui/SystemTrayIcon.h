#pragma once

#include <QSystemTrayIcon>

class QMainWindow;
class QMenu;
class ButtonGroupAction;
class CallHistory;
class RecentCallsMenu;

// The program's tray icon; its menu is the click-to-dial front end.
class SystemTrayIcon : public QSystemTrayIcon
{
    Q_OBJECT

public:
    explicit SystemTrayIcon(QMainWindow* parent = nullptr);
    ~SystemTrayIcon() override;

    QMenu* menu() const { return m_menu; }
    ButtonGroupAction* callWidget() const { return m_buttonGroup; }
    RecentCallsMenu* recentCallsMenu() const { return m_recentCalls; }

    // The calls that "Recente gesprekken" shows; not owned.
    void setCallHistory(CallHistory* history);

    // Shows a balloon and reports it, so that what reached the desktop can be followed.
    void showBalloon(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon, int msecs);

    bool eventFilter(QObject* watched, QEvent* event) override;

    // The tooltip for a notification-channel state (a KarvelonApi::NotificationState).
    static QString toolTipText(int notificationState, int retryInSecs);

signals:
    void callNumber(const QString& number, const QString& sipId);
    void openSettings();
    void openLogViewer();
    void openCallJournal();
    void quitApplication();
    void balloonShown(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon, int msecs);

public slots:
    // Tooltip and badge follow the notification channel.
    void setNotificationState(int notificationState, int retryInSecs);
    void onShowContextMenu();
    void onCallNumber(const QString& number, const QString& sipId);
    void onButtonGroupRejected();

private:
    Q_DISABLE_COPY(SystemTrayIcon)

    void focusNumberField();

    QMenu* m_menu = nullptr;
    ButtonGroupAction* m_buttonGroup = nullptr;
    RecentCallsMenu* m_recentCalls = nullptr;
};

Q_DECLARE_METATYPE(QSystemTrayIcon::MessageIcon)
