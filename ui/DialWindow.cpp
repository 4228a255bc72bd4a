#include "DialWindow.h"

#include "ButtonGroupAction.h"
#include "CallDialog.h"
#include "CallHistory.h"
#include "DoNotDisturb.h"
#include "SipAccount.h"
#include "SipAccountManager.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QAbstractItemView>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QStringListModel>
#include <QTimer>
#include <QVBoxLayout>
#include <QValidator>

DialWindow::DialWindow(CallHistory* history, bool appActions, int closeDelayMsecs, QWidget* parent)
    : QDialog(parent)
    , m_history(history)
{
    setObjectName(QStringLiteral("dialWindow"));
    setWindowTitle(QCoreApplication::applicationName() + QStringLiteral(" - Bellen"));

    m_number = new QLineEdit(this);
    m_number->setObjectName(QStringLiteral("txtDialNumber"));
    m_number->setValidator(ButtonGroupAction::createNumberValidator(m_number));

    m_recentNumbers = new QStringListModel(this);
    auto* completer = new QCompleter(m_recentNumbers, this);
    completer->setObjectName(QStringLiteral("cmpDialNumber"));
    // Typing the end of a number finds it as well as typing its start.
    completer->setFilterMode(Qt::MatchContains);
    m_number->setCompleter(completer);

    m_accounts = new QComboBox(this);
    m_accounts->setObjectName(QStringLiteral("cboSipAccount"));

    auto* form = new QFormLayout;
    auto* numberLabel = new QLabel(QStringLiteral("&Nummer:"), this);
    numberLabel->setBuddy(m_number);
    form->addRow(numberLabel, m_number);
    m_accountLabel = new QLabel(QStringLiteral("&Account:"), this);
    m_accountLabel->setObjectName(QStringLiteral("lblSipAccount"));
    m_accountLabel->setBuddy(m_accounts);
    form->addRow(m_accountLabel, m_accounts);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblDialStatus"));
    // Shown as it is: the status line never interprets markup.
    m_status->setTextFormat(Qt::PlainText);
    QFont bold = m_status->font();
    bold.setBold(true);
    m_status->setFont(bold);

    m_dial = new QPushButton(QStringLiteral("&Bellen"), this);
    m_dial->setObjectName(QStringLiteral("btnDial"));
    // Return anywhere in the window dials, through the dialog's default button.
    m_dial->setDefault(true);
    m_dial->setEnabled(false);
    m_settings = new QPushButton(QStringLiteral("Instellingen"), this);
    m_settings->setObjectName(QStringLiteral("btnSettings"));
    m_logViewer = new QPushButton(QStringLiteral("Log bekijken"), this);
    m_logViewer->setObjectName(QStringLiteral("btnLogViewer"));
    m_doNotDisturbBox = new QCheckBox(QStringLiteral("Niet storen"), this);
    m_doNotDisturbBox->setObjectName(QStringLiteral("chkDoNotDisturb"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_settings);
    buttons->addWidget(m_logViewer);
    buttons->addWidget(m_doNotDisturbBox);
    buttons->addStretch();
    buttons->addWidget(m_dial);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    m_closeTimer = new QTimer(this);
    m_closeTimer->setSingleShot(true);
    m_closeTimer->setInterval(closeDelayMsecs);
    connect(m_closeTimer, &QTimer::timeout, this, &DialWindow::close);

    connect(m_number, &QLineEdit::textChanged, this,
            [this](const QString& number) { m_dial->setEnabled(!number.trimmed().isEmpty()); });
    connect(m_dial, &QPushButton::clicked, this, &DialWindow::dial);
    // While the completions are open they take the Return (which only closes
    // them) before the dialog could see it: a typed number must dial all the same.
    connect(m_number, &QLineEdit::returnPressed, this, [this, completer]() {
        if (completer->popup()->isVisible())
            dial();
    });
    connect(m_settings, &QPushButton::clicked, this, &DialWindow::openSettings);
    connect(m_logViewer, &QPushButton::clicked, this, &DialWindow::openLogViewer);
    // Only the user's click: following the state must not set it again.
    connect(m_doNotDisturbBox, &QCheckBox::clicked, this, [this](bool on) {
        if (!m_doNotDisturb)
            return;
        if (on)
            m_doNotDisturb->setAlways();
        else
            m_doNotDisturb->turnOff();
    });
    connect(SipAccountManager::instance(), &SipAccountManager::sipAccountsChanged, this,
            [this]() { loadAccounts(m_accounts->currentData().toString()); });
    if (m_history)
        connect(m_history, &CallHistory::changed, this, &DialWindow::loadCompletions);

    setAppActions(appActions);
    loadAccounts(QString());
    loadCompletions();
}

DialWindow::~DialWindow() = default;

void DialWindow::setAppActions(bool on)
{
    m_appActions = on;
    m_settings->setVisible(on);
    m_logViewer->setVisible(on);
    m_doNotDisturbBox->setVisible(on && m_doNotDisturb);
}

void DialWindow::setDoNotDisturb(DoNotDisturb* doNotDisturb)
{
    m_doNotDisturb = doNotDisturb;
    if (m_doNotDisturb)
        connect(m_doNotDisturb, &DoNotDisturb::changed, this, &DialWindow::followDoNotDisturb);
    followDoNotDisturb();
    setAppActions(m_appActions);
}

void DialWindow::followDoNotDisturb()
{
    const bool on = m_doNotDisturb && m_doNotDisturb->isOn();
    m_doNotDisturbBox->setChecked(on);
    m_doNotDisturbBox->setToolTip(m_doNotDisturb ? m_doNotDisturb->toolTipLine() : QString());
}

void DialWindow::prepare()
{
    m_closeTimer->stop();
    m_status->clear();
    if (m_clearOnPrepare)
        m_number->clear();
    m_clearOnPrepare = false;
    // A number kept after a failed call is selected, so typing a new one replaces it.
    m_number->selectAll();
    m_number->setFocus();
    loadAccounts(QString());
    m_foundNumber.clear();
    if (!m_moreFound.isEmpty()) {
        m_moreFound.clear();
        loadCompletions();
    }
}

void DialWindow::offerFoundNumbers(const QStringList& numbers, bool clipboardOnly)
{
    m_foundNumber = numbers.value(0);
    m_moreFound = numbers.mid(1);
    m_number->setText(m_foundNumber);
    m_number->selectAll();
    m_number->setFocus();
    loadCompletions();
    if (numbers.isEmpty()) {
        m_status->setText(QStringLiteral("Geen telefoonnummer gevonden in de selectie.")
                          + (clipboardOnly ? QStringLiteral("\nKopieer het nummer eerst en druk dan op de sneltoets.")
                                           : QString()));
    }
}

void DialWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_number->setFocus();
}

