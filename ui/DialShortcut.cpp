#include "DialShortcut.h"

#include "GlobalHotKey.h"
#include "GlobalShortcutsPortal.h"
#include "Logger.h"
#include "Settings.h"
#include "SettingsKeys.h"

DialShortcut::DialShortcut(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_hotKey(new GlobalHotKey(this)), m_portal(new GlobalShortcutsPortal(bus, this))
{
    connect(m_hotKey, &GlobalHotKey::activated, this, &DialShortcut::activated);
    connect(m_portal, &GlobalShortcutsPortal::activated, this, &DialShortcut::activated);
    // The answer to the probe decides what happens to the choice in force.
    connect(m_portal, &GlobalShortcutsPortal::stateChanged, this, [this](GlobalShortcutsPortal::State state) {
        if (state == GlobalShortcutsPortal::Available || state == GlobalShortcutsPortal::Unavailable)
            bindThroughPortal(false);
    });
}

DialShortcut::~DialShortcut() = default;

bool DialShortcut::apply(const QString& modifier, const QString& key, QString& why)
{
    const bool none = modifier.isEmpty() || key.isEmpty();
    if (GlobalHotKey::isSupported()) {
        const GlobalHotKey::Status status = m_hotKey->setShortcut(modifier, key);
        if (status != GlobalHotKey::Registered && status != GlobalHotKey::NoKey) {
            why = m_hotKey->statusText();
            m_hotKey->setShortcut(m_modifier, m_key); // the key in force before stays
            return false;
        }
    } else if (!none && m_portal->state() == GlobalShortcutsPortal::Unavailable) {
        why = GlobalHotKey::statusText(GlobalHotKey::NotAvailable);
        return false;
    }
    const bool changed = modifier != m_modifier || key != m_key;
    m_modifier = modifier;
    m_key = key;
    if (!GlobalHotKey::isSupported())
        bindThroughPortal(changed);
    return true;
}

void DialShortcut::applyStored()
{
    Settings settings;
    const QString modifier = settings.get(SettingsKeys::kClickToDialGroup, SettingsKeys::kModifier).toString();
    const QString key = settings.get(SettingsKeys::kClickToDialGroup, SettingsKeys::kHotkey).toString();
    const bool changed = modifier != m_modifier || key != m_key;
    m_modifier = modifier;
    m_key = key;
    if (!GlobalHotKey::isSupported())
        bindThroughPortal(changed);
    else if (changed || m_hotKey->status() != GlobalHotKey::Registered) // another program may have let go of it
        m_hotKey->setShortcut(modifier, key);
}

void DialShortcut::bindThroughPortal(bool changed)
{
    using Portal = GlobalShortcutsPortal;
    if (m_portal->state() == Portal::Unknown) {
        m_portal->probe(); // its answer comes back here
        return;
    }
    if (m_modifier.isEmpty() || m_key.isEmpty()) {
        m_portal->release();
        return;
    }
    switch (m_portal->state()) {
    case Portal::Unavailable:
        Logger::instance()->log(Logger::Warning, QStringLiteral("Sneltoets"),
                                GlobalHotKey::statusText(GlobalHotKey::NotAvailable));
        break;
    case Portal::Available:
        m_portal->bind(Portal::triggerFor(m_modifier, m_key));
        break;
    default:
        // Asked before: the desktop may put the question to the user, so only a new choice asks again.
        if (changed)
            m_portal->bind(Portal::triggerFor(m_modifier, m_key));
        break;
    }
}

QString DialShortcut::statusText() const
{
    if (GlobalHotKey::isSupported())
        return m_hotKey->statusText();
    if (m_modifier.isEmpty() || m_key.isEmpty())
        return QString();
    if (m_portal->state() == GlobalShortcutsPortal::Unavailable)
        return GlobalHotKey::statusText(GlobalHotKey::NotAvailable);
    if (m_portal->state() == GlobalShortcutsPortal::Refused)
        return QStringLiteral("Het bureaublad heeft deze sneltoets niet toegestaan.");
    return QString();
}
