#include "KarvelonApplication.h"

#include "AddressBook.h"
#include "CallHistory.h"
#include "CallRouter.h"
#include "ContactPayload.h"
#include "DesktopNotifications.h"
#include "DialShortcut.h"
#include "DialWindow.h"
#include "DoNotDisturb.h"
#include "IncomingCalls.h"
#include "InstanceMessage.h"
#include "InternalKarvelonApi.h"
#include "KarvelonApi.h"
#include "Logger.h"
#include "MessageBox.h"
#include "NewCallCount.h"
#include "NotificationChannel.h"
#include "Notifier.h"
#include "RecentCallsMenu.h"
#include "ScreenPopOpener.h"
#include "SecretStore.h"
#include "SelectionReader.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SipAccountManager.h"
#include "SystemTrayIcon.h"
#include "Windows.h"

#include <QDBusConnection>
#include <QIcon>
#include <QLibraryInfo>
#include <QList>
#include <QNetworkSession>
#include <QPair>
#include <QSharedPointer>
#include <QSslError>
#include <QTimer>
#include <QTranslator>

#include <utility>

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

    m_systemTrayIcon = new SystemTrayIcon(QDBusConnection::sessionBus());
    m_desktopNotifications = new DesktopNotifications(QDBusConnection::sessionBus(), NotifyTimeoutMsecs, this);
    m_notifier = new Notifier(m_systemTrayIcon, m_desktopNotifications, this);
    m_callHistory = new CallHistory(CallHistory::defaultFilePath(), CallHistory::DefaultMaxCalls, this);
    m_systemTrayIcon->setCallHistory(m_callHistory);
    m_calls = new CallRouter(m_callHistory, this);
    m_incomingCalls = new IncomingCalls(m_notifier, m_callHistory, this);
    // Made here, started by init(): until then they do nothing.
    m_secrets = new SecretStore(m_config, this);
    m_api = new KarvelonApi(m_config, m_secrets);
    m_channel = new NotificationChannel(m_config, m_secrets);
    m_commandServer = new InternalKarvelonApi(m_config.commandServerName);
    // Both speak to the X server: gone before the application's connection to it.
    m_dialShortcut = new DialShortcut(QDBusConnection::sessionBus());
    m_selection = new SelectionReader();
    m_windows = new Windows(m_calls, m_callHistory, m_channel, m_secrets, m_dialShortcut);

    // At the desk: one owner each for "Niet storen" and the new calls, which
    // the tray, the windows and the road of incoming calls follow.
    m_doNotDisturb = new DoNotDisturb(DoNotDisturb::DefaultCheckMsecs, this);
    m_newCalls = new NewCallCount(m_callHistory, this);
    m_screenPop = new ScreenPopOpener();
    m_systemTrayIcon->setDesk(m_doNotDisturb, m_newCalls);
    m_incomingCalls->useDesk(m_doNotDisturb, m_screenPop);
    m_windows->setDesk(m_doNotDisturb, m_newCalls, m_screenPop);
    connect(m_systemTrayIcon->recentCallsMenu(), &QMenu::aboutToShow, m_newCalls, &NewCallCount::markSeen);
    connect(m_desktopNotifications, &DesktopNotifications::pageRequested, m_incomingCalls, &IncomingCalls::openPage);
    // The channel's thread watches for a resume; an end of "Niet storen" passed while asleep shows at once.
    connect(m_channel, &NotificationChannel::awake, m_doNotDisturb, &DoNotDisturb::checkNow);

    connect(this, &SingleApplication::messageReceived, this, &KarvelonApplication::onMessageReceived);
}

KarvelonApplication::~KarvelonApplication()
{
    // Once started, each worker object goes with its thread.
    m_workers.stop();
    if (!m_started) {
        delete m_commandServer;
        delete m_channel;
        delete m_api;
    }
    delete m_windows;
    delete m_screenPop;
    delete m_selection;
    delete m_dialShortcut;
    delete m_systemTrayIcon;
    m_systemTrayIcon = nullptr;
}

