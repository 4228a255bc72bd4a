#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// Where a call request, a set of credentials or a SIP account belongs.
namespace SourceType {
enum Type {
    ClickToDial = 0,
    AnyPlugin = 1,
    MsOutlook = 1024,
    AppleContacts = 1025,
    Thunderbird = 1026,
};

// Everything the program ties to a source, in one row per source.
struct Row
{
    Type type;
    QString group;     // settings group with the source's credentials; empty: none of its own
    QString options;   // value of the web API's "options" (and the plug-in's log component)
    QString component; // log component of its calls
    QString script;    // web-API script of its calls
    QString tab;       // settings-dialog tab; empty: the default tab
};

// The row of a source. A value outside the enumeration gets the row of
// AnyPlugin when above 0, else that of ClickToDial.
const Row& row(Type type);
// The plug-in sources in the order their credentials are tried: Outlook, Apple Contacts, Thunderbird.
const QList<Type>& plugins();

inline QString settingsGroup(Type type) { return row(type).group; }
inline QString optionsName(Type type) { return row(type).options; }
inline QString settingsTab(Type type) { return row(type).tab; }

// Registers "SourceType::Type" so that it can travel through queued connections.
void registerMetaType();
} // namespace SourceType

Q_DECLARE_METATYPE(SourceType::Type)
