#include "SipAccountManager.h"

#include "Logger.h"
#include "SipAccount.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "StoredSipAccounts.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace {
const QString& kGroup = SettingsKeys::kCustomerGroup;
const QString& kKey = SettingsKeys::kSipAccounts;
} // namespace

SipAccountManager* SipAccountManager::m_instance = nullptr;

SipAccountManager* SipAccountManager::instance()
{
    if (!m_instance)
        m_instance = new SipAccountManager(nullptr);
    return m_instance;
}

SipAccountManager::SipAccountManager(QObject* parent)
    : QObject(parent)
{
    SipAccount::registerMetaType();
    loadSipAccounts();
}

SipAccountManager::~SipAccountManager()
{
    if (m_instance == this)
        m_instance = nullptr;
    // The records are children of the registry and go with it.
}

QList<SipAccount*> SipAccountManager::accounts(SourceType::Type type, bool onlyChecked) const
{
    QList<SipAccount*> result;
    for (SipAccount* account : m_accounts) {
        if (account->type() == type && (!onlyChecked || account->isChecked()))
            result.append(account);
    }
    return result;
}

SipAccount* SipAccountManager::accountAt(int index, SourceType::Type type) const
{
    if (index < 0)
        return nullptr;
    int seen = 0;
    for (SipAccount* account : m_accounts) {
        if (account->type() != type)
            continue;
        if (seen == index)
            return account;
        ++seen;
    }
    return nullptr;
}

int SipAccountManager::accountsCount(SourceType::Type type) const
{
    int count = 0;
    for (const SipAccount* account : m_accounts) {
        if (account->type() == type)
            ++count;
    }
    return count;
}

void SipAccountManager::addSipAccount(SipAccount* account)
{
    // Adding a record twice would leave a second, dangling entry once the
    // first one is dropped and released.
    if (!account || m_accounts.contains(account))
        return;
    account->setParent(this);
    m_accounts.append(account);
    connect(account, &SipAccount::dataChanged, this, &SipAccountManager::onSipAccountChanged);
    emit sipAccountsChanged();
}

void SipAccountManager::removeSipAccount(SipAccount* account)
{
    if (!account)
        return;
    const QString id = account->id();
    for (int i = 0; i < m_accounts.size(); ++i) {
        SipAccount* candidate = m_accounts.at(i);
        if (candidate == account || candidate->id() == id) {
            m_accounts.removeAt(i);
            emit sipAccountsChanged();
            release({candidate});
            return;
        }
    }
}

void SipAccountManager::removeSipAccount(const QString& id)
{
    for (int i = 0; i < m_accounts.size(); ++i) {
        SipAccount* candidate = m_accounts.at(i);
        if (candidate->id() == id) {
            m_accounts.removeAt(i);
            emit sipAccountsChanged();
            release({candidate});
            return;
        }
    }
}

void SipAccountManager::save()
{
    Settings settings;
    settings.set(kGroup, kKey, toVariantList(m_accounts));
}

void SipAccountManager::loadSipAccounts()
{
    bool repaired = false;
    const QVariantList stored = readStoredAccounts(repaired);
    const int userType = qMetaTypeId<SipAccount>();
    int dropped = 0;
    for (const QVariant& value : stored) {
        if (value.userType() != userType && !value.canConvert(userType)) {
            ++dropped;
            continue;
        }
        auto* account = new SipAccount(value.value<SipAccount>());
        if (!account->hasKnownType()) {
            delete account;
            ++dropped;
            continue;
        }
        account->setParent(this);
        connect(account, &SipAccount::dataChanged, this, &SipAccountManager::onSipAccountChanged);
        m_accounts.append(account);
    }
    if (dropped > 0) {
        Logger::instance()->log(Logger::Warning, QString(),
                                QStringLiteral("%1 opgeslagen SIP account(s) onleesbaar en overgeslagen").arg(dropped));
    }
    // The damaged value was cut out of the file: store what could be read.
    if (repaired)
        save();
}

void SipAccountManager::requestRefresh(SourceType::Type type)
{
    emit refreshRequested(type);
}