void KarvelonApplication::init()
{
    if (std::exchange(m_started, true))
        return;
    // First, so that the keyring is on its way before anything asks for a secret;
    // whoever does waits for it (bounded), nothing else does.
    m_secrets->load();
    // Every call, from wherever it starts, takes the one road.
    connect(m_calls, &CallRouter::requested, m_api, &KarvelonApi::call);
    connect(m_api, &KarvelonApi::callFinished, m_calls, &CallRouter::onCallFinished);
    connect(m_systemTrayIcon, &SystemTrayIcon::callRequested, m_calls, &CallRouter::start);
    connect(m_desktopNotifications, &DesktopNotifications::callBackRequested, m_calls, [this](const QString& number) {
        m_calls->start(OutgoingCall::make(OutgoingCall::Notification, number));
    });

    // So does every incoming call.
    connect(m_channel, &NotificationChannel::incomingCall, m_incomingCalls, &IncomingCalls::onIncomingCall);
    connect(m_channel, &NotificationChannel::showUserNotification, this, &KarvelonApplication::showInformationBalloon);
    connect(m_channel, &NotificationChannel::stateChanged, m_systemTrayIcon, &SystemTrayIcon::setNotificationState);
    connect(this, &KarvelonApplication::settingsUpdated, m_channel, &NotificationChannel::onSettingsUpdated);
    connect(this, &KarvelonApplication::servicesDue, m_channel, &NotificationChannel::onSettingsUpdated);
    connect(this, &KarvelonApplication::settingsUpdated, this, &KarvelonApplication::onSettingsUpdated);

    SipAccountManager* accounts = SipAccountManager::instance();
    connect(accounts, &SipAccountManager::refreshRequested, m_api, &KarvelonApi::fetchSipAccounts);
    connect(m_api, &KarvelonApi::sipAccountsFetched, accounts, &SipAccountManager::onSipAccountsFetched);

    connect(m_commandServer, &InternalKarvelonApi::showCallDialog, m_windows, &Windows::showCallDialog);

    connect(m_systemTrayIcon, &SystemTrayIcon::quitApplication, this, &KarvelonApplication::onQuitApplication);
    connect(m_systemTrayIcon, &SystemTrayIcon::openSettings, m_windows, [this]() { m_windows->openSettings(QString()); });
    connect(m_systemTrayIcon, &SystemTrayIcon::openLogViewer, m_windows, &Windows::openLogViewer);
    connect(m_systemTrayIcon, &SystemTrayIcon::openCallJournal, m_windows, &Windows::openCallJournal);
    connect(m_systemTrayIcon, &SystemTrayIcon::openDialWindow, m_windows, &Windows::openDialWindow);
    connect(m_windows, &Windows::settingsSaved, this, &KarvelonApplication::settingsUpdated);

    // Qt's HTTP code registers these types (each with a converter) at its first
    // request; the web-service and channel threads would both do so at once,
    // and Qt warns of the second registration. Done here first, before either
    // starts.
    qRegisterMetaType<QList<QPair<QByteArray, QByteArray>>>();
    qRegisterMetaType<QList<QSslError>>();
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED // Qt still registers it for every request
    qRegisterMetaType<QSharedPointer<QNetworkSession>>();
    QT_WARNING_POP

    // Dial from anywhere: the key, the desktop's shortcut or a second start
    // with --dial-selection reads the selection; its number waits in the dial
    // window for Return, on the one road of every call.
    connect(m_dialShortcut, &DialShortcut::activated, m_selection, &SelectionReader::read);
    connect(m_selection, &SelectionReader::finished, m_windows, [this](const QStringList& numbers) {
        m_windows->openDialWindow()->offerFoundNumbers(numbers, !m_selection->readsSelection());
    });

    m_workers.start(m_api, QStringLiteral("KarvelonApi"));
    m_workers.start(m_channel, QStringLiteral("NotificationChannel"));
    // Last, so that it goes first: no new plug-in request arrives while the rest goes away.
    m_workers.start(m_commandServer, QStringLiteral("InternalKarvelonApi"), [server = m_commandServer]() { server->start(); });

    onSettingsUpdated();
    // Once the tray is up: the account lists merge when they arrive, the
    // channel registers; until then what is stored shows.
    QTimer::singleShot(m_config.serviceStartDelayMsecs, this, [this]() {
        SipAccountManager::instance()->requestRefresh(SourceType::AnyPlugin);
        SipAccountManager::instance()->requestRefresh(SourceType::ClickToDial);
        emit servicesDue();
        startAddressBook();
    });
}

