#include "SipAccountsDialog.h"

#include "SipAccount.h"
#include "SipAccountManager.h"
#include "SipAccountsModel.h"

SipAccountsDialog::SipAccountsDialog(SourceType::Type type, QWidget* parent)
    : QDialog(parent)
    , m_type(type)
{
    m_ui.setupUi(this);
    setWindowTitle(QStringLiteral("SIP Accounts"));

    m_model = new SipAccountsModel(m_type, this);
    connect(m_model, &SipAccountsModel::dataChanged, this, &SipAccountsDialog::onSipAccountChanged);
    // Accounts added or dropped while the dialog is open reach us as a reset.
    connect(m_model, &SipAccountsModel::modelReset, this, &SipAccountsDialog::fillDefaultList);
    m_ui.tableView->setModel(m_model);

    onSipAccountChanged(QModelIndex(), QModelIndex());
}

SipAccountsDialog::~SipAccountsDialog()
{
    m_model->deleteLater();
}

void SipAccountsDialog::on_btnCancel_pressed()
{
    reject();
}

void SipAccountsDialog::on_btnSave_pressed()
{
    SipAccountManager::setDefaultAccountId(m_type, m_ui.cmbDefaultSip->currentData(Qt::UserRole).toString());
    accept();
}

void SipAccountsDialog::onSipAccountChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    Q_UNUSED(topLeft)
    Q_UNUSED(bottomRight)
    fillDefaultList();
}

// The default list shows exactly the accounts a call may use, with the one
// the registry's rule preselects.
void SipAccountsDialog::fillDefaultList()
{
    SipAccountManager* registry = SipAccountManager::instance();
    m_ui.cmbDefaultSip->clear();
    for (const SipAccount* account : registry->callableAccounts(m_type))
        m_ui.cmbDefaultSip->addItem(account->displayName(), account->id());
    const int current = m_ui.cmbDefaultSip->findData(registry->preselectedAccountId(m_type));
    if (current >= 0)
        m_ui.cmbDefaultSip->setCurrentIndex(current);
}
