#include "Notifier.h"

#include "KarvelonApplication.h"
#include "Logger.h"
#include "SystemTrayIcon.h"

#include <QCoreApplication>

namespace {
// Balloons stay this long unless the desktop decides otherwise.
constexpr int BalloonMSecs = 10000;

SystemTrayIcon* trayIcon()
{
    auto* app = qobject_cast<KarvelonApplication*>(QCoreApplication::instance());
    return app ? app->systemTrayIcon() : nullptr;
}
} // namespace

Notifier::Notifier(QObject* parent)
    : QObject(parent)
{
}

void Notifier::showNotification(const QString& text)
{
    showNotificationWin(text);
}

void Notifier::showNotification(const QString& text, bool error)
{
    SystemTrayIcon* tray = trayIcon();
    if (!tray) {
        Logger::instance()->log(Logger::Debug, QString(), QStringLiteral("Kon geen melding tonen, qApp is null"));
        return;
    }
    tray->showBalloon(QCoreApplication::applicationName(), text,
                      error ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information, BalloonMSecs);
    Logger::instance()->log(Logger::Debug, QString(),
                            QStringLiteral("Notificatie text naar Windows gestuurd. Error? %1, text: %2")
                                .arg(QString::number(error ? 1 : 0), text));
}

void Notifier::showNotificationWin(const QString& text)
{
    SystemTrayIcon* tray = trayIcon();
    if (!tray) {
        Logger::instance()->log(Logger::Info, QStringLiteral("Notifier"),
                                QStringLiteral("Kon notificatie met tekst '%1' niet tonen").arg(text));
        return;
    }
    tray->showBalloon(QCoreApplication::applicationName(), text, QSystemTrayIcon::Information, BalloonMSecs);
    Logger::instance()->log(Logger::Debug, QString(), QStringLiteral("Notificatie text naar Windows gestuurd."));
}
