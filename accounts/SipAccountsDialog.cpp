#include "SipAccountsDialog.h"

#include "SipAccountsModel.h"
#include "Settings.h"
#include "SettingsKeys.h"

namespace {
const QString& kDefaultSipKey = SettingsKeys::kDefaultSip;
} // namespace

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
    const QString defaultSip = m_ui.cmbDefaultSip->currentData(Qt::UserRole).toString();
    Settings settings;
    settings.set(SourceType::settingsGroup(m_type), kDefaultSipKey, defaultSip);
    accept();
}

void SipAccountsDialog::onSipAccountChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    Q_UNUSED(topLeft)
    Q_UNUSED(bottomRight)
    fillDefaultList();
}

// The default list shows exactly the checked accounts; the saved default stays
// current when it is among them, else the first one.
void SipAccountsDialog::fillDefaultList()
{
    m_ui.cmbDefaultSip->clear();

    Settings settings;
    const QString savedDefault = settings.get(SourceType::settingsGroup(m_type), kDefaultSipKey).toString();

    int current = 0;
    const int rows = m_model->rowCount();
    for (int row = 0; row < rows; ++row) {
        const QString id = m_model->index(row, 1).data(Qt::UserRole).toString();
        const int checkState = m_model->index(row, 0).data(Qt::CheckStateRole).toInt();
        if (checkState != Qt::Checked)
            continue;
        m_ui.cmbDefaultSip->addItem(m_model->index(row, 1).data(Qt::DisplayRole).toString(), id);
        if (id == savedDefault)
            current = m_ui.cmbDefaultSip->count() - 1;
    }
    if (m_ui.cmbDefaultSip->count() > 0)
        m_ui.cmbDefaultSip->setCurrentIndex(current);
}
