#pragma once

#include <QString>
#include <QStringList>

// The contact a call request carries, "name;number=label;...", as both the
// plug-ins' command socket and a second start with "--call" send it.
namespace ContactPayload {

// Who sent the payload. The two differ where the plug-ins' fixed format does:
// - SecondStart: a name alone still yields one (empty) entry; a piece without
//   "=" is used as both number and label; "a=b=c" splits at the first "=".
// - PluginSocket: a name alone yields no entry at all; a field that is not
//   exactly "number=label" is passed on as received.
enum Origin
{
    SecondStart,
    PluginSocket,
};

// The name and each number entry turned into "number (label)", the form the
// call dialog shows.
struct Contact
{
    QString name;
    QStringList numbers;
};
Contact parse(const QString& rest, Origin origin);

} // namespace ContactPayload
