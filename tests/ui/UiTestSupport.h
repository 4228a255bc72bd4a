#pragma once

#include "Logger.h"
#include "SipAccount.h"
#include "SipAccountManager.h"

#include <QComboBox>
#include <QJsonObject>
#include <QObject>
#include <QStringList>

// Small helpers shared by the widget tests of this folder.
namespace UiTest {

// "a b c" as {"a", "b", "c"}: short tables.
inline QStringList words(const char* text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

inline void clearAccounts()
{
    SipAccountManager* registry = SipAccountManager::instance();
    for (SourceType::Type type :
         {SourceType::ClickToDial, SourceType::MsOutlook, SourceType::Thunderbird, SourceType::AppleContacts}) {
        for (SipAccount* account : registry->accounts(type, false))
            registry->removeSipAccount(account);
    }
}

// Each code is "<source><+|-><name>": source C, O, T or A; "+" is checked; the id is the name in lower case.
inline void addAccounts(const QStringList& codes)
{
    for (const QString& code : codes) {
        const QChar source = code.at(0);
        const SourceType::Type type = source == QLatin1Char('C')   ? SourceType::ClickToDial
                                      : source == QLatin1Char('O') ? SourceType::MsOutlook
                                      : source == QLatin1Char('T') ? SourceType::Thunderbird
                                                                   : SourceType::AppleContacts;
        const QString name = code.mid(2);
        SipAccountManager::instance()->addSipAccount(
            new SipAccount(type, name, name.toLower(), code.at(1) == QLatin1Char('+')));
    }
}

// Log records with this component and message; severity -1 matches any.
inline int countRecords(const QString& component, const QString& msg, int severity = -1)
{
    int count = 0;
    for (const QJsonObject& record : Logger::instance()->readLogRecords()) {
        if ((severity < 0 || record.value(QStringLiteral("severity")).toInt(-1) == severity) &&
            record.value(QStringLiteral("component")).toString() == component &&
            record.value(QStringLiteral("msg")).toString() == msg)
            ++count;
    }
    return count;
}

inline QStringList comboItems(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

template <typename T> T* child(const QObject& parent, const QString& name)
{
    T* found = parent.findChild<T*>(name);
    if (!found)
        qWarning("no child %s", qPrintable(name));
    return found;
}

template <typename T> T* child(const QObject& parent, const char* name)
{
    return child<T>(parent, QString::fromLatin1(name));
}

} // namespace UiTest
