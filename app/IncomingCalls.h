#pragma once

#include "IncomingCall.h"

#include <QObject>

class AddressBook;
class CallHistory;
class Notifier;

// The one road of every incoming call, before it is shown, recorded or
// counted: it logs the call, has the notifier show it and keeps it in the
// history. A caller the service sent no name for is looked up in the user's
// own address books.
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

public slots:
    void onIncomingCall(const IncomingCall& call);

private:
    Q_DISABLE_COPY(IncomingCalls)

    QString addressBookName(const IncomingCall& call) const;

    Notifier* m_notifier;
    CallHistory* m_history;
    const AddressBook* m_addressBook = nullptr;
};
