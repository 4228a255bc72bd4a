#include "SystemTrayIcon.h"

#include "ButtonGroupAction.h"
#include "DoNotDisturb.h"
#include "DoNotDisturbMenu.h"
#include "NewCallCount.h"
#include "RecentCallsMenu.h"
#include "TrayLook.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>
#include <QThread>
#include <QTimer>

#include <utility>

namespace {
constexpr int ReregisterDelayMsecs = 500;
} // namespace

SystemTrayIcon::SystemTrayIcon(const QDBusConnection& bus)
    : QSystemTrayIcon(nullptr)
{
    qRegisterMetaType<QSystemTrayIcon::MessageIcon>("QSystemTrayIcon::MessageIcon");
    qRegisterMetaType<OutgoingCall>();
    m_placementTimer.setInterval(100);
    connect(&m_placementTimer, &QTimer::timeout, this, [this]() {
        ++m_placementChecks;
        showPendingBalloons();
    });

    m_menu = new QMenu();
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    m_menu->setMinimumWidth(200);
    m_callEntriesEnd = m_menu->addSeparator();
    buildCallEntries();

    // A call back goes the way "Bel" goes, with the same account.
    m_recentCalls = new RecentCallsMenu(m_menu);
    m_menu->addMenu(m_recentCalls);
    connect(m_recentCalls, &RecentCallsMenu::callNumber, this, [this](const QString& number, const QString& name) {
        emit callRequested(
            OutgoingCall::make(OutgoingCall::RecentCalls, number, QString(), SourceType::ClickToDial, name));
    });
    connect(m_recentCalls, &RecentCallsMenu::openCallJournal, this, &SystemTrayIcon::openCallJournal);
    m_doNotDisturbMenu = new DoNotDisturbMenu(m_menu);
    m_menu->addMenu(m_doNotDisturbMenu);

    QAction* settings = m_menu->addAction(QStringLiteral("&Instellingen"));
    settings->setObjectName(QStringLiteral("actSettings"));
    connect(settings, &QAction::triggered, this, &SystemTrayIcon::openSettings);

    QAction* logViewer = m_menu->addAction(QStringLiteral("&Log bekijken"));
    logViewer->setObjectName(QStringLiteral("actLogViewer"));
    connect(logViewer, &QAction::triggered, this, &SystemTrayIcon::openLogViewer);

    m_menu->addSeparator();

    QAction* quit = m_menu->addAction(QStringLiteral("&Afsluiten"));
    quit->setObjectName(QStringLiteral("actQuit"));
    connect(quit, &QAction::triggered, this, &SystemTrayIcon::quitApplication);

    connect(this, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // The context click opens the menu by itself through setContextMenu.
        if (reason != QSystemTrayIcon::Trigger)
            return;
        if (m_kind == XEmbed)
            onShowContextMenu();
        else
            emit openDialWindow();
    });

    m_channelToolTip = toolTipText(ConnectionSupervisor::Stopped, 0);
    updateLook();
    setContextMenu(m_menu);
    setVisible(true);

    if (!bus.isConnected())
        return;
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusMessage get = QDBusMessage::createMethodCall(watcher, QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({watcher, QStringLiteral("IsStatusNotifierHostRegistered")});
    auto* answer = new QDBusPendingCallWatcher(bus.asyncCall(get, 2000), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this, answer]() {
        answer->deleteLater();
        // No watcher at all answers with an error: an XEmbed tray, or none.
        const QDBusPendingReply<QDBusVariant> reply = *answer;
        setKind(!reply.isError() && reply.value().variant().toBool() ? StatusNotifier : XEmbed);
    });

    // Qt registers the item with the watcher once. When the panel restarts,
    // its new watcher knows nothing of us: register again.
    auto* restarts = new QDBusServiceWatcher(watcher, bus, QDBusServiceWatcher::WatchForRegistration, this);
    // A watcher may own its name a moment before it answers on it.
    connect(restarts, &QDBusServiceWatcher::serviceRegistered, this, [this]() {
        QTimer::singleShot(ReregisterDelayMsecs, this, [this]() {
            if (m_kind != StatusNotifier || !isVisible())
                return;
            setVisible(false);
            setVisible(true);
        });
    });
}

