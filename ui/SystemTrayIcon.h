#pragma once

#include "ConnectionSupervisor.h"
#include "OutgoingCall.h"

#include <QDBusConnection>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVector>

class QAction;
class QMenu;
class ButtonGroupAction;
class CallHistory;
class DoNotDisturb;
class DoNotDisturbMenu;
class NewCallCount;
class RecentCallsMenu;
struct TrayLook;

// The program's tray icon; its menu is the click-to-dial front end.
class SystemTrayIcon : public QSystemTrayIcon
{
    Q_OBJECT

public:
    // How the desktop shows the icon. An XEmbed tray shows our own menu with
    // the number field in it; a StatusNotifierItem host gets the menu over
    // D-Bus, where a widget cannot go: there the dial window takes its place.
    enum Kind { XEmbed, StatusNotifier };

    // Starts as an XEmbed icon and asks bus, without waiting, whether a
    // StatusNotifierItem host shows it instead (as Qt decides:
    // org.kde.StatusNotifierWatcher with a registered host); the menu follows
    // the answer. A bus that is not connected asks nothing.
    explicit SystemTrayIcon(const QDBusConnection& bus = QDBusConnection(QString()));
    ~SystemTrayIcon() override;

    Kind kind() const { return m_kind; }
    void setKind(Kind kind);

    QMenu* menu() const { return m_menu; }
    // The number field with "Bel" and "Bel met" of an XEmbed tray, made when
    // the menu first opens (or now); null on other trays.
    ButtonGroupAction* callWidget();
    RecentCallsMenu* recentCallsMenu() const { return m_recentCalls; }

    // The calls that "Recente gesprekken" shows; not owned.
    void setCallHistory(CallHistory* history);
    // "Niet storen" for its submenu, badge and tooltip line, and the count of
    // new calls for its badge and line; followed from now on, not owned.
    void setDesk(DoNotDisturb* doNotDisturb, NewCallCount* newCalls);
    // What tooltip and icon show now.
    TrayLook look() const;

    // Shows a balloon and reports it, so that what reached the desktop can be followed.
    void showBalloon(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon, int msecs);

    bool eventFilter(QObject* watched, QEvent* event) override;

    // The tooltip for a notification-channel state; empty for the states
    // that leave the last word standing (an attempt under way, asleep).
    static QString toolTipText(ConnectionSupervisor::State state, int retryInSecs);

signals:
    void callRequested(const OutgoingCall& call);
    void openSettings();
    void openLogViewer();
    void openCallJournal();
    void openDialWindow();
    void quitApplication();
    void balloonShown(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon, int msecs);
    void kindChanged(SystemTrayIcon::Kind kind);

public slots:
    // Tooltip and badge follow the notification channel.
    void setNotificationState(ConnectionSupervisor::State state, int retryInSecs);
    void onShowContextMenu();
    void onCallNumber(const QString& number, const QString& sipId);
    void onButtonGroupRejected();

private:
    Q_DISABLE_COPY(SystemTrayIcon)

    void buildCallEntries();
    void makeCallWidget();
    void focusNumberField();
    void showPendingBalloons();
    void updateLook();

    struct Balloon
    {
        QString title, text;
        QSystemTrayIcon::MessageIcon icon;
        int msecs;
    };

    QMenu* m_menu = nullptr;
    // The entries that start a call stand above this separator.
    QAction* m_callEntriesEnd = nullptr;
    ButtonGroupAction* m_buttonGroup = nullptr;
    QAction* m_dialAction = nullptr;
    RecentCallsMenu* m_recentCalls = nullptr;
    DoNotDisturbMenu* m_doNotDisturbMenu = nullptr;
    // The channel's part of the look, as it last reported; the desk's parts are asked for.
    QString m_channelToolTip;
    bool m_channelDown = false;
    QString m_shownBadges; // the badges the icon was last drawn with; null: not drawn yet
    QPointer<DoNotDisturb> m_doNotDisturb;
    QPointer<NewCallCount> m_newCalls;
    Kind m_kind = XEmbed;
    // Balloons asked for before the tray host has placed the icon.
    QVector<Balloon> m_pendingBalloons;
    QTimer m_placementTimer;
    int m_placementChecks = 0;
};

Q_DECLARE_METATYPE(QSystemTrayIcon::MessageIcon)
