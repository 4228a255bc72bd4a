#include "SipAccount.h"

#include <QDataStream>

SipAccount::SipAccount() = default;

SipAccount::SipAccount(SourceType::Type type, const QString& displayName, const QString& id, bool checked)
    : m_displayName(displayName)
    , m_id(id)
    , m_checked(checked)
    , m_type(type)
{
}

// A copy is a plain value: no parent, no connections.
SipAccount::SipAccount(const SipAccount& other)
    : QObject()
    , m_displayName(other.m_displayName)
    , m_id(other.m_id)
    , m_checked(other.m_checked)
    , m_default(other.m_default)
    , m_type(other.m_type)
    , m_typeKnown(other.m_typeKnown)
{
}

SipAccount& SipAccount::operator=(const SipAccount& other)
{
    if (this != &other) {
        m_displayName = other.m_displayName;
        m_id = other.m_id;
        m_checked = other.m_checked;
        m_default = other.m_default;
        m_type = other.m_type;
        m_typeKnown = other.m_typeKnown;
    }
    return *this;
}

SipAccount::~SipAccount() = default;

// The setters signal even an unchanged value: the registry saves on every
// signal, and callers rely on a set being persisted.
void SipAccount::setDisplayName(const QString& displayName)
{
    m_displayName = displayName;
    emit dataChanged();
}

void SipAccount::setId(const QString& id)
{
    m_id = id;
    emit dataChanged();
}

void SipAccount::setChecked(bool checked)
{
    m_checked = checked;
    emit dataChanged();
}

void SipAccount::setDefault(bool isDefault)
{
    m_default = isDefault;
    emit dataChanged();
}

void SipAccount::setType(SourceType::Type type)
{
    m_type = type;
}

bool SipAccount::isKnownType(qint32 type)
{
    switch (type) {
    case SourceType::ClickToDial:
    case SourceType::AnyPlugin:
    case SourceType::MsOutlook:
    case SourceType::AppleContacts:
    case SourceType::Thunderbird:
        return true;
    default:
        return false;
    }
}

void SipAccount::registerMetaType()
{
    // Function-local static: registers once, however often it is called.
    static const bool registered = [] {
        qRegisterMetaType<SipAccount>("SipAccount");
        qRegisterMetaTypeStreamOperators<SipAccount>("SipAccount");
        return true;
    }();
    Q_UNUSED(registered)
}

QDataStream& operator<<(QDataStream& out, const SipAccount& account)
{
    out << account.displayName() << account.id() << account.isChecked() << account.isDefault()
        << qint32(account.type());
    return out;
}

// Reads into temporaries and assigns only when the whole record was read, so a
// damaged stream never leaves a half-filled record behind; the stream's status
// tells the caller (QVariant, QSettings) that the value is unusable.
QDataStream& operator>>(QDataStream& in, SipAccount& account)
{
    QString displayName;
    QString id;
    bool checked = false;
    bool isDefault = false;
    qint32 type = 0;
    in >> displayName >> id >> checked >> isDefault >> type;
    if (in.status() != QDataStream::Ok)
        return in;
    account.m_displayName = displayName;
    account.m_id = id;
    account.m_checked = checked;
    account.m_default = isDefault;
    // An unknown source value is not cast into the enumeration (that could be
    // out of its range); the record is kept readable so the rest of the list
    // survives, and marked so the registry leaves it out.
    account.m_typeKnown = SipAccount::isKnownType(type);
    account.m_type = account.m_typeKnown ? static_cast<SourceType::Type>(type) : SourceType::ClickToDial;
    return in;
}

QVariantList toVariantList(const QList<SipAccount*>& accounts)
{
    QVariantList list;
    list.reserve(accounts.size());
    for (const SipAccount* account : accounts)
        list.append(QVariant::fromValue(*account));
    return list;
}
