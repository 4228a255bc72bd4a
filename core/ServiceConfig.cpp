#include "ServiceConfig.h"

#include "BuildConfig.h"

ServiceConfig::ServiceConfig()
    : apiBaseUrl(QStringLiteral(KARVELON_API_BASE_URL))
    , notifyUrl(QStringLiteral(KARVELON_NOTIFY_URL))
    , wanIpHtmlUrl(QStringLiteral(KARVELON_WANIP_HTML_URL))
    , wanIpTextUrl(QStringLiteral(KARVELON_WANIP_TEXT_URL))
{
}
