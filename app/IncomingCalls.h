#pragma once

#include "IncomingCall.h"
#include "ScreenPop.h"

#include <QObject>

class CallHistory;
class DoNotDisturb;
class Notifier;
class ScreenPopOpener;

// The one road of every incoming call, before it is shown, recorded or
// counted: it logs the call, has the notifier show it (not while "Niet
// storen" is on), keeps it in the history (which counts it among the new
// calls) and opens the caller's page when that is set up.
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

    // At the desk: "Niet storen" silences the calls, the opener opens their
    // pages. Not owned; without them every call is shown and no page opens.
    void useDesk(DoNotDisturb* doNotDisturb, ScreenPopOpener* screenPop);

public slots:
    void onIncomingCall(const IncomingCall& call);
    // "Openen" in a call's notification.
    void openPage(const QString& pageKey, const ScreenPop::Caller& page);

private:
    Q_DISABLE_COPY(IncomingCalls)

    Notifier* m_notifier;
    CallHistory* m_history;
    DoNotDisturb* m_doNotDisturb = nullptr;
    ScreenPopOpener* m_screenPop = nullptr;
};
