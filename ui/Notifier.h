#pragma once

#include <QObject>
#include <QString>

// Short messages on the desktop, as balloons of the tray icon.
class Notifier : public QObject
{
    Q_OBJECT

public:
    explicit Notifier(QObject* parent = nullptr);

    void showNotificationWin(const QString& text);

public slots:
    void showNotification(const QString& text);
    void showNotification(const QString& text, bool error);
};
