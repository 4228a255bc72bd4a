#include "Notifier.h"

#include "DesktopNotifications.h"
#include "Logger.h"
#include "SystemTrayIcon.h"

#include <QCoreApplication>

namespace {
// Messages stay this long unless the desktop decides otherwise.
constexpr int BalloonMSecs = 10000;
} // namespace

Notifier::Notifier(SystemTrayIcon* tray, DesktopNotifications* desktop, QObject* parent)
    : QObject(parent)
    , m_tray(tray)
    , m_desktop(desktop)
{
    if (m_desktop)
        connect(m_desktop, &DesktopNotifications::fallback, this, &Notifier::showBalloon);
}

void Notifier::showNotification(const QString& text, bool error)
{
    DesktopNotification notification;
    notification.text = text;
    notification.error = error;
    show(notification);
    Logger::instance()->log(Logger::Debug, QString(),
                            QStringLiteral("Notificatie text naar het bureaublad gestuurd. Error? %1, text: %2")
                                .arg(QString::number(error ? 1 : 0), text));
}

void Notifier::showIncomingCall(const QString& text, const QString& callerNumber, const QString& pageKey,
                                const ScreenPop::Caller& page)
{
    DesktopNotification notification;
    notification.text = text;
    notification.incomingCall = true;
    notification.callerNumber = callerNumber;
    notification.pageKey = pageKey;
    notification.page = page;
    show(notification);
}

void Notifier::show(const DesktopNotification& notification)
{
    DesktopNotification n = notification;
    n.title = QCoreApplication::applicationName();
    n.expireMsecs = BalloonMSecs;
    // The desktop's server hands back what it cannot show (fallback).
    if (m_desktop)
        m_desktop->notify(n);
    else
        showBalloon(n);
}

void Notifier::showBalloon(const DesktopNotification& notification)
{
    if (!m_tray) {
        Logger::instance()->log(Logger::Info, QStringLiteral("Notifier"),
                                QStringLiteral("Kon notificatie met tekst '%1' niet tonen").arg(notification.text));
        return;
    }
    m_tray->showBalloon(notification.title, notification.text,
                        notification.error ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information,
                        notification.expireMsecs);
}
