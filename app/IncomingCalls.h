#pragma once

#include "IncomingCall.h"
#include "ScreenPop.h"

#include <QObject>

class AddressBook;
class CallHistory;
class DoNotDisturb;
class Notifier;
class ScreenPopOpener;

// The one road of every incoming call, before it is shown, recorded or
// counted: it logs the call, has the notifier show it (not while "Niet
// storen" is on), keeps it in the history (which counts it among the new
// calls) and opens the caller's page when that is set up. A caller the
// service sent no name for is looked up in the user's own address books.
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

    // The user's own contacts, asked from now on (not owned; null: none). The
    // program hands them over once they are being read, after start-up.
    void setAddressBook(const AddressBook* addressBook) { m_addressBook = addressBook; }

    // At the desk: "Niet storen" silences the calls, the opener opens their
    // pages. Not owned; without them every call is shown and no page opens.
    void useDesk(DoNotDisturb* doNotDisturb, ScreenPopOpener* screenPop);

public slots:
    void onIncomingCall(const IncomingCall& call);
    // "Openen" in a call's notification.
    void openPage(const QString& pageKey, const ScreenPop::Caller& page);

private:
    Q_DISABLE_COPY(IncomingCalls)

    QString addressBookName(const IncomingCall& call) const;

    Notifier* m_notifier;
    CallHistory* m_history;
    DoNotDisturb* m_doNotDisturb = nullptr;
    ScreenPopOpener* m_screenPop = nullptr;
    const AddressBook* m_addressBook = nullptr;
};
