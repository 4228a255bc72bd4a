#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QString>

// A key combination that works whichever program has the keyboard, in an X11
// session: grabbed on the root window, in every NumLock and CapsLock state.
// Elsewhere (Wayland, the offscreen platform) nothing can be grabbed and every
// setShortcut() answers NotAvailable; there the desktop's own shortcut
// settings or its GlobalShortcuts portal take over.
class GlobalHotKey : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    enum Status
    {
        NoKey,        // none set, or set to nothing
        Registered,   // grabbed: activated() follows each press
        InUse,        // another program holds this combination
        UnknownKey,   // a name outside the settings' lists, or a key the keyboard does not have
        NotAvailable, // no X11 session
    };
    Q_ENUM(Status)

    explicit GlobalHotKey(QObject* parent = nullptr);
    // Releases the key.
    ~GlobalHotKey() override;

    // Whether keys can be grabbed in this session at all.
    static bool isSupported();

    // modifier: "Control" or "Alt"; key: "F1" to "F12" (the items of the
    // settings dialog's lists). Releases the key held before; either name
    // empty leaves it at that. Returns at once with the outcome, which is also
    // logged when it fails.
    Status setShortcut(const QString& modifier, const QString& key);
    Status status() const { return m_status; }
    // What to tell the user about status(); empty when there is nothing to say.
    QString statusText() const { return statusText(m_status); }
    static QString statusText(Status status);

signals:
    void activated();

protected:
    bool nativeEventFilter(const QByteArray& eventType, void* message, long* result) override;

private:
    Q_DISABLE_COPY(GlobalHotKey)

    void release();

    Status m_status = NoKey;
    quint8 m_keycode = 0;
    quint16 m_modifiers = 0;
    // NumLock and CapsLock: their state is ignored.
    quint16 m_lockMask = 0;
};
