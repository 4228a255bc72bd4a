#pragma once

#include "ui_LogViewerDialog.h"

#include <QDialog>

// Shows, filters, purges and exports the activity log.
class LogViewerDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LogViewerDialog(QWidget* parent = nullptr);
    ~LogViewerDialog() override;

private:
    Q_DISABLE_COPY(LogViewerDialog)

    Ui_LogViewerDialog m_ui;
};
