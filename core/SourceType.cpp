#include "SourceType.h"

#include "SettingsKeys.h"

namespace SourceType {

const Row& row(Type type)
{
    // Made at first use, so that it is there whenever it is asked for.
    static const QString callScript = QStringLiteral("cltodlapp.php?");
    static const QString pluginScript = QStringLiteral("ouctdpl.php?");
    static const Row rows[] = {
        {ClickToDial, SettingsKeys::kClickToDialGroup, QString(), QStringLiteral("Click-to-Dial"), callScript, QString()},
        {AnyPlugin, QString(), QString(), QStringLiteral("Click-to-Dial"), pluginScript, QString()},
        {MsOutlook, QStringLiteral("OutlookPlugin"), QStringLiteral("msoutlook"), QStringLiteral("Click-to-Dial Outlook"),
         pluginScript, QStringLiteral("tabOutlookPlugin")},
        {AppleContacts, QStringLiteral("AppleContactsPlugin"), QStringLiteral("acontacts"),
         QStringLiteral("Click-to-Dial Apple Contacts"), pluginScript, QStringLiteral("tabAppleContactsPlugin")},
        {Thunderbird, QStringLiteral("ThunderbirdPlugin"), QStringLiteral("thunderbird"),
         QStringLiteral("Click-to-Dial Thunderbird"), pluginScript, QStringLiteral("tabThunderbirdPlugin")},
    };
    for (const Row& r : rows) {
        if (r.type == type)
            return r;
    }
    return row(static_cast<int>(type) > 0 ? AnyPlugin : ClickToDial);
}

const QList<Type>& plugins()
{
    static const QList<Type> order = {MsOutlook, AppleContacts, Thunderbird};
    return order;
}

void registerMetaType()
{
    qRegisterMetaType<SourceType::Type>("SourceType::Type");
}

} // namespace SourceType
