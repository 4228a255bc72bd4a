#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

class GlobalHotKey;
class GlobalShortcutsPortal;

// The key that dials the selected or copied number, as the settings choose it
// ("ClickToDial"/"Modifier" and "Hotkey"): grabbed on an X11 session;
// elsewhere bound through the desktop's GlobalShortcuts portal, which may ask
// the user first. The one owner of the key in force, for the program and for
// the settings dialog that changes it.
class DialShortcut : public QObject
{
    Q_OBJECT

public:
    // bus: where the portal is asked (the session bus; tests hand their own).
    explicit DialShortcut(const QDBusConnection& bus, QObject* parent = nullptr);
    // Releases the key.
    ~DialShortcut() override;

    // Sets the key at once; an empty choice on either side releases it.
    // False, with the reason for the user in `why`, when the key cannot work
    // (another program holds it, the keyboard lacks it, nothing on this
    // desktop takes keys): the key in force before stays. Through the portal
    // the desktop answers later; true means it has been asked.
    bool apply(const QString& modifier, const QString& key, QString& why);
    // The stored choice, unless it already works (or the desktop already
    // answered it): at start-up and after every saved change of the settings.
    void applyStored();
    // What to tell the user about the key in force; empty when it works or none is set.
    QString statusText() const;

signals:
    // The key was pressed, whichever program had the keyboard.
    void activated();

private:
    Q_DISABLE_COPY(DialShortcut)

    // Elsewhere than X11: asks the desktop for the choice in force, once it
    // is known whether the desktop can; again only when the choice changed.
    void bindThroughPortal(bool changed);

    GlobalHotKey* m_hotKey;
    GlobalShortcutsPortal* m_portal;
    // The choice in force (or, through the portal, asked for).
    QString m_modifier;
    QString m_key;
};
