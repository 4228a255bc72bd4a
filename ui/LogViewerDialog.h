#pragma once

#include "ui_LogViewerDialog.h"

#include <QDialog>

#include <functional>

class LogTableModel;

// Shows, filters, purges and exports the activity log.
class LogViewerDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LogViewerDialog(QWidget* parent = nullptr);
    ~LogViewerDialog() override;

    // Test hook: replaces the file dialog that asks for the export target.
    // It gets the parent, caption, proposed file and filter and returns the
    // chosen path (empty: cancelled). An empty function restores the dialog.
    using SaveFileNameProvider =
        std::function<QString(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)>;
    static void setSaveFileNameProviderForTesting(SaveFileNameProvider provider);

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
