#pragma once

#include <QIcon>
#include <QString>

// What the tray icon tells at a glance, composed in this one place from the
// three things that feed it: the notification channel's state, "Niet storen"
// and the count of new calls. Each badge has a corner of its own: the count
// top right, "Niet storen" bottom left, a channel that is down bottom right.
struct TrayLook
{
    // The channel's tooltip ("Karvelon\nNotificaties: verbonden"), see SystemTrayIcon::toolTipText.
    QString channel = QStringLiteral("Karvelon");
    bool channelDown = false; // enabled but not connected: a grey dot
    QString doNotDisturb;     // DoNotDisturb::toolTipLine(); empty while off
    int newCalls = 0;

    // The channel's lines, then "Niet storen tot 15:30", then "3 nieuwe oproep(en)".
    QString toolTip() const;
    // The count as the badge shows it: "1" to "9", "9+"; empty without new calls.
    QString countBadge() const;
    // base as it is without badges, otherwise drawn 64 pixels square with them.
    QIcon icon(const QIcon& base) const;
};
