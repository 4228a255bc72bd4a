#include "GlobalHotKey.h"

#include "Logger.h"

#include <QCoreApplication>
#include <QX11Info>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <memory>

namespace {

const QString kComponent = QStringLiteral("Sneltoets");

struct FreeDeleter
{
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

// The modifier bit that NumLock sets; Mod2 on nearly every keymap.
quint16 numLockMask(xcb_connection_t* connection, xcb_key_symbols_t* symbols)
{
    const XcbReply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    const XcbReply<xcb_keycode_t> numLock(xcb_key_symbols_get_keycode(symbols, XK_Num_Lock));
    if (!mapping || !numLock)
        return XCB_MOD_MASK_2;
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            if (keycodes[modifier * perModifier + i] == *numLock)
                return quint16(1 << modifier);
        }
    }
    return XCB_MOD_MASK_2;
}

quint16 modifierMask(const QString& name)
{
    if (name == QLatin1String("Control"))
        return XCB_MOD_MASK_CONTROL;
    if (name == QLatin1String("Alt"))
        return XCB_MOD_MASK_1;
    return 0;
}

xcb_keysym_t keysym(const QString& name)
{
    bool ok = false;
    const int n = name.startsWith(QLatin1Char('F')) ? name.midRef(1).toInt(&ok) : 0;
    return ok && n >= 1 && n <= 12 ? xcb_keysym_t(XK_F1 + n - 1) : xcb_keysym_t(XCB_NO_SYMBOL);
}

} // namespace

GlobalHotKey::GlobalHotKey(QObject* parent) : QObject(parent)
{
    if (isSupported())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

GlobalHotKey::~GlobalHotKey()
{
    release();
}

bool GlobalHotKey::isSupported()
{
    return QX11Info::isPlatformX11() && QX11Info::connection();
}

GlobalHotKey::Status GlobalHotKey::setShortcut(const QString& modifier, const QString& key)
{
    release();
    if (modifier.isEmpty() || key.isEmpty())
        return m_status = NoKey;
    if (!isSupported())
        return m_status = NotAvailable;
    const QString name = modifier + QLatin1Char('+') + key;
    xcb_connection_t* connection = QX11Info::connection();
    std::unique_ptr<xcb_key_symbols_t, void (*)(xcb_key_symbols_t*)> symbols(xcb_key_symbols_alloc(connection),
                                                                             xcb_key_symbols_free);
    const xcb_keysym_t symbol = keysym(key);
    const XcbReply<xcb_keycode_t> keycodes(
        symbols && symbol != XCB_NO_SYMBOL ? xcb_key_symbols_get_keycode(symbols.get(), symbol) : nullptr);
    m_modifiers = modifierMask(modifier);
    if (!keycodes || *keycodes == XCB_NO_SYMBOL || !m_modifiers) {
        Logger::instance()->log(Logger::Warning, kComponent,
                                QStringLiteral("Sneltoets %1 bestaat niet op dit toetsenbord.").arg(name));
        return m_status = UnknownKey;
    }
    m_keycode = *keycodes;
    m_lockMask = numLockMask(connection, symbols.get()) | XCB_MOD_MASK_LOCK;

    // Every lock state is a combination of its own to X; all four or none.
    const quint16 locks[] = {0, XCB_MOD_MASK_LOCK, quint16(m_lockMask & ~XCB_MOD_MASK_LOCK), m_lockMask};
    xcb_void_cookie_t cookies[4];
    for (int i = 0; i < 4; ++i) {
        cookies[i] = xcb_grab_key_checked(connection, 1, QX11Info::appRootWindow(), m_modifiers | locks[i], m_keycode,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    Status outcome = Registered;
    for (const xcb_void_cookie_t& cookie : cookies) {
        // BadAccess: another client grabbed the combination first.
        if (const XcbReply<xcb_generic_error_t> error{xcb_request_check(connection, cookie)})
            outcome = error->error_code == XCB_ACCESS ? InUse : UnknownKey;
    }
    m_status = Registered;
    if (outcome != Registered) {
        release();
        m_status = outcome;
        Logger::instance()->log(
            Logger::Warning, kComponent,
            outcome == InUse ? QStringLiteral("Sneltoets %1 is al in gebruik door een ander programma.").arg(name)
                             : QStringLiteral("Sneltoets %1 kon niet worden ingesteld.").arg(name));
    } else {
        Logger::instance()->log(Logger::Info, kComponent, QStringLiteral("Sneltoets %1 ingesteld.").arg(name));
    }
    return m_status;
}

QString GlobalHotKey::statusText(Status status)
{
    switch (status) {
    case InUse:
        return QStringLiteral("Deze sneltoets is al in gebruik door een ander programma.");
    case UnknownKey:
        return QStringLiteral("Deze sneltoets bestaat niet op uw toetsenbord.");
    case NotAvailable:
        return QStringLiteral("Op dit bureaublad kan %1 zelf geen sneltoets vastleggen. Stel in de "
                              "toetsenbordinstellingen van uw bureaublad een sneltoets in voor het commando "
                              "\"karvelon --dial-selection\".")
            .arg(QCoreApplication::applicationName());
    case NoKey:
    case Registered:
        break;
    }
    return QString();
}

void GlobalHotKey::release()
{
    if (m_status != Registered)
        return;
    xcb_connection_t* connection = QX11Info::connection();
    const quint16 locks[] = {0, XCB_MOD_MASK_LOCK, quint16(m_lockMask & ~XCB_MOD_MASK_LOCK), m_lockMask};
    for (const quint16 lock : locks)
        xcb_ungrab_key(connection, m_keycode, QX11Info::appRootWindow(), m_modifiers | lock);
    xcb_flush(connection);
    m_status = NoKey;
}

bool GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, long*)
{
    if (m_status != Registered || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const quint8 type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    const quint16 modifiers = key->state & ~m_lockMask & 0xff;
    if (key->detail != m_keycode || modifiers != m_modifiers)
        return false;
    // Whoever opens a window on it does so after X's event has been handled.
    if (type == XCB_KEY_PRESS) {
        // Qt never sees this press: without its time, a window manager that
        // guards the focus would take the window raised for it as an intruder.
        QX11Info::setAppUserTime(key->time);
        QMetaObject::invokeMethod(this, &GlobalHotKey::activated, Qt::QueuedConnection);
    }
    return true;
}