void SystemTrayIcon::setKind(Kind kind)
{
    if (kind == m_kind)
        return;
    m_kind = kind;
    buildCallEntries();
    emit kindChanged(kind);
}

// The entries that start a call: the number field with "Bel" and "Bel met" on
// an XEmbed tray, "Nummer bellen…" where the menu travels over D-Bus.
void SystemTrayIcon::buildCallEntries()
{
    if (m_buttonGroup) {
        m_menu->removeEventFilter(this);
        delete std::exchange(m_buttonGroup, nullptr);
    }
    delete std::exchange(m_dialAction, nullptr);

    if (m_kind == XEmbed) {
        // The field is made when the menu first opens: the first text widget
        // loads the fonts, which the start-up does not need.
        connect(m_menu, &QMenu::aboutToShow, this, &SystemTrayIcon::makeCallWidget, Qt::UniqueConnection);
    } else {
        m_dialAction = new QAction(QStringLiteral("Nummer bellen…"), this);
        m_dialAction->setObjectName(QStringLiteral("actDial"));
        connect(m_dialAction, &QAction::triggered, this, &SystemTrayIcon::openDialWindow);
        m_menu->insertAction(m_callEntriesEnd, m_dialAction);
    }
}

ButtonGroupAction* SystemTrayIcon::callWidget()
{
    makeCallWidget();
    return m_buttonGroup;
}

void SystemTrayIcon::makeCallWidget()
{
    if (m_kind != XEmbed || m_buttonGroup)
        return;
    m_buttonGroup = new ButtonGroupAction(m_menu, m_callEntriesEnd, this);
    m_buttonGroup->initInputfield();
    connect(m_buttonGroup, &IMenuCallWidget::callNumber, this, &SystemTrayIcon::onCallNumber);
    connect(m_buttonGroup, &IMenuCallWidget::rejected, this, &SystemTrayIcon::onButtonGroupRejected);
    // Every time the menu opens, the number field starts empty ...
    connect(m_menu, &QMenu::aboutToShow, m_buttonGroup, [this]() { m_buttonGroup->clearPhoneNumber(); });
    // ... and has the keyboard focus, so a number can be typed at once.
    m_menu->installEventFilter(this);
}

SystemTrayIcon::~SystemTrayIcon()
{
    // The call widget goes first: its field lives in the menu's widget action.
    if (m_buttonGroup)
        m_menu->removeEventFilter(this);
    delete m_buttonGroup;
    m_buttonGroup = nullptr;
    // Inside a running event loop the menu may still be busy delivering the
    // event that led here, so it goes later. Once the loop has ended (the
    // program is shutting down) nothing would ever delete it: do it now.
    if (QThread::currentThread()->loopLevel() > 0)
        m_menu->deleteLater();
    else
        delete m_menu;
    m_menu = nullptr;
}

bool SystemTrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_menu && event->type() == QEvent::Show)
        focusNumberField();
    return QSystemTrayIcon::eventFilter(watched, event);
}

void SystemTrayIcon::focusNumberField()
{
    QLineEdit* field = m_buttonGroup ? m_buttonGroup->inputField() : nullptr;
    if (!field)
        return;
    const QList<QAction*> actions = m_menu->actions();
    if (!actions.isEmpty())
        m_menu->setActiveAction(actions.first());
    field->setFocus(Qt::PopupFocusReason);
}

void SystemTrayIcon::showBalloon(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon,
                                 int msecs)
{
    m_pendingBalloons.append({title, text, icon, msecs});
    showPendingBalloons();
}

