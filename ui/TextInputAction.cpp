#include "TextInputAction.h"

#include <QEvent>
#include <QLineEdit>
#include <QWidgetAction>

TextInputAction::TextInputAction(QObject* parent)
    : QObject(parent)
{
    m_lineEdit = new QLineEdit();
    m_lineEdit->setObjectName(QStringLiteral("txtInput"));
    m_lineEdit->setPlaceholderText(QStringLiteral("Voer telefoonnummer in"));
    m_lineEdit->setInputMask(QString());

    m_action = new QWidgetAction(this);
    m_action->setDefaultWidget(m_lineEdit);
}

TextInputAction::~TextInputAction()
{
    // Either may still be shown in a menu that is tearing down right now.
    m_lineEdit->deleteLater();
    m_action->deleteLater();
}

QString TextInputAction::inputtedText() const
{
    return m_lineEdit->text();
}

void TextInputAction::clear()
{
    m_lineEdit->clear();
}

bool TextInputAction::event(QEvent* event)
{
    // The object reacts to nothing, but deleteLater() must still work, or a
    // caller that schedules its deletion would leak it.
    if (event->type() == QEvent::DeferredDelete)
        return QObject::event(event);
    return false;
}
