#include "SystemTrayIcon.h"

#include "ButtonGroupAction.h"
#include "KarvelonApi.h"
#include "Logger.h"
#include "RecentCallsMenu.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QThread>
#include <QTimer>

#include <utility>

namespace {
constexpr int ReregisterDelayMsecs = 500;
} // namespace

SystemTrayIcon::SystemTrayIcon(Kind kind)
    : QSystemTrayIcon(nullptr)
    , m_kind(kind)
{
    qRegisterMetaType<QSystemTrayIcon::MessageIcon>("QSystemTrayIcon::MessageIcon");
    m_placementTimer.setInterval(100);
    connect(&m_placementTimer, &QTimer::timeout, this, [this]() {
        ++m_placementChecks;
        showPendingBalloons();
    });

    m_menu = new QMenu();
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    m_menu->setMinimumWidth(200);

    if (m_kind == XEmbed) {
        m_buttonGroup = new ButtonGroupAction(m_menu);
        m_buttonGroup->initInputfield();
        connect(m_buttonGroup, &IMenuCallWidget::callNumber, this, &SystemTrayIcon::onCallNumber);
        connect(m_buttonGroup, &IMenuCallWidget::rejected, this, &SystemTrayIcon::onButtonGroupRejected);
        // Every time the menu opens, the number field starts empty.
        connect(m_menu, &QMenu::aboutToShow, this, [this]() { m_buttonGroup->clearPhoneNumber(); });
        // ... and has the keyboard focus, so a number can be typed at once.
        m_menu->installEventFilter(this);
    } else {
        QAction* dial = m_menu->addAction(QStringLiteral("Nummer bellen…"));
        dial->setObjectName(QStringLiteral("actDial"));
        connect(dial, &QAction::triggered, this, &SystemTrayIcon::openDialWindow);
    }

    m_menu->insertSeparator(nullptr);

    // A call back goes the way "Bel" goes, with the same account.
    m_recentCalls = new RecentCallsMenu(m_menu);
    m_menu->addMenu(m_recentCalls);
    connect(m_recentCalls, &RecentCallsMenu::callNumber, this,
            [this](const QString& number) { onCallNumber(number, ButtonGroupAction::defaultSipId()); });
    connect(m_recentCalls, &RecentCallsMenu::openCallJournal, this, &SystemTrayIcon::openCallJournal);

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

    setIcon(QApplication::windowIcon());
    setToolTip(toolTipText(KarvelonApi::NotificationsOff, 0));
    setContextMenu(m_menu);
    setVisible(true);

    if (m_kind == StatusNotifier) {
        // Qt registers the item with the watcher once. When the panel restarts,
        // its new watcher knows nothing of us: register again.
        auto* watcher = new QDBusServiceWatcher(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                                QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForRegistration,
                                                this);
        // A watcher may own its name a moment before it answers on it.
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this]() {
            QTimer::singleShot(ReregisterDelayMsecs, this, [this]() {
                if (!isVisible())
                    return;
                setVisible(false);
                setVisible(true);
            });
        });
    }
}

SystemTrayIcon::Kind SystemTrayIcon::detectKind()
{
    // The platform's own check, made once when the first tray icon is created;
    // asking the same question here keeps the menu in step with Qt's choice.
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(watcher))
        return XEmbed;
    QDBusMessage get = QDBusMessage::createMethodCall(watcher, QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({watcher, QStringLiteral("IsStatusNotifierHostRegistered")});
    const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
    const bool host = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                      reply.arguments().first().value<QDBusVariant>().variant().toBool();
    return host ? StatusNotifier : XEmbed;
}

SystemTrayIcon::~SystemTrayIcon()
{
    // The call widget goes first: its field lives in the menu's widget action.
    delete m_buttonGroup;
    m_buttonGroup = nullptr;
    if (m_kind == XEmbed)
        m_menu->removeEventFilter(this);
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

QString SystemTrayIcon::toolTipText(int notificationState, int retryInSecs)
{
    const QString name = QStringLiteral("Karvelon");
    switch (notificationState) {
    case KarvelonApi::NotificationsConnected:
        return name + QStringLiteral("\nNotificaties: verbonden");
    case KarvelonApi::NotificationsRetrying:
        return name + QStringLiteral("\nNotificaties: opnieuw verbinden over %1 s").arg(retryInSecs);
    case KarvelonApi::NotificationsDisabled:
        return name + QStringLiteral("\nNotificaties: uitgeschakeld (controleer uw instellingen)");
    default:
        return name;
    }
}

void SystemTrayIcon::setNotificationState(int notificationState, int retryInSecs)
{
    setToolTip(toolTipText(notificationState, retryInSecs));
    const QIcon windowIcon = QApplication::windowIcon();
    const bool badge = notificationState == KarvelonApi::NotificationsRetrying ||
                       notificationState == KarvelonApi::NotificationsDisabled;
    if (!badge || windowIcon.isNull()) {
        setIcon(windowIcon);
        return;
    }
    // Enabled but not connected: a small grey dot in the lower right corner.
    QPixmap pixmap = windowIcon.pixmap(64, 64);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 3));
    painter.setBrush(QColor(128, 128, 128));
    painter.drawEllipse(QRectF(38, 38, 24, 24));
    painter.end();
    setIcon(QIcon(pixmap));
}

void SystemTrayIcon::onShowContextMenu()
{
    m_menu->popup(QCursor::pos());
}

void SystemTrayIcon::onCallNumber(const QString& number, const QString& sipId)
{
    Logger::instance()->log(Logger::Info, QStringLiteral("Click-to-Dial"),
                            QStringLiteral("Bel nummer: %1 via ClickToDial menu opdracht ontvangen").arg(number));
    if (m_buttonGroup)
        m_buttonGroup->clearPhoneNumber();
    m_menu->hide();
    emit callNumber(number, sipId);
}

void SystemTrayIcon::onButtonGroupRejected()
{
    m_menu->hide();
}