void SystemTrayIcon::showPendingBalloons()
{
    // An XEmbed balloon points at the icon: before the tray host has placed
    // it, it would stand in the corner of the screen. Wait a few seconds for
    // the icon, then show it anyway.
    constexpr int MaxPlacementChecks = 50;
    if (m_kind == XEmbed && !geometry().isValid() && isSystemTrayAvailable() &&
        m_placementChecks < MaxPlacementChecks) {
        if (!m_placementTimer.isActive())
            m_placementTimer.start();
        return;
    }
    m_placementTimer.stop();
    m_placementChecks = MaxPlacementChecks; // once placed, balloons go at once
    const QVector<Balloon> balloons = std::exchange(m_pendingBalloons, {});
    for (const Balloon& balloon : balloons) {
        showMessage(balloon.title, balloon.text, balloon.icon, balloon.msecs);
        emit balloonShown(balloon.title, balloon.text, balloon.icon, balloon.msecs);
    }
}

void SystemTrayIcon::setCallHistory(CallHistory* history)
{
    m_recentCalls->setCallHistory(history);
}

QString SystemTrayIcon::toolTipText(ConnectionSupervisor::State state, int retryInSecs)
{
    const QString name = QStringLiteral("Karvelon");
    switch (state) {
    case ConnectionSupervisor::Stopped:
        return name;
    case ConnectionSupervisor::Connected:
        return name + QStringLiteral("\nNotificaties: verbonden");
    case ConnectionSupervisor::Waiting:
        return name + QStringLiteral("\nNotificaties: opnieuw verbinden over %1 s").arg(retryInSecs);
    case ConnectionSupervisor::Disabled:
        return name + QStringLiteral("\nNotificaties: uitgeschakeld (controleer uw instellingen)");
    case ConnectionSupervisor::Connecting:
    case ConnectionSupervisor::Asleep:
        break;
    }
    return QString();
}

void SystemTrayIcon::setNotificationState(ConnectionSupervisor::State state, int retryInSecs)
{
    const QString tip = toolTipText(state, retryInSecs);
    if (tip.isEmpty())
        return; // an attempt under way, or asleep: the last word stands
    m_channelToolTip = tip;
    m_channelDown = state == ConnectionSupervisor::Waiting || state == ConnectionSupervisor::Disabled;
    updateLook();
}

void SystemTrayIcon::setDesk(DoNotDisturb* doNotDisturb, NewCallCount* newCalls)
{
    m_doNotDisturb = doNotDisturb;
    m_newCalls = newCalls;
    m_doNotDisturbMenu->setDoNotDisturb(doNotDisturb);
    if (doNotDisturb)
        connect(doNotDisturb, &DoNotDisturb::changed, this, &SystemTrayIcon::updateLook);
    if (newCalls)
        connect(newCalls, &NewCallCount::changed, this, &SystemTrayIcon::updateLook);
    updateLook();
}

TrayLook SystemTrayIcon::look() const
{
    TrayLook look;
    look.channel = m_channelToolTip;
    look.channelDown = m_channelDown;
    look.doNotDisturb = m_doNotDisturb ? m_doNotDisturb->toolTipLine() : QString();
    look.newCalls = m_newCalls ? m_newCalls->count() : 0;
    return look;
}

void SystemTrayIcon::updateLook()
{
    // The icon is drawn and handed to the tray host only when it changes.
    const TrayLook now = look();
    const QString toolTip = now.toolTip();
    if (toolTip != this->toolTip())
        setToolTip(toolTip);
    const QString badges =
        QStringLiteral("%1|%2|%3").arg(now.channelDown).arg(!now.doNotDisturb.isEmpty()).arg(now.countBadge());
    if (badges == m_shownBadges)
        return;
    m_shownBadges = badges;
    setIcon(now.icon(QApplication::windowIcon()));
}

void SystemTrayIcon::onShowContextMenu()
{
    m_menu->popup(QCursor::pos());
}

void SystemTrayIcon::onCallNumber(const QString& number, const QString& sipId)
{
    if (m_buttonGroup)
        m_buttonGroup->clearPhoneNumber();
    m_menu->hide();
    emit callRequested(OutgoingCall::make(OutgoingCall::TrayMenu, number, sipId));
}

void SystemTrayIcon::onButtonGroupRejected()
{
    m_menu->hide();
}
