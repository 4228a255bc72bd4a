#pragma once

#include "ui_LogViewerDialog.h"

#include <QDialog>

class LogTableModel;

// Shows, filters, purges and exports the activity log.
class LogViewerDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LogViewerDialog(QWidget* parent = nullptr);
    ~LogViewerDialog() override;

private slots:
    void on_btnPurge_pressed();
    void on_btnClose_pressed();
    void on_btnExport_pressed();
    void on_cmbComponentFilter_currentTextChanged(const QString& text);

private:
    Q_DISABLE_COPY(LogViewerDialog)

    void populateLogRecords();

    Ui_LogViewerDialog m_ui;
    LogTableModel* m_model = nullptr;
};
