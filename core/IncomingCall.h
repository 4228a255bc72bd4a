#pragma once

#include <QMetaType>
#include <QString>

// An incoming call as the notification service announced it.
struct IncomingCall
{
    QString number;  // the caller's number ("callerID")
    QString contact; // the name the service's phone book has for it ("contact"), empty when none
    QString did;     // the number that was called ("did")
    QString details; // the other fields, "name: value" per line, sorted by name
    QString callId;  // the service's id of the call ("callid"), empty when none: the same in a repeated announcement

    // The caller as the user reads it: "contact (number)", or the number.
    QString caller() const
    {
        return contact.isEmpty() ? number : QStringLiteral("%1 (%2)").arg(contact, number);
    }
};

Q_DECLARE_METATYPE(IncomingCall)
