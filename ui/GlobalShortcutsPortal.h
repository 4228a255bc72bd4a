#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

class QDBusMessage;
class QDBusPendingCallWatcher;

// Our one global shortcut, "Nummer uit selectie bellen", bound through the
// desktop's org.freedesktop.portal.GlobalShortcuts (KDE Plasma 5.27 and
// later): the road on Wayland, where a program cannot grab keys itself. The
// desktop decides the key, usually after asking the user; activated() follows
// each press. Every call is asynchronous: requests answer through the
// portal's Response signal on a request object of their own.
class GlobalShortcutsPortal : public QObject
{
    Q_OBJECT

public:
    enum State
    {
        Unknown,     // not asked yet, or the answer is on its way
        Unavailable, // no portal, or one without global shortcuts
        Available,   // the portal is there; nothing bound
        Binding,     // waiting for the desktop (and perhaps the user)
        Bound,       // activated() follows each press of trigger()
        Refused,     // the desktop or the user said no
    };
    Q_ENUM(State)

    static const QString ShortcutId;

    // bus: the session bus (the program passes QDBusConnection::sessionBus(); tests a private one).
    explicit GlobalShortcutsPortal(const QDBusConnection& bus, QObject* parent = nullptr);
    // Closes the session, which drops the binding.
    ~GlobalShortcutsPortal() override;

    // Asks whether the desktop offers global shortcuts; stateChanged follows.
    void probe();
    bool isAvailable() const { return m_state >= Available; }
    State state() const { return m_state; }

    // Binds the shortcut, suggesting preferredTrigger (see triggerFor; may be
    // empty). Only after probe() found the portal; binding again replaces the binding.
    void bind(const QString& preferredTrigger);
    // Drops the binding.
    void release();
    // How the desktop names the key it bound, e.g. "Ctrl+F9"; empty until Bound.
    QString trigger() const { return m_trigger; }

    // The settings' choice as the portal writes a trigger: "Control", "F9" -> "CTRL+F9".
    static QString triggerFor(const QString& modifier, const QString& key);

signals:
    void stateChanged(GlobalShortcutsPortal::State state);
    void activated();

private slots:
    void onResponse(uint response, const QVariantMap& results, const QDBusMessage& message);
    void onActivated(const QDBusMessage& message);

private:
    Q_DISABLE_COPY(GlobalShortcutsPortal)
    enum class Step
    {
        None,
        CreateSession,
        BindShortcuts
    };

    void setState(State state);
    void createSession();
    void bindShortcuts();
    // Calls a portal method whose outcome arrives as a Response on the request object.
    void request(Step step, const QString& method, QVariantList arguments, QVariantMap options);
    void closeSession();

    QDBusConnection m_bus;
    State m_state = Unknown;
    Step m_step = Step::None;
    QString m_requestPath;
    QString m_sessionPath;
    QString m_preferredTrigger;
    QString m_trigger;
    // Bumped on every new request and on release(): answers to an older one are dropped.
    quint64 m_generation = 0;
};
