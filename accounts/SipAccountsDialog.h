#pragma once

#include "SourceType.h"
#include "ui_SipAccountsDialog.h"

#include <QDialog>

class QModelIndex;
class SipAccountsModel;

// Lets the user choose which SIP accounts a source may use (stored at once
// through the registry) and which of them is its default ("Opslaan" stores
// that one in the source's "DefaultSip").
class SipAccountsDialog : public QDialog
{
    Q_OBJECT

public:
    // Refreshes the source's accounts from the service before returning.
    SipAccountsDialog(SourceType::Type type, QWidget* parent);
    ~SipAccountsDialog() override;

private slots:
    void on_btnCancel_pressed();
    void on_btnSave_pressed();
    void onSipAccountChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);

private:
    Q_DISABLE_COPY(SipAccountsDialog)

    void fillDefaultList();

    Ui_SipAccountsDialog m_ui;
    SourceType::Type m_type;
    SipAccountsModel* m_model = nullptr;
};
