#include "AddressIndex.h"

#include "PhoneNumber.h"

bool AddressIndex::add(const QString& name, const QStringList& numbers)
{
    if (name.isEmpty())
        return false;
    bool added = false;
    for (const QString& number : numbers) {
        const QString key = PhoneNumber::nationalForm(number);
        if (!key.isEmpty() && !m_names.contains(key)) {
            m_names.insert(key, name);
            added = true;
        }
    }
    return added;
}

QString AddressIndex::lookup(const QString& number) const
{
    return m_names.value(PhoneNumber::nationalForm(number));
}
