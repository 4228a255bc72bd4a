#include "SourceType.h"

#include "SettingsKeys.h"

namespace SourceType {

namespace {
const QString kCallScript = QStringLiteral("cltodlapp.php?");
const QString kPluginScript = QStringLiteral("ouctdpl.php?");

const Row kRows[] = {
    {ClickToDial, SettingsKeys::kClickToDialGroup, QString(), QStringLiteral("Click-to-Dial"), kCallScript, QString()},
    {AnyPlugin, QString(), QString(), QStringLiteral("Click-to-Dial"), kPluginScript, QString()},
    {MsOutlook, QStringLiteral("OutlookPlugin"), QStringLiteral("msoutlook"), QStringLiteral("Click-to-Dial Outlook"),
     kPluginScript, QStringLiteral("tabOutlookPlugin")},
    {AppleContacts, QStringLiteral("AppleContactsPlugin"), QStringLiteral("acontacts"),
     QStringLiteral("Click-to-Dial Apple Contacts"), kPluginScript, QStringLiteral("tabAppleContactsPlugin")},
    {Thunderbird, QStringLiteral("ThunderbirdPlugin"), QStringLiteral("thunderbird"),
     QStringLiteral("Click-to-Dial Thunderbird"), kPluginScript, QStringLiteral("tabThunderbirdPlugin")},
};
} // namespace

const Row& row(Type type)
{
    for (const Row& r : kRows) {
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
