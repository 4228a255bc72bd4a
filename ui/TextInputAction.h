#pragma once

#include <QObject>
#include <QString>

class QEvent;
class QLineEdit;
class QWidgetAction;

// A bare number field wrapped in a widget action, for menus that want only
// the field. The tray menu uses ButtonGroupAction instead.
class TextInputAction : public QObject
{
    Q_OBJECT

public:
    explicit TextInputAction(QObject* parent = nullptr);
    ~TextInputAction() override;

    QWidgetAction* action() const { return m_action; }
    QString inputtedText() const;
    void clear();

    bool event(QEvent* event) override;

private:
    Q_DISABLE_COPY(TextInputAction)

    QLineEdit* m_lineEdit = nullptr;
    QWidgetAction* m_action = nullptr;
};
