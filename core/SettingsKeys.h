#pragma once

#include <QString>

// The groups and keys of the settings file, named once. The plug-ins' groups
// are in the source table (SourceType::row).
namespace SettingsKeys {
inline const QString kCustomerGroup = QStringLiteral("CustomerGroup");
inline const QString kNotificationsGroup = QStringLiteral("Notifications");
inline const QString kClickToDialGroup = QStringLiteral("ClickToDial");
inline const QString kScreenPopGroup = QStringLiteral("ScreenPop");
inline const QString kAddressBooksGroup = QStringLiteral("AddressBooks");

inline const QString kNumber = QStringLiteral("Number");
inline const QString kPassword = QStringLiteral("Password");
inline const QString kSipAccounts = QStringLiteral("SipAccounts");
inline const QString kEnabled = QStringLiteral("Enabled");
inline const QString kUsername = QStringLiteral("Username");
inline const QString kId = QStringLiteral("Id");
inline const QString kKey = QStringLiteral("Key");
inline const QString kDefaultSip = QStringLiteral("DefaultSip");
inline const QString kModifier = QStringLiteral("Modifier");
inline const QString kHotkey = QStringLiteral("Hotkey");
inline const QString kDoNotDisturbUntil = QStringLiteral("DoNotDisturbUntil");
inline const QString kUrl = QStringLiteral("Url");
inline const QString kMode = QStringLiteral("Mode");
inline const QString kVCardPath = QStringLiteral("VCardPath");
inline const QString kThunderbird = QStringLiteral("Thunderbird");
} // namespace SettingsKeys
