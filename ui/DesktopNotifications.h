#pragma once

#include "ScreenPop.h"

#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

class QDBusMessage;
class QDBusServiceWatcher;

// One message for the desktop's notification server.
struct DesktopNotification {
    QString title;             // summary
    QString text;              // body, plain text; escaped when the server reads markup
    bool error = false;        // urgency critical instead of normal
    bool incomingCall = false; // category "call.incoming", and actions when the server has them
    QString callerNumber;      // the service's caller id; the actions work on it (none when empty)
    int expireMsecs = -1;      // the server's own default
    QString pageKey{};         // the call whose page "Openen" opens, with page (no "Openen" when empty)
    ScreenPop::Caller page{};
};
Q_DECLARE_METATYPE(DesktopNotification)

// Messages through org.freedesktop.Notifications, with "Terugbellen",
// "Nummer kopiëren" and, for the caller's page, "Openen" on incoming calls. Every call is asynchronous, from the
// first question whether a server is there at all; when there is none, or
// it refuses or does not answer in time, fallback() hands the message back
// so that the caller can show it as a tray balloon.
class DesktopNotifications : public QObject
{
    Q_OBJECT

public:
    // bus: the session bus (the program passes QDBusConnection::sessionBus(); tests a private one).
    // timeoutMsecs: how long a Notify call may take before the message falls back.
    DesktopNotifications(const QDBusConnection& bus, int timeoutMsecs, QObject* parent = nullptr);
    ~DesktopNotifications() override;

    // A server owns org.freedesktop.Notifications now, or the bus can activate
    // one (false until the bus has answered).
    bool isAvailable() const;
    bool supportsActions() const;
    // Sends asynchronously; what cannot be shown comes back through fallback().
    // Messages wait for the bus's first answers and for a starting server.
    void notify(const DesktopNotification& n);

signals:
    void fallback(const DesktopNotification& n);
    void callBackRequested(const QString& number);
    void pageRequested(const QString& pageKey, const ScreenPop::Caller& page);
    void shown(uint id);

private slots:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    Q_DISABLE_COPY(DesktopNotifications)
    enum class Capabilities { Unknown, Pending, Known };

    void askBus(const QString& method, const QVariantList& arguments, std::function<void(const QDBusMessage&)> answer);
    void onBusAnswered();
    void onOwnerChanged(const QString& newOwner);
    void readCapabilities();
    void send(const DesktopNotification& n);

    QDBusConnection m_bus;
    int m_timeoutMsecs;
    QDBusServiceWatcher* m_watcher;
    // Questions to the bus not answered yet: whether a server runs, whether one can be started.
    int m_unanswered = 0;
    bool m_running = false;
    bool m_activatable = false;
    Capabilities m_capabilitiesState = Capabilities::Unknown;
    QStringList m_capabilities;
    // Bumped whenever the server changes hands: answers meant for the old one are dropped.
    quint64 m_generation = 0;
    // Messages that wait for the capabilities of a server that is just starting.
    QList<DesktopNotification> m_waiting;
    // What its actions need, per notification that carries actions.
    QHash<uint, DesktopNotification> m_withActions;
};
