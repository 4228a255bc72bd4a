#pragma once

#include <QString>

class QWidget;

// The file dialogs of the program go through here, so that tests can
// pre-answer them as they do MessageBox; what the user sees is QFileDialog.
class FileDialog
{
public:
    // The chosen path; empty when the user cancelled.
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);
    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);
    static QString getExistingDirectory(QWidget* parent, const QString& caption, const QString& dir);

    // Queued answers are used in order, one per dialog of any kind; with none queued the real dialog is shown.
    static void setNextPath(const QString& path);

private:
    FileDialog() = delete;
};
