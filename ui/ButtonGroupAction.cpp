#include "ButtonGroupAction.h"

#include "PhoneNumber.h"
#include "SipAccount.h"
#include "SipAccountManager.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QRegExp>
#include <QRegExpValidator>
#include <QWidgetAction>

ButtonGroupAction::ButtonGroupAction(QMenu* menu, QAction* before, QObject* parent)
    : IMenuCallWidget(parent)
    , m_menu(menu)
    , m_before(before)
{
    connect(SipAccountManager::instance(), &SipAccountManager::sipAccountsChanged, this,
            &ButtonGroupAction::onSipAccountsChanged);
}

ButtonGroupAction::~ButtonGroupAction()
{
    // The widget action owns the field once it is its default widget; an
    // action that never got one leaves the field to us. The submenu has no
    // parent to take it along.
    if (!m_inputAction)
        delete m_inputField;
    delete m_callWithMenu;
}

QString ButtonGroupAction::phoneNumber() const
{
    return m_inputField ? m_inputField->text() : QString();
}

QString ButtonGroupAction::clearPhoneNumber()
{
    const QString number = phoneNumber();
    if (m_inputField)
        m_inputField->clear();
    return number;
}

QValidator* ButtonGroupAction::createNumberValidator(QObject* parent)
{
    return new QRegExpValidator(QRegExp(PhoneNumber::fieldPattern(), Qt::CaseSensitive, QRegExp::RegExp), parent);
}

void ButtonGroupAction::initInputfield()
{
    if (m_inputField)
        return;

    auto* validator = createNumberValidator(this);

    m_inputField = new QLineEdit();
    m_inputField->setObjectName(QStringLiteral("txtPhoneNumber"));
    m_inputField->setPlaceholderText(QStringLiteral("Voer telefoonnummer in"));
    m_inputField->setValidator(validator);
    connect(m_inputField, &QLineEdit::returnPressed, this, &ButtonGroupAction::onReturnPressed);

    m_inputAction = new QWidgetAction(this);
    m_inputAction->setObjectName(QStringLiteral("actPhoneNumber"));
    m_inputAction->setDefaultWidget(m_inputField);
    if (m_menu)
        m_menu->insertAction(m_before, m_inputAction);

    connect(m_inputField, &QLineEdit::textChanged, this, &ButtonGroupAction::phoneNumberChanged);

    buildCallMenu();
}

void ButtonGroupAction::buildCallMenu()
{
    if (!m_menu)
        return;

    SipAccountManager* registry = SipAccountManager::instance();

    if (!m_callAction) {
        m_callAction = new QAction(QStringLiteral("Bel"), this);
        m_callAction->setObjectName(QStringLiteral("actCall"));
        m_callAction->setEnabled(false);
        connect(m_callAction, &QAction::triggered, this, &ButtonGroupAction::onCallClicked);
        m_menu->insertAction(m_before, m_callAction);
    }

    if (!m_callWithMenu) {
        m_callWithMenu = new QMenu(QStringLiteral("Bel met"));
        m_callWithMenu->setObjectName(QStringLiteral("mnuCallWith"));
        m_callWithMenu->menuAction()->setObjectName(QStringLiteral("actCallWith"));
        // Until a number is typed there is nothing to call with.
        m_callWithMenu->menuAction()->setEnabled(false);
        m_menu->insertMenu(m_before, m_callWithMenu);
    }

    if (registry->offersChoice(SourceType::ClickToDial)) {
        QAction* menuAction = m_callWithMenu->menuAction();
        menuAction->setVisible(true);
        menuAction->setEnabled(!phoneNumber().trimmed().isEmpty());
        m_callWithMenu->clear();
        // The entries carry the account id, never the record: the registry may
        // replace its records while the menu lives.
        for (const SipAccount* account : registry->callableAccounts(SourceType::ClickToDial)) {
            QAction* action = m_callWithMenu->addAction(account->displayName(), this,
                                                        &ButtonGroupAction::onSipAccountClicked);
            action->setData(QVariant(account->id()));
        }
    } else {
        m_callWithMenu->menuAction()->setVisible(false);
    }
}

void ButtonGroupAction::onSipAccountsChanged()
{
    buildCallMenu();
}

void ButtonGroupAction::onSipAccountClicked()
{
    auto* action = qobject_cast<QAction*>(sender());
    if (!action)
        return;
    emit callNumber(phoneNumber(), action->data().toString());
}

void ButtonGroupAction::onCallClicked()
{
    // No account named: the call road takes the default.
    const QString number = phoneNumber();
    if (!number.isEmpty())
        emit callNumber(number, QString());
    clearPhoneNumber();
}

void ButtonGroupAction::onReturnPressed()
{
    onCallClicked();
}

void ButtonGroupAction::phoneNumberChanged(const QString& number)
{
    const bool hasNumber = !number.trimmed().isEmpty();
    if (m_callAction) {
        m_callAction->setText(hasNumber ? QStringLiteral("Bel: %1").arg(number) : QStringLiteral("Bel"));
        m_callAction->setEnabled(hasNumber);
    }
    if (m_callWithMenu)
        m_callWithMenu->menuAction()->setEnabled(hasNumber);
}
