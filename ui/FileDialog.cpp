#include "FileDialog.h"

#include <QFileDialog>
#include <QStringList>

namespace {
// GUI thread only, like the dialogs themselves.
QStringList g_answers;
} // namespace

QString FileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter)
{
    if (!g_answers.isEmpty())
        return g_answers.takeFirst();
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString FileDialog::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter)
{
    if (!g_answers.isEmpty())
        return g_answers.takeFirst();
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString FileDialog::getExistingDirectory(QWidget* parent, const QString& caption, const QString& dir)
{
    if (!g_answers.isEmpty())
        return g_answers.takeFirst();
    return QFileDialog::getExistingDirectory(parent, caption, dir);
}

void FileDialog::setNextPath(const QString& path)
{
    g_answers.append(path);
}
