#pragma once

#include <QSystemTrayIcon>
#include <QTimer>
#include <QVector>

class QMenu;
class ButtonGroupAction;
class CallHistory;
class RecentCallsMenu;

// The program's tray icon; its menu is the click-to-dial front end.
class SystemTrayIcon : public QSystemTrayIcon
{
    Q_OBJECT

public:
    // How the desktop shows the icon. An XEmbed tray shows our own menu with
    // the number field in it; a StatusNotifierItem host gets the menu over
    // D-Bus, where a widget cannot go: there the dial window takes its place.
    enum Kind { XEmbed, StatusNotifier };

    explicit SystemTrayIcon(Kind kind = XEmbed);
    ~SystemTrayIcon() override;

    // As Qt decides it: a StatusNotifierWatcher with a registered host on the session bus.
    static Kind detectKind();
    Kind kind() const { return m_kind; }

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
    void openDialWindow();
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
    void showPendingBalloons();

    struct Balloon
    {
        QString title, text;
        QSystemTrayIcon::MessageIcon icon;
        int msecs;
    };

    QMenu* m_menu = nullptr;
    ButtonGroupAction* m_buttonGroup = nullptr;
    RecentCallsMenu* m_recentCalls = nullptr;
    const Kind m_kind;
    // Balloons asked for before the tray host has placed the icon.
    QVector<Balloon> m_pendingBalloons;
    QTimer m_placementTimer;
    int m_placementChecks = 0;
};

Q_DECLARE_METATYPE(QSystemTrayIcon::MessageIcon)
