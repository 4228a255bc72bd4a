#pragma once

#include <QMessageBox>

// Every modal question and notice of the program goes through here, so that
// tests can pre-answer them; what the user sees is a plain QMessageBox.
class MessageBox
{
public:
    static QMessageBox::StandardButton question(QWidget* parent, const QString& title, const QString& text,
                                                QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No,
                                                QMessageBox::StandardButton defaultButton = QMessageBox::No);
    static QMessageBox::StandardButton information(QWidget* parent, const QString& title, const QString& text,
                                                   QMessageBox::StandardButtons buttons = QMessageBox::Ok);
    static QMessageBox::StandardButton warning(QWidget* parent, const QString& title, const QString& text,
                                               QMessageBox::StandardButtons buttons = QMessageBox::Ok);

    // Test hooks. Queued answers are used in order, one per question or
    // notice; with none queued the real box is shown.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    static void clearAnswers();
    static int pendingAnswers();

    struct Shown
    {
        QString title;
        QString text;
    };
    // What the last box showed (or would have shown), for tests.
    static Shown lastShown();
    static int shownCount();

private:
    static QMessageBox::StandardButton show(QMessageBox::Icon icon, QWidget* parent, const QString& title,
                                            const QString& text, QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton);
};
