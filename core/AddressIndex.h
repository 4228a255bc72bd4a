#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// Names by telephone number, keyed by the national form in which every notation of one number is equal
// ("+31 (0)20-123 45 67", "0031201234567" and "020 1234567"). A plain value: filled on one thread, then only read.
class AddressIndex
{
public:
    // Adds the name under each of the numbers not known yet: the first name given for a number stays. Texts that are
    // no telephone number, and an empty name, are passed over. True when at least one number was added.
    bool add(const QString& name, const QStringList& numbers);
    // The name for a number in any notation; empty when none is known.
    QString lookup(const QString& number) const;
    int size() const { return m_names.size(); }

private:
    QHash<QString, QString> m_names;
};
