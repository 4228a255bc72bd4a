#pragma once

#include "SourceType.h"

#include <QMetaType>
#include <QString>

// A call the user asked for, on its way to the one object that starts every
// call. Its id comes back with the outcome, so the window that asked shows
// that outcome and no other.
struct OutgoingCall
{
    // Where the request came from, as the log tells it.
    enum Origin
    {
        TrayMenu,     // the tray menu's number field, "Bel" and "Bel met"
        DialWindow,   // "Karvelon - Bellen"
        CallDialog,   // a contact's number from a plug-in, a second start or a link
        RecentCalls,  // "Recente gesprekken"
        Journal,      // "Karvelon - Gesprekken"
        Notification, // "Terugbellen" in a desktop notification
        Selection,    // the number found in the selection (hot key, --dial-selection)
    };

    quint64 id = 0;
    QString number;                             // as the user gave it
    SourceType::Type source = SourceType::ClickToDial;
    QString sipId;                              // the account chosen; empty: the source's default
    QString contactName;                        // the contact the number belongs to, for the history
    Origin origin = TrayMenu;

    // A request with an id of its own (unique for the run, never 0).
    static OutgoingCall make(Origin origin, const QString& number, const QString& sipId = QString(),
                             SourceType::Type source = SourceType::ClickToDial, const QString& contactName = QString());
};

// The call a window waits for. The outcome of every call passes every window
// that dials; each shows only that of its own call, once.
class AwaitedCall
{
public:
    void await(const OutgoingCall& call) { m_id = call.id; }
    // True for the outcome of the awaited call, which is then no longer awaited.
    bool take(quint64 finishedId)
    {
        if (finishedId == 0 || finishedId != m_id)
            return false;
        m_id = 0;
        return true;
    }

private:
    quint64 m_id = 0;
};

Q_DECLARE_METATYPE(OutgoingCall)
