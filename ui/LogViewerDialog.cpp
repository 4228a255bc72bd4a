#include "LogViewerDialog.h"

LogViewerDialog::LogViewerDialog(QWidget* parent) : QDialog(parent)
{
    m_ui.setupUi(this);
}

LogViewerDialog::~LogViewerDialog() = default;
