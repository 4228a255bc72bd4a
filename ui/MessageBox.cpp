#include "MessageBox.h"

#include <QList>

namespace {
// GUI thread only, like the boxes themselves.
QList<QMessageBox::StandardButton> g_answers;
MessageBox::Shown g_lastShown;
int g_shownCount = 0;
} // namespace

QMessageBox::StandardButton MessageBox::question(QWidget* parent, const QString& title, const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton)
{
    return show(QMessageBox::Question, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBox::information(QWidget* parent, const QString& title, const QString& text,
                                                    QMessageBox::StandardButtons buttons)
{
    return show(QMessageBox::Information, parent, title, text, buttons, QMessageBox::NoButton);
}

QMessageBox::StandardButton MessageBox::warning(QWidget* parent, const QString& title, const QString& text,
                                                QMessageBox::StandardButtons buttons)
{
    return show(QMessageBox::Warning, parent, title, text, buttons, QMessageBox::NoButton);
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    g_answers.append(answer);
}

void MessageBox::clearAnswers()
{
    g_answers.clear();
    g_lastShown = Shown();
    g_shownCount = 0;
}

int MessageBox::pendingAnswers()
{
    return g_answers.size();
}

MessageBox::Shown MessageBox::lastShown()
{
    return g_lastShown;
}

int MessageBox::shownCount()
{
    return g_shownCount;
}

QMessageBox::StandardButton MessageBox::show(QMessageBox::Icon icon, QWidget* parent, const QString& title,
                                             const QString& text, QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton)
{
    g_lastShown = Shown{title, text};
    ++g_shownCount;
    if (!g_answers.isEmpty())
        return g_answers.takeFirst();

    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}
