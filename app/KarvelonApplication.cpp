#include "KarvelonApplication.h"

#include "ButtonGroupAction.h"
#include "CallDialog.h"
#include "CallHistory.h"
#include "CallJournalDialog.h"
#include "CallRequest.h"
#include "Clock.h"
#include "DesktopNotifications.h"
#include "DialWindow.h"
#include "InternalKarvelonApi.h"
#include "KarvelonApi.h"
#include "LogViewerDialog.h"
#include "Logger.h"
#include "MessageBox.h"
#include "Notifier.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SettingsDialog.h"
#include "SipAccountManager.h"
#include "SystemTrayIcon.h"

#include <QDBusConnection>
#include <QEventLoop>
#include <QIcon>
#include <QLibraryInfo>
#include <QThread>
#include <QTranslator>

namespace {
// A notification server that has not answered by then gets the tray balloon instead.
constexpr int NotifyTimeoutMsecs = 2000;
} // namespace

KarvelonApplication::KarvelonApplication(int& argc, char** argv, const ServiceConfig& config)
    : SingleApplication(argc, argv, true)
    , m_config(config)
{
    setOrganizationName(QStringLiteral("Karvelon"));
    setApplicationName(QStringLiteral("Karvelon"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/karvelon/32")));

    // The program speaks Dutch; so should the buttons and dialogs that Qt
    // itself provides ("Ja"/"Nee", the file dialog). Without the translation
    // installed they stay English, which is all that is lost.
    auto* qtTranslator = new QTranslator(this);
    if (qtTranslator->load(QStringLiteral("qtbase_nl"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        installTranslator(qtTranslator);

    Logger::instance()->log(Logger::Info, applicationName(), QStringLiteral("Initialiseren"));

    // The program lives in the tray: closing a dialog must not end it.
    setQuitOnLastWindowClosed(false);

    m_systemTrayIcon = new SystemTrayIcon(SystemTrayIcon::detectKind());
    m_desktopNotifications = new DesktopNotifications(QDBusConnection::sessionBus(), NotifyTimeoutMsecs, this);
    m_notifier = new Notifier(m_systemTrayIcon, m_desktopNotifications, this);
    // "Terugbellen" goes the way a number from the tray menu goes.
    connect(m_desktopNotifications, &DesktopNotifications::callBackRequested, m_systemTrayIcon,
            [this](const QString& number) { m_systemTrayIcon->onCallNumber(number, ButtonGroupAction::defaultSipId()); });
    m_callHistory = new CallHistory(CallHistory::defaultFilePath(), CallHistory::DefaultMaxCalls, this);
    m_systemTrayIcon->setCallHistory(m_callHistory);

    connect(this, &SingleApplication::messageReceived, this, &KarvelonApplication::onMessageReceived);
}

KarvelonApplication::~KarvelonApplication()
{
    stopWorkerThreads();
    delete m_callJournal;
    delete m_dialWindow;
    delete m_systemTrayIcon;
    m_systemTrayIcon = nullptr;
}

void KarvelonApplication::init()
{
    // Each worker object is created by a handler running on its new thread,
    // so it belongs to that thread.
    m_apiThread = new QThread();
    m_apiThread->setObjectName(QStringLiteral("KarvelonApi"));
    connect(m_apiThread, &QThread::started, m_apiThread, [this]() { startApi(); }, Qt::DirectConnection);
    m_apiThread->start(QThread::InheritPriority);

    m_internalApiThread = new QThread();
    m_internalApiThread->setObjectName(QStringLiteral("InternalKarvelonApi"));
    connect(m_internalApiThread, &QThread::started, m_internalApiThread, [this]() { startInternalApi(); },
            Qt::DirectConnection);
    m_internalApiThread->start(QThread::InheritPriority);

    connect(m_systemTrayIcon, &SystemTrayIcon::quitApplication, this, &KarvelonApplication::onQuitApplication);
    connect(m_systemTrayIcon, &SystemTrayIcon::callNumber, this, &KarvelonApplication::onCallNumber);
    connect(m_systemTrayIcon, &SystemTrayIcon::openSettings, this, [this]() { onOpenSettings(QString()); });
    connect(m_systemTrayIcon, &SystemTrayIcon::openLogViewer, this, &KarvelonApplication::onOpenLogViewer);
    connect(m_systemTrayIcon, &SystemTrayIcon::openCallJournal, this, &KarvelonApplication::onOpenCallJournal);
    connect(m_systemTrayIcon, &SystemTrayIcon::openDialWindow, this, &KarvelonApplication::onOpenDialWindow);
    connect(this, &KarvelonApplication::settingsUpdated, this, &KarvelonApplication::onSettingsUpdated);

    // The account lists are fetched through KarvelonApi::instance(), and the
    // settingsUpdated below must reach the web-service object: go on only
    // once both workers have made their objects (which also makes m_api and
    // m_internalApi safe to read here).
    {
        std::unique_lock<std::mutex> lock(m_workersMutex);
        m_workersChanged.wait(lock, [this]() { return m_workersRunning == 2; });
    }

    SipAccountManager::instance()->loadRemoteSipAccounts(SourceType::AnyPlugin);
    SipAccountManager::instance()->loadRemoteSipAccounts(SourceType::ClickToDial);

    emit settingsUpdated();
}

// Runs on the web-service thread.
void KarvelonApplication::startApi()
{
    m_api = new KarvelonApi(m_config);
    connect(m_api, &KarvelonApi::incomingCall, this, &KarvelonApplication::onIncomingCall);
    connect(m_api, &KarvelonApi::callAttempted, this, &KarvelonApplication::onCallAttempted);
    connect(m_api, &KarvelonApi::showUserNotification, this, &KarvelonApplication::showInformationBalloon);
    connect(m_api, &KarvelonApi::notificationStateChanged, m_systemTrayIcon, &SystemTrayIcon::setNotificationState);
    connect(this, &KarvelonApplication::settingsUpdated, m_api, &KarvelonApi::onSettingsUpdated);
    // Destroyed on its own thread once that thread's loop has ended.
    connect(m_apiThread, &QThread::finished, m_apiThread, [this, api = m_api]() { workerFinished(api); },
            Qt::DirectConnection);
    workerStarted();
}

// Runs on the command-server thread.
void KarvelonApplication::startInternalApi()
{
    m_internalApi = new InternalKarvelonApi(m_config.commandServerName);
    connect(m_internalApi, &InternalKarvelonApi::showCallDialog, this, &KarvelonApplication::onShowCallDialog);
    connect(m_internalApiThread, &QThread::finished, m_internalApiThread,
            [this, server = m_internalApi]() { workerFinished(server); }, Qt::DirectConnection);
    workerStarted();
}

// Runs on a worker thread once its object exists.
void KarvelonApplication::workerStarted()
{
    std::lock_guard<std::mutex> lock(m_workersMutex);
    ++m_workersRunning;
    m_workersChanged.notify_all();
}

// Runs on a worker thread as it finishes: its object goes with it.
void KarvelonApplication::workerFinished(QObject* object)
{
    std::lock_guard<std::mutex> lock(m_workersMutex);
    delete object;
    --m_workersRunning;
    m_workersChanged.notify_all();
}

void KarvelonApplication::stopWorkerThreads()
{
    {
        // From here on this thread leaves the worker objects alone. Letting go
        // of them under the lock the workers take to delete them orders all
        // earlier use before the deletion.
        std::lock_guard<std::mutex> lock(m_workersMutex);
        m_internalApi = nullptr;
        m_api = nullptr;
    }
    // The command server first, so no new plug-in request arrives while the
    // web-service object goes away. Each object is deleted on its own thread
    // as that thread finishes.
    for (QThread* thread : {m_internalApiThread, m_apiThread}) {
        if (!thread)
            continue;
        thread->quit();
        thread->wait();
    }
    {
        // Both have counted themselves out by now; taking the lock orders
        // their last steps before the thread objects go.
        std::unique_lock<std::mutex> lock(m_workersMutex);
        m_workersChanged.wait(lock, [this]() { return m_workersRunning == 0; });
    }
    delete m_internalApiThread;
    m_internalApiThread = nullptr;
    delete m_apiThread;
    m_apiThread = nullptr;
}

void KarvelonApplication::registerHotKey()
{
    // There is no global hot key; the stored "Modifier"/"Hotkey" are unused.
}

void KarvelonApplication::onSettingsUpdated()
{
    registerHotKey();
}

void KarvelonApplication::onQuitApplication()
{
    QCoreApplication::quit();
}

void KarvelonApplication::onCallNumber(const QString& number, const QString& sipId)
{
    Logger::instance()->log(Logger::Info, applicationName(), QStringLiteral("Bel verzoek naar: %1 ontvangen").arg(number));
    invokeCall(number, SourceType::ClickToDial, sipId);
}

void KarvelonApplication::invokeCall(const QString& number, SourceType::Type source, const QString& sipId)
{
    if (!m_api)
        return;
    // Runs on the web-service thread; the main thread never waits for the network.
    if (!QMetaObject::invokeMethod(m_api, "call", Qt::QueuedConnection, Q_ARG(QString, number),
                                   Q_ARG(SourceType::Type, source), Q_ARG(QString, sipId))) {
        Logger::instance()->log(Logger::Warning, applicationName(),
                                QStringLiteral("Kon gesprek naar %1 niet doorgeven aan de API").arg(number));
    }
}

void KarvelonApplication::onOpenSettings(const QString& tabName)
{
    Logger::instance()->log(Logger::Info, applicationName(), QStringLiteral("Instellingen scherm openen"));
    SettingsDialog dialog(m_api, nullptr);
    dialog.activateTab(tabName);
    dialog.exec();
    if (dialog.settingsUpdated())
        emit settingsUpdated();
}

void KarvelonApplication::onIncomingCall(const QString& callerId, const QString& did, const QString& textDisplay,
                                         const QString& callerNumber, const QString& contact)
{
    QString text = QStringLiteral("Inkomende oproep van %1 op %2.").arg(callerId, did);
    if (!textDisplay.isEmpty())
        text += QStringLiteral("\r\n") + textDisplay;
    Logger::instance()->log(Logger::Info, QStringLiteral("Notifier"), text);
    m_notifier->showIncomingCall(text, callerNumber);

    CallRecord record;
    record.direction = CallRecord::Incoming;
    record.msecsSinceEpoch = Clock::currentMSecsSinceEpoch();
    record.number = callerNumber;
    record.name = contact;
    record.line = did;
    m_callHistory->add(record);
}

void KarvelonApplication::onCallAttempted(const QString& number, SourceType::Type source, bool success)
{
    CallRecord record;
    record.direction = CallRecord::Outgoing;
    record.msecsSinceEpoch = Clock::currentMSecsSinceEpoch();
    record.number = number.trimmed();
    record.name = m_pendingCallNames.take(number);
    record.source = SourceType::settingsGroup(source);
    record.accepted = success;
    m_callHistory->add(record);
}

void KarvelonApplication::onShowCallDialog(SourceType::Type type, const QString& name, const QStringList& numbers)
{
    Logger::instance()->log(Logger::Debug, QString(),
                            QStringLiteral("Showing call dialog for %1, name: %2 and %3 numbers")
                                .arg(SourceType::optionsName(type), name)
                                .arg(numbers.size()));

    // Only the plug-in sources have credentials of their own.
    const QString tabName = SourceType::settingsTab(type);
    bool valid = false;
    if (!tabName.isEmpty()) {
        Settings settings;
        const QString group = SourceType::settingsGroup(type);
        const QString id = settings.get(group, SettingsKeys::kId).toString();
        valid = !id.isEmpty() && !settings.get(group, SettingsKeys::kKey).toString().isEmpty();
    }
    if (!valid) {
        const QMessageBox::StandardButton answer = MessageBox::question(
            nullptr, applicationName(),
            QStringLiteral("Er zijn geen geldige instelling gevonden voor het initïeren van een telefoongesprek. "
                           "Wilt u deze nu instellen?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        onOpenSettings(tabName);
    }

    CallDialog dialog(type);
    dialog.setName(name);
    dialog.setPhoneNumbers(numbers);

    connect(
        &dialog, &CallDialog::callPressed, &dialog,
        [this, &dialog, type, name](SourceType::Type, const QString& sipId) {
            const QString number = dialog.selectedPhoneNumer();
            m_pendingCallNames.insert(number, name);
            invokeCall(number, type, sipId);
        },
        Qt::DirectConnection);
    if (m_api)
        connect(m_api, &KarvelonApi::callInitiated, &dialog, &CallDialog::updateStatus);

    dialog.setModal(true);
    dialog.show();
    dialog.activateWindow();

    // A local loop rather than exec(): further requests keep being served
    // and may open dialogs of their own meanwhile.
    QEventLoop loop;
    const QMetaObject::Connection accepted = connect(&dialog, &QDialog::accepted, &loop, &QEventLoop::quit);
    const QMetaObject::Connection rejected = connect(&dialog, &QDialog::rejected, &loop, &QEventLoop::quit);
    loop.exec();
    disconnect(accepted);
    disconnect(rejected);

    Logger::instance()->log(Logger::Debug, QString(), QStringLiteral("Call dialog closed"));
}

void KarvelonApplication::onOpenLogViewer()
{
    LogViewerDialog dialog(nullptr);
    dialog.exec();
}

void KarvelonApplication::onOpenCallJournal()
{
    // One window, brought forward when asked for again.
    if (!m_callJournal) {
        m_callJournal = new CallJournalDialog(m_callHistory);
        m_callJournal->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_callJournal, &CallJournalDialog::callNumber, this,
                [this](const QString& number) { onCallNumber(number, ButtonGroupAction::defaultSipId()); });
    }
    m_callJournal->show();
    m_callJournal->raise();
    m_callJournal->activateWindow();
}

void KarvelonApplication::onOpenDialWindow()
{
    // Without any tray the window is all the user sees of the program, so
    // it also leads to the settings and the log.
    const bool noTray = !QSystemTrayIcon::isSystemTrayAvailable();
    if (!m_dialWindow) {
        m_dialWindow = new DialWindow(m_callHistory, noTray);
        m_dialWindow->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_dialWindow, &DialWindow::callNumber, m_systemTrayIcon, &SystemTrayIcon::onCallNumber);
        connect(m_dialWindow, &DialWindow::openSettings, this, [this]() { onOpenSettings(QString()); });
        connect(m_dialWindow, &DialWindow::openLogViewer, this, &KarvelonApplication::onOpenLogViewer);
        if (m_api)
            connect(m_api, &KarvelonApi::callInitiated, m_dialWindow, &DialWindow::updateStatus);
    }
    m_dialWindow->setAppActions(noTray);
    m_dialWindow->prepare();
    m_dialWindow->show();
    m_dialWindow->raise();
    m_dialWindow->activateWindow();
}

void KarvelonApplication::showInformationBalloon(bool isError, const QString& msg)
{
    m_notifier->showNotification(msg, isError);
}

void KarvelonApplication::onApplicationStarted()
{
    Settings settings;
    const QString number = settings.get(SettingsKeys::kCustomerGroup, SettingsKeys::kNumber).toString();
    const bool missing =
        number.isEmpty() || settings.get(SettingsKeys::kCustomerGroup, SettingsKeys::kPassword).toString().isEmpty();
    if (!missing)
        return;

    const QMessageBox::StandardButton answer = MessageBox::question(
        nullptr, applicationName(),
        QStringLiteral("%1 kon geen instellingen vinden om van de services gebruik te maken. Wilt u deze nu instellen?")
            .arg(applicationName()),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        onOpenSettings(QString());
}

void KarvelonApplication::onMessageReceived(const QString& message)
{
    const CallRequest::Message request = CallRequest::parseMessage(message);
    if (request.kind == QLatin1String("AlreadyStarted")) {
        // Started again from the menu: without a tray to click, that is how
        // the user asks for the program.
        if (QSystemTrayIcon::isSystemTrayAvailable())
            showInformationBalloon(false, request.rest);
        else
            onOpenDialWindow();
        return;
    }
    if (request.kind == QLatin1String("ShowCallDialog") && !request.rest.isEmpty()) {
        const CallRequest::Contact contact = CallRequest::parseContact(request.rest, CallRequest::SecondStart);
        if (!contact.numbers.isEmpty())
            onShowCallDialog(SourceType::Thunderbird, contact.name, contact.numbers);
    }
    // Anything else is ignored.
}
