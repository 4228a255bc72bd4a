#include "Windows.h"

#include "CallDialog.h"
#include "CallJournalDialog.h"
#include "CallRouter.h"
#include "DialWindow.h"
#include "LogViewerDialog.h"
#include "Logger.h"
#include "MessageBox.h"
#include "NewCallCount.h"
#include "ScreenPopOpener.h"
#include "SecretStore.h"
#include "Settings.h"
#include "SettingsDialog.h"
#include "SettingsKeys.h"

#include <QCoreApplication>
#include <QSystemTrayIcon>

Windows::Windows(CallRouter* calls, CallHistory* history, NotificationChannel* channel, SecretStore* secrets,
                 DialShortcut* shortcut,
                 QObject* parent)
    : QObject(parent)
    , m_calls(calls)
    , m_history(history)
    , m_channel(channel)
    , m_secrets(secrets)
    , m_shortcut(shortcut)
{
}

Windows::~Windows()
{
    delete m_journal;
    delete m_dialWindow;
    for (const QPointer<CallDialog>& dialog : qAsConst(m_callDialogs))
        delete dialog;
}

void Windows::setDesk(DoNotDisturb* doNotDisturb, NewCallCount* newCalls, ScreenPopOpener* screenPop)
{
    m_doNotDisturb = doNotDisturb;
    m_newCalls = newCalls;
    m_screenPop = screenPop;
}

void Windows::bringForward(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

void Windows::openSettings(const QString& tabName)
{
    Logger::instance()->log(Logger::Info, QCoreApplication::applicationName(),
                            QStringLiteral("Instellingen scherm openen"));
    SettingsDialog dialog(m_channel, m_secrets, m_shortcut, nullptr);
    dialog.activateTab(tabName);
    dialog.exec();
    if (dialog.settingsUpdated())
        emit settingsSaved();
}

void Windows::openLogViewer()
{
    LogViewerDialog dialog(nullptr);
    dialog.exec();
}

void Windows::openCallJournal()
{
    if (!m_journal) {
        // The calls new until now stay bold while this window is open.
        m_journal =
            new CallJournalDialog(m_history, m_newCalls ? m_newCalls->seenUpTo() : CallJournalModel::NothingNew);
        m_journal->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_journal, &CallJournalDialog::callRequested, m_calls, &CallRouter::start);
        connect(m_journal, &CallJournalDialog::pageRequested, this, [this](const ScreenPop::Caller& caller) {
            if (m_screenPop)
                m_screenPop->openOnRequest(ScreenPop::readSetup().urlTemplate, caller);
        });
    }
    if (m_newCalls)
        m_newCalls->markSeen();
    bringForward(m_journal);
}

DialWindow* Windows::openDialWindow()
{
    // Without any tray the window is all the user sees of the program, so
    // it also leads to the settings and the log.
    const bool noTray = !QSystemTrayIcon::isSystemTrayAvailable();
    if (!m_dialWindow) {
        m_dialWindow = new DialWindow(m_history, noTray);
        m_dialWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_dialWindow->setDoNotDisturb(m_doNotDisturb);
        connect(m_dialWindow, &DialWindow::callRequested, m_calls, &CallRouter::start);
        connect(m_calls, &CallRouter::finished, m_dialWindow, &DialWindow::onCallFinished);
        connect(m_dialWindow, &DialWindow::openSettings, this, [this]() { openSettings(QString()); });
        connect(m_dialWindow, &DialWindow::openLogViewer, this, &Windows::openLogViewer);
    }
    m_dialWindow->setAppActions(noTray);
    m_dialWindow->prepare();
    bringForward(m_dialWindow);
    return m_dialWindow;
}

void Windows::showCallDialog(SourceType::Type type, const QString& name, const QStringList& numbers)
{
    // A key kept in the keyring must not look missing while it is on its way.
    if (!m_secrets->isLoaded())
        return m_secrets->whenLoaded(this, [=]() { showCallDialog(type, name, numbers); });
    Logger::instance()->log(Logger::Debug, QString(),
                            QStringLiteral("Showing call dialog for %1, name: %2 and %3 numbers")
                                .arg(SourceType::optionsName(type), name)
                                .arg(numbers.size()));

    // Only the plug-in sources have credentials of their own.
    const QString tabName = SourceType::settingsTab(type);
    bool valid = false;
    if (!tabName.isEmpty()) {
        const QString group = SourceType::settingsGroup(type);
        valid = !Settings().get(group, SettingsKeys::kId).toString().isEmpty()
                && !m_secrets->secret(group, SettingsKeys::kKey).isEmpty();
    }
    if (!valid) {
        const QMessageBox::StandardButton answer = MessageBox::question(
            nullptr, QCoreApplication::applicationName(),
            QStringLiteral("Er zijn geen geldige instelling gevonden voor het initïeren van een telefoongesprek. "
                           "Wilt u deze nu instellen?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        openSettings(tabName);
    }

    auto* dialog = new CallDialog(type);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setName(name);
    dialog->setPhoneNumbers(numbers);
    connect(dialog, &CallDialog::callRequested, m_calls, &CallRouter::start);
    connect(m_calls, &CallRouter::finished, dialog, &CallDialog::onCallFinished);
    connect(dialog, &QDialog::finished, dialog,
            []() { Logger::instance()->log(Logger::Debug, QString(), QStringLiteral("Call dialog closed")); });
    m_callDialogs.removeAll(nullptr);
    m_callDialogs.append(dialog);
    // Modal like every question of the program, but nothing waits for it:
    // further requests keep being served and open dialogs of their own.
    dialog->setModal(true);
    dialog->show();
    dialog->activateWindow();
}