void DialWindow::dial()
{
    const QString number = m_number->text().trimmed();
    if (number.isEmpty())
        return;
    // Without a choice the call road takes the default account.
    const QString sipId = m_accounts->isHidden() ? QString() : m_accounts->currentData().toString();
    m_closeTimer->stop();
    m_status->clear();
    // The log tells a number dialled as it was found from one typed or corrected.
    const auto origin = number == m_foundNumber ? OutgoingCall::Selection : OutgoingCall::DialWindow;
    const OutgoingCall call = OutgoingCall::make(origin, number, sipId);
    m_awaited.await(call);
    emit callRequested(call);
}

void DialWindow::onCallFinished(quint64 callId, bool success)
{
    // The outcome of every call the program places arrives here, also of calls
    // from the tray menu or a plug-in: those are none of this window's business.
    if (!m_awaited.take(callId))
        return;
    m_status->setText(CallDialog::statusText(success));
    // After a failure the number stays for another try.
    m_clearOnPrepare = success;
    if (success)
        m_closeTimer->start();
}

void DialWindow::loadAccounts(const QString& preferredId)
{
    SipAccountManager* registry = SipAccountManager::instance();
    m_accounts->clear();
    for (const SipAccount* account : registry->callableAccounts(SourceType::ClickToDial))
        m_accounts->addItem(account->displayName(), account->id());
    m_accounts->setCurrentIndex(
        qMax(m_accounts->findData(registry->preselectedAccountId(SourceType::ClickToDial, preferredId)), 0));
    // With one account or none there is nothing to choose: the default account dials.
    const bool choice = registry->offersChoice(SourceType::ClickToDial);
    m_accounts->setVisible(choice);
    m_accountLabel->setVisible(choice);
}

void DialWindow::loadCompletions()
{
    QStringList numbers = m_moreFound;
    QSet<QString> seen(m_moreFound.cbegin(), m_moreFound.cend());
    static const QVector<CallRecord> noCalls;
    const QVector<CallRecord>& calls = m_history ? m_history->calls() : noCalls;
    const QValidator* validator = m_number->validator();
    // Newest first; numbers the field would refuse (anonymous callers, spaces) are not offered.
    for (auto call = calls.crbegin(); call != calls.crend(); ++call) {
        QString number = call->number;
        int position = 0;
        if (number.isEmpty() || seen.contains(number) ||
            validator->validate(number, position) != QValidator::Acceptable)
            continue;
        seen.insert(number);
        numbers << number;
    }
    m_recentNumbers->setStringList(numbers);
}