void SipAccountManager::onSipAccountsFetched(SourceType::Type type, bool ok, const SipAccountList& remote)
{
    if (!ok) {
        // One failed request must not wipe the stored accounts and the
        // user's check marks: only a real answer replaces them.
        Logger::instance()->log(
            Logger::Warning, QString(),
            QStringLiteral("SIP accounts niet bijgewerkt: ophalen mislukt, opgeslagen accounts blijven behouden"));
        return;
    }

    QStringList remoteIds;
    remoteIds.reserve(remote.size());
    for (const auto& entry : remote) {
        const QString& name = entry.first;
        const QString& id = entry.second;
        remoteIds.append(id);
        if (SipAccount* existing = find(id, type))
            existing->setDisplayName(name);
        else
            addSipAccount(new SipAccount(type, name, id, false));
    }

    QList<SipAccount*> dropped;
    for (int i = 0; i < m_accounts.size();) {
        SipAccount* account = m_accounts.at(i);
        if (account->type() == type && !remoteIds.contains(account->id())) {
            dropped.append(account);
            m_accounts.removeAt(i);
        } else {
            ++i;
        }
    }

    save();

    if (!dropped.isEmpty()) {
        // Menus and dialogs rebuild from the registry on this signal, so they
        // let go of the dropped records before those are released.
        emit sipAccountsChanged();
        release(dropped);
    }
}

QString SipAccountManager::defaultAccountId(SourceType::Type source)
{
    const QString group = SourceType::settingsGroup(source);
    return Settings().get(group.isEmpty() ? SettingsKeys::kClickToDialGroup : group, SettingsKeys::kDefaultSip).toString();
}

void SipAccountManager::setDefaultAccountId(SourceType::Type source, const QString& id)
{
    const QString group = SourceType::settingsGroup(source);
    Settings().set(group.isEmpty() ? SettingsKeys::kClickToDialGroup : group, SettingsKeys::kDefaultSip, id);
}

QList<SipAccount*> SipAccountManager::callableAccounts(SourceType::Type source) const
{
    return accounts(source, true);
}

bool SipAccountManager::offersChoice(SourceType::Type source) const
{
    return callableAccounts(source).size() > 1;
}

QString SipAccountManager::preselectedAccountId(SourceType::Type source, const QString& preferred) const
{
    const QList<SipAccount*> callable = callableAccounts(source);
    const QString fallback = defaultAccountId(source);
    for (const QString& wanted : {preferred, fallback}) {
        for (const SipAccount* account : callable) {
            if (!wanted.isEmpty() && account->id() == wanted)
                return wanted;
        }
    }
    return callable.isEmpty() ? QString() : callable.first()->id();
}

QString SipAccountManager::accountForCall(SourceType::Type source, const QString& chosen)
{
    return chosen.isEmpty() ? defaultAccountId(source) : chosen;
}

void SipAccountManager::onSipAccountChanged()
{
    save();
    emit sipAccountsChanged();
}

SipAccount* SipAccountManager::find(const QString& id, SourceType::Type type) const
{
    for (SipAccount* account : m_accounts) {
        if (account->type() == type && account->id() == id)
            return account;
    }
    return nullptr;
}

// Dropped records are deleted from the event loop rather than at once: a
// caller up the stack (a slot that set a flag, a menu being rebuilt) may
// still hold the pointer until it returns.
void SipAccountManager::release(const QList<SipAccount*>& dropped)
{
    for (SipAccount* account : dropped) {
        disconnect(account, nullptr, this, nullptr);
        account->deleteLater();
    }
}

// A damaged value must not take the program down. QSettings decodes every
// value of a group (and, on any write, of the whole file) with a reader that
// reserves room for as many entries as a stored count claims, so a damaged
// count aborts the program at the next settings access anywhere. The file is
// therefore checked first with a reader that trusts no count; a damaged value
// is cut out of the file before QSettings sees it, and the records before the
// damage are kept (and saved again by the caller).
QVariantList SipAccountManager::readStoredAccounts(bool& repaired)
{
    repaired = false;
    Settings settings;
    const QString path = settings.fileName();
    QByteArray iniText;
    {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            iniText = file.readAll();
    }
    bool found = false;
    const StoredSipAccounts::ParseResult parsed = StoredSipAccounts::parseIni(iniText, kGroup, kKey, found);
    if (found && parsed.isVariant && !parsed.complete) {
        Logger::instance()->log(
            Logger::Warning, QString(),
            QStringLiteral("Opgeslagen SIP accounts zijn beschadigd; %1 leesbare account(s) behouden")
                .arg(parsed.accounts.size()));
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(StoredSipAccounts::withoutIniValue(iniText, kGroup, kKey));
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            repaired = file.commit();
        }
        if (!repaired) {
            Logger::instance()->log(Logger::Error, QString(),
                                    QStringLiteral("Kon beschadigde SIP accounts niet verwijderen uit %1").arg(path));
        }
        return parsed.accounts;
    }
    return settings.get(kGroup, kKey).toList();
}
