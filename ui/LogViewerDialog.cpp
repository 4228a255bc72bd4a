#include "LogViewerDialog.h"

#include "CellToolTip.h"
#include "FileDialog.h"
#include "LogExporter.h"
#include "LogTableModel.h"
#include "Logger.h"
#include "MessageBox.h"

#include <QCoreApplication>
#include <QHeaderView>

LogViewerDialog::LogViewerDialog(QWidget* parent) : QDialog(parent), m_model(new LogTableModel(this))
{
    m_ui.setupUi(this);
    setWindowTitle(QCoreApplication::applicationName() + QStringLiteral(" - Log viewer"));
    populateLogRecords();
    // "Bericht" takes the free width; a message cut off still shows whole on hover.
    CellToolTip::install(m_ui.tableView);
    m_ui.lblLogo->setVisible(true);
}

LogViewerDialog::~LogViewerDialog()
{
    // The view goes before its model.
    m_ui.tableView->setModel(nullptr);
    delete m_model;
}

void LogViewerDialog::populateLogRecords()
{
    m_model->setRecords(Logger::instance()->readLogRecords());

    m_ui.tableView->setModel(m_model);
    m_ui.tableView->resizeColumnsToContents();
    m_ui.tableView->setSortingEnabled(true);

    m_ui.cmbComponentFilter->addItems(m_model->components());

    // Newest record on top.
    m_ui.tableView->sortByColumn(LogTableModel::DateColumn, Qt::DescendingOrder);
}

void LogViewerDialog::on_cmbComponentFilter_currentTextChanged(const QString& text)
{
    if (text.toLower() == QLatin1String("alles"))
        m_model->setComponentFilter(QString());
    else
        m_model->setComponentFilter(text);
}

void LogViewerDialog::on_btnPurge_pressed()
{
    const auto answer = MessageBox::question(this, QCoreApplication::applicationName(),
                                             QStringLiteral("Weet u zeker dat u alle log informatie wilt verwijderen?"),
                                             QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    Logger::instance()->purge(0);
    m_model->clear();
}

void LogViewerDialog::on_btnClose_pressed()
{
    accept();
}

void LogViewerDialog::on_btnExport_pressed()
{
    const QString caption = QStringLiteral("Export locatie");
    const QString proposed = QStringLiteral("export.zip");
    const QString filter = QStringLiteral("ZIP bestand (*.zip)");
    const QString target = FileDialog::getSaveFileName(this, caption, proposed, filter);
    if (target.isEmpty())
        return;

    QString error;
    if (!LogExporter::exportDirectory(Logger::instance()->logLocation(), target, error)) {
        Logger::instance()->log(
            Logger::Error, QCoreApplication::applicationName(),
            QStringLiteral("Exporteren van de log bestanden naar %1 is mislukt: %2").arg(target, error));
        MessageBox::warning(this, windowTitle(),
                            QStringLiteral("Exporteren van de log bestanden is mislukt.\n\n%1").arg(error));
        return;
    }
    MessageBox::information(this, windowTitle(), QStringLiteral("Log bestanden succesvol geëxporteerd."));
}