// Caller names from the user's own address books: read in the background once the tray is up (a large folder would
// otherwise compete with the start-up for the processor), read again when the files change (the book watches them)
// and when saved settings name other sources.
void KarvelonApplication::startAddressBook()
{
    m_addressBook = new AddressBook(addressBookSources(), this);
    m_incomingCalls->setAddressBook(m_addressBook);
    connect(this, &KarvelonApplication::settingsUpdated, m_addressBook, [this]() {
        const AddressBookSources sources = addressBookSources();
        if (sources != m_addressBook->sources())
            m_addressBook->setSources(sources);
    });
}

AddressBookSources KarvelonApplication::addressBookSources() const
{
    AddressBookSources sources = AddressBookSources::fromSettings();
    sources.rebuildDelayMsecs = m_config.addressBookRebuildDelayMsecs;
    return sources;
}

void KarvelonApplication::registerHotKey()
{
    m_dialShortcut->applyStored();
}

void KarvelonApplication::onSettingsUpdated()
{
    registerHotKey();
}

void KarvelonApplication::onQuitApplication()
{
    QCoreApplication::quit();
}

void KarvelonApplication::showInformationBalloon(bool isError, const QString& msg)
{
    m_notifier->showNotification(msg, isError);
}

void KarvelonApplication::onApplicationStarted()
{
    // A password kept in the keyring must not look missing while it is on its way.
    m_secrets->whenLoaded(this, [this]() {
        const QString number = Settings().get(SettingsKeys::kCustomerGroup, SettingsKeys::kNumber).toString();
        const bool missing =
            number.isEmpty() || m_secrets->secret(SettingsKeys::kCustomerGroup, SettingsKeys::kPassword).isEmpty();
        if (!missing)
            return;

        const QMessageBox::StandardButton answer = MessageBox::question(
            nullptr, applicationName(),
            QStringLiteral("%1 kon geen instellingen vinden om van de services gebruik te maken. Wilt u deze nu "
                           "instellen?")
                .arg(applicationName()),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer == QMessageBox::Yes)
            m_windows->openSettings(QString());
    });
}

void KarvelonApplication::onMessageReceived(const QString& message)
{
    const InstanceMessage::Message request = InstanceMessage::parse(message);
    if (request.kind == QLatin1String("AlreadyStarted")) {
        // Started again from the menu: without a tray to click, that is how
        // the user asks for the program.
        if (QSystemTrayIcon::isSystemTrayAvailable())
            showInformationBalloon(false, request.rest);
        else
            m_windows->openDialWindow();
        return;
    }
    if (request.kind == QLatin1String("DialSelection")) {
        m_selection->read();
        return;
    }
    if (request.kind == QLatin1String("ShowCallDialog") && !request.rest.isEmpty()) {
        const ContactPayload::Contact contact = ContactPayload::parse(request.rest, ContactPayload::SecondStart);
        if (!contact.numbers.isEmpty())
            m_windows->showCallDialog(SourceType::Thunderbird, contact.name, contact.numbers);
    }
    // Anything else is ignored.
}
