#include "ButtonGroupAction.h"

#include "PhoneNumber.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SipAccount.h"
#include "SipAccountManager.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QRegExp>
#include <QRegExpValidator>
#include <QWidgetAction>

ButtonGroupAction::ButtonGroupAction(QMenu* menu, QObject* parent)
    : IMenuCallWidget(parent)
    , m_menu(menu)
{
    connect(SipAccountManager::instance(), &SipAccountManager::sipAccountsChanged, this,
            &ButtonGroupAction::onSipAccountsChanged);
}

ButtonGroupAction::~ButtonGroupAction()
{
    // The widget action owns the field once it is its default widget; an
    // action that never got one leaves the field to us.
    if (!m_inputAction)
        delete m_inputField;
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
        m_menu->addAction(m_inputAction);

    connect(m_inputField, &QLineEdit::textChanged, this, &ButtonGroupAction::phoneNumberChanged);

    buildCallMenu();
}

void ButtonGroupAction::buildCallMenu()
{
    if (!m_menu)
        return;

    const QList<SipAccount*> accounts = SipAccountManager::instance()->accounts(SourceType::ClickToDial, true);

    if (!m_callAction) {
        m_callAction = m_menu->addAction(QStringLiteral("Bel"));
        m_callAction->setObjectName(QStringLiteral("actCall"));
        m_callAction->setEnabled(false);
        connect(m_callAction, &QAction::triggered, this, &ButtonGroupAction::onCallClicked);
    }

    if (!m_callWithMenu) {
        m_callWithMenu = m_menu->addMenu(QStringLiteral("Bel met"));
        m_callWithMenu->setObjectName(QStringLiteral("mnuCallWith"));
        m_callWithMenu->menuAction()->setObjectName(QStringLiteral("actCallWith"));
        // Until a number is typed there is nothing to call with.
        m_callWithMenu->menuAction()->setEnabled(false);
    }

    if (accounts.size() > 1) {
        QAction* menuAction = m_callWithMenu->menuAction();
        menuAction->setVisible(true);
        menuAction->setEnabled(false);
        m_callWithMenu->clear();
        // The entries carry the account id, never the record: the registry may
        // replace its records while the menu lives.
        for (const SipAccount* account : accounts) {
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

QString ButtonGroupAction::defaultSipId()
{
    return Settings().get(SettingsKeys::kClickToDialGroup, SettingsKeys::kDefaultSip).toString();
}

void ButtonGroupAction::onCallClicked()
{
    const QString sipId = defaultSipId();
    const QString number = phoneNumber();
    if (!number.isEmpty())
        emit callNumber(number, sipId);
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
