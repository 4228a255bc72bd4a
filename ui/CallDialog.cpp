#include "CallDialog.h"

#include "SipAccount.h"
#include "SipAccountManager.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPixmap>

// The compiled-in pictures sit in a static library, where nothing would pull
// them into the program; referring to them here does, and registering them
// twice is harmless.
static void initResources()
{
    Q_INIT_RESOURCE(karvelon);
}

CallDialog::CallDialog(SourceType::Type type, QWidget* parent)
    : QDialog(parent)
    , m_type(type)
{
    initResources();
    m_ui.setupUi(this);
    setWindowTitle(QCoreApplication::applicationName() + QStringLiteral(" - Bel"));

    // The menu is built once: accounts that change while the dialog is open
    // show up the next time. Actions map to account ids, never to records.
    SipAccountManager* registry = SipAccountManager::instance();
    const QList<SipAccount*> accounts = registry->callableAccounts(type);
    if (!registry->offersChoice(type)) {
        m_ui.btnCallWith->setVisible(false);
    } else {
        m_ui.btnCallWith->setVisible(true);
        auto* menu = new QMenu(m_ui.btnCallWith);
        menu->setObjectName(QStringLiteral("mnuCallWith"));
        for (const SipAccount* account : accounts) {
            QAction* action = menu->addAction(account->displayName(), this, &CallDialog::SipAccountClicked);
            m_accountActions.insert(action, account->id());
        }
        m_ui.btnCallWith->setMenu(menu);
    }

    m_ui.logo->setPixmap(QPixmap(QStringLiteral(":/logos/Karvelon400")));
}

CallDialog::~CallDialog() = default;

QString CallDialog::nameMarkup(const QString& name)
{
    return QStringLiteral("<span style=\" font-size:14pt; font-weight:600;\">") + name.toHtmlEscaped()
        + QStringLiteral("</span>");
}

QString CallDialog::stripNumberLabel(const QString& entry)
{
    // The label is the bracketed part that ends the entry ("number (label)");
    // brackets inside the number ("+31 (0)20 ...") stay.
    if (!entry.endsWith(QLatin1Char(')')))
        return entry;
    int depth = 0;
    for (int i = entry.size() - 1; i >= 0; --i) {
        if (entry.at(i) == QLatin1Char(')'))
            ++depth;
        else if (entry.at(i) == QLatin1Char('(') && --depth == 0)
            return entry.left(i);
    }
    return entry;
}

void CallDialog::setName(const QString& name)
{
    m_name = name;
    m_ui.lblCallInformation->setText(nameMarkup(name));
}

void CallDialog::setPhoneNumbers(const QStringList& numbers)
{
    m_ui.cmbPhoneNumber->clear();
    for (const QString& number : numbers)
        addPhoneNumber(number);
}

void CallDialog::addPhoneNumber(const QString& number)
{
    m_ui.cmbPhoneNumber->addItem(number);
}

QString CallDialog::selectedPhoneNumer() const
{
    return stripNumberLabel(m_ui.cmbPhoneNumber->currentText());
}

QString CallDialog::statusText(bool success)
{
    return success ? QStringLiteral("Gesprek succesvol geïnitieerd") : QStringLiteral("Kon gesprek niet initiëren");
}

void CallDialog::requestCall(const QString& sipId)
{
    const OutgoingCall call = OutgoingCall::make(OutgoingCall::CallDialog, selectedPhoneNumer(), sipId, m_type, m_name);
    m_awaited.await(call);
    emit callRequested(call);
}

void CallDialog::onCallFinished(quint64 callId, bool success)
{
    if (!m_awaited.take(callId))
        return;
    updateStatus(success);
}

void CallDialog::updateStatus(bool success)
{
    m_ui.lblStatus->setText(QStringLiteral("<b>") + statusText(success) + QStringLiteral("</b>"));
}

bool CallDialog::event(QEvent* e)
{
    // Return and Enter always call with the default account; they must not
    // reach the dialog's default-button handling.
    if (e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            on_btnCall_pressed();
            e->accept();
            return true;
        }
    }
    return QDialog::event(e);
}

void CallDialog::on_btnCall_pressed()
{
    requestCall(QString());
}

void CallDialog::on_btnCallWith_pressed()
{
    // The button drops its menu down by itself.
}

void CallDialog::on_btnCancel_pressed()
{
    reject();
}

void CallDialog::SipAccountClicked()
{
    auto* action = qobject_cast<QAction*>(sender());
    if (!action)
        return;
    requestCall(m_accountActions.value(action));
}
