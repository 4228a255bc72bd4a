#include "SipAccountsModel.h"

#include "SipAccount.h"
#include "SipAccountManager.h"

SipAccountsModel::SipAccountsModel(SourceType::Type type, QObject* parent)
    : QAbstractTableModel(parent)
    , m_type(type)
{
    SipAccountManager* registry = SipAccountManager::instance();
    connect(registry, &SipAccountManager::sipAccountsChanged, this, &SipAccountsModel::onDataChanged);
    m_knownRows = rowCount();
    // The service's list is merged when it comes; until then the stored accounts show.
    registry->requestRefresh(m_type);
}

SipAccountsModel::~SipAccountsModel() = default;

int SipAccountsModel::rowCount(const QModelIndex& parent) const
{
    Q_UNUSED(parent)
    return SipAccountManager::instance()->accountsCount(m_type);
}

int SipAccountsModel::columnCount(const QModelIndex& parent) const
{
    Q_UNUSED(parent)
    return 2;
}

QVariant SipAccountsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    // A view may ask for a row that the registry has just dropped, before the
    // change signal has reached us: no account, no data.
    const SipAccount* account = SipAccountManager::instance()->accountAt(index.row(), m_type);
    if (!account)
        return QVariant();

    if (index.column() == 0 && role == Qt::CheckStateRole)
        return account->isChecked() ? Qt::Checked : Qt::Unchecked;
    if (index.column() == 1) {
        if (role == Qt::DisplayRole)
            return account->displayName();
        if (role == Qt::UserRole)
            return account->id();
    }
    return QVariant();
}

QVariant SipAccountsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    if (section == 0)
        return QString();
    if (section == 1)
        return QStringLiteral("Naam");
    return QVariant();
}

bool SipAccountsModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::CheckStateRole)
        return false;
    SipAccount* account = SipAccountManager::instance()->accountAt(index.row(), m_type);
    if (!account)
        return false;
    // The registry saves and signals; onDataChanged tells the views.
    account->setChecked(value.toBool());
    return true;
}

Qt::ItemFlags SipAccountsModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == 0)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

void SipAccountsModel::addAccount(const QString& displayName, const QString& id, bool checked)
{
    SipAccountManager::instance()->addSipAccount(new SipAccount(m_type, displayName, id, checked));
}

void SipAccountsModel::onDataChanged()
{
    const int rows = rowCount();
    if (rows != m_knownRows) {
        beginResetModel();
        m_knownRows = rows;
        endResetModel();
        return;
    }
    if (rows == 0)
        return;
    emit dataChanged(index(0, 0), index(rows - 1, columnCount() - 1), {});
}
