#pragma once

#include "IMenuCallWidget.h"

class QAction;
class QLineEdit;
class QMenu;
class QValidator;
class QWidgetAction;

// The call widget of the tray menu: a number field, the "Bel" entry and the
// "Bel met" submenu with the checked click-to-dial accounts.
class ButtonGroupAction : public IMenuCallWidget
{
    Q_OBJECT

public:
    // The menu is filled but not owned.
    explicit ButtonGroupAction(QMenu* menu, QObject* parent = nullptr);
    ~ButtonGroupAction() override;

    QString phoneNumber() const override;
    QString clearPhoneNumber() override;
    virtual void initInputfield();

    void buildCallMenu();

    // The click-to-dial account that "Bel" and the call history call with.
    static QString defaultSipId();

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
    QMenu* m_callWithMenu = nullptr;
    QAction* m_callAction = nullptr;
    QWidgetAction* m_inputAction = nullptr;
};
