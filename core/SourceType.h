#pragma once

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

// Settings group of a source ("ClickToDial", "OutlookPlugin", ...); empty for a value without one.
QString settingsGroup(Type type);
// The "options" string of a plug-in source ("msoutlook", "acontacts", "thunderbird"); empty otherwise.
QString optionsName(Type type);
// Settings-dialog tab of a plug-in source ("tabOutlookPlugin", ...); empty otherwise.
QString settingsTab(Type type);

// Registers "SourceType::Type" so that it can travel through queued connections.
void registerMetaType();
} // namespace SourceType

Q_DECLARE_METATYPE(SourceType::Type)
