#pragma once

#include "IMenuCallWidget.h"

class QAction;
class QLineEdit;
class QMenu;
class QValidator;
class QWidgetAction;

// The call widget of the tray menu: a number field, the "Bel" entry and the
// "Bel met" submenu with the click-to-dial accounts a call may use. Its
// entries belong to it: they leave the menu when it goes.
class ButtonGroupAction : public IMenuCallWidget
{
    Q_OBJECT

public:
    // Fills menu (not owned) above before, or at its end when before is null.
    explicit ButtonGroupAction(QMenu* menu, QAction* before = nullptr, QObject* parent = nullptr);
    ~ButtonGroupAction() override;

    QString phoneNumber() const override;
    QString clearPhoneNumber() override;
    virtual void initInputfield();

    void buildCallMenu();

    // What a number field accepts (PhoneNumber::fieldPattern). Shared by every field that dials.
    static QValidator* createNumberValidator(QObject* parent);

    // The number field, so that the menu can hand it the keyboard focus.
    QLineEdit* inputField() const { return m_inputField; }

public slots:
    void onSipAccountsChanged();
    void onSipAccountClicked();
    void onCallClicked();
    void onReturnPressed();
    void phoneNumberChanged(const QString& number);

private:
    Q_DISABLE_COPY(ButtonGroupAction)

    QLineEdit* m_inputField = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_before = nullptr;
    QMenu* m_callWithMenu = nullptr;
    QAction* m_callAction = nullptr;
    QWidgetAction* m_inputAction = nullptr;
};
