#pragma once

#include "OutgoingCall.h"
#include "SourceType.h"

#include <QHash>
#include <QObject>
#include <QString>

class CallHistory;

// The one road of every call the user starts, whatever the window: it chooses
// the account by the registry's rule, logs where the request came from, hands
// it to the web-service client, and when the outcome comes back records the
// call in the history once (with the contact that went with that very request)
// and reports the outcome under the request's id.
class CallRouter : public QObject
{
    Q_OBJECT

public:
    // history: where finished calls are recorded (not owned; may be null).
    explicit CallRouter(CallHistory* history, QObject* parent = nullptr);
    ~CallRouter() override;

    // Starts the call. A text that is no telephone number is refused at once:
    // nothing is sent, and finished(id, false) follows from the event loop.
    bool start(const OutgoingCall& call);

    // How the log names an origin ("Bel nummer: %1 via %2 opdracht ontvangen").
    static QString originName(OutgoingCall::Origin origin);

signals:
    // To the web-service client (a queued connection): the account is chosen.
    void requested(quint64 id, const QString& number, SourceType::Type source, const QString& sipId);
    // Once per start(), with the id of the request.
    void finished(quint64 id, bool success);

public slots:
    // The web-service client's verdict on a request.
    void onCallFinished(quint64 id, bool success);

private:
    Q_DISABLE_COPY(CallRouter)

    CallHistory* m_history;
    // Calls on their way, until their outcome is known.
    QHash<quint64, OutgoingCall> m_pending;
};
