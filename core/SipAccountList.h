#pragma once

#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>

// A customer's SIP accounts as the service lists them: (display name, id).
using SipAccountList = QList<QPair<QString, QString>>;

Q_DECLARE_METATYPE(SipAccountList)
