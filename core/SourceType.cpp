#include "SourceType.h"

namespace SourceType {

QString settingsGroup(Type type)
{
    switch (type) {
    case ClickToDial:
        return QStringLiteral("ClickToDial");
    case MsOutlook:
        return QStringLiteral("OutlookPlugin");
    case AppleContacts:
        return QStringLiteral("AppleContactsPlugin");
    case Thunderbird:
        return QStringLiteral("ThunderbirdPlugin");
    case AnyPlugin:
        break;
    }
    return QString();
}

QString optionsName(Type type)
{
    switch (type) {
    case MsOutlook:
        return QStringLiteral("msoutlook");
    case AppleContacts:
        return QStringLiteral("acontacts");
    case Thunderbird:
        return QStringLiteral("thunderbird");
    case ClickToDial:
    case AnyPlugin:
        break;
    }
    return QString();
}

QString settingsTab(Type type)
{
    switch (type) {
    case MsOutlook:
        return QStringLiteral("tabOutlookPlugin");
    case AppleContacts:
        return QStringLiteral("tabAppleContactsPlugin");
    case Thunderbird:
        return QStringLiteral("tabThunderbirdPlugin");
    case ClickToDial:
    case AnyPlugin:
        break;
    }
    return QString();
}

void registerMetaType()
{
    qRegisterMetaType<SourceType::Type>("SourceType::Type");
}

} // namespace SourceType
