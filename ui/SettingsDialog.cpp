#include "SettingsDialog.h"

SettingsDialog::SettingsDialog(KarvelonApi* api, QWidget* parent) : QDialog(parent), m_api(api)
{
    m_ui.setupUi(this);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::activateTab(const QString& tabName)
{
    Q_UNUSED(tabName)
}
