#pragma once

#include "IncomingCall.h"

#include <QObject>

class CallHistory;
class Notifier;

// The one road of every incoming call, before it is shown, recorded or
// counted: it logs the call, has the notifier show it and keeps it in the
// history.
class IncomingCalls : public QObject
{
    Q_OBJECT

public:
    // Neither is owned; both must outlive this object.
    IncomingCalls(Notifier* notifier, CallHistory* history, QObject* parent = nullptr);
    ~IncomingCalls() override;

    // The text of the message: "Inkomende oproep van <caller> op <number called>."
    // and the service's other fields below it.
    static QString messageText(const IncomingCall& call);

public slots:
    void onIncomingCall(const IncomingCall& call);

private:
    Q_DISABLE_COPY(IncomingCalls)

    Notifier* m_notifier;
    CallHistory* m_history;
};
