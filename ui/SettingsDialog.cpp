#include "SettingsDialog.h"

#include "AddressBook.h"
#include "DialShortcut.h"
#include "FileDialog.h"
#include "Logger.h"
#include "MessageBox.h"
#include "NotificationChannel.h"
#include "ScreenPop.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SipAccountsDialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QSettings>

#include <utility>

namespace {

using namespace SettingsKeys;

const QString kDirtyMark = QStringLiteral(" *");
const QString kNoKeyring =
    QStringLiteral("Geen sleutelbos beschikbaar: wachtwoorden worden in het instellingenbestand bewaard.");

constexpr int kVersionMajor = 2;
constexpr int kVersionMinor = 0;

} // namespace

SettingsDialog::SettingsDialog(NotificationChannel* channel, SecretStore* secrets, DialShortcut* shortcut,
                               QWidget* parent)
    : QDialog(parent), m_channel(channel), m_secrets(secrets), m_shortcut(shortcut)
{
    m_ui.setupUi(this);
    m_ui.lblVersion->setText(QStringLiteral("Versie %1.%2").arg(kVersionMajor).arg(kVersionMinor));
    setWindowTitle(QCoreApplication::applicationName() + QStringLiteral(" - Instellingen"));

    // Connected only after loading, so filling the fields never counts as an edit.
    loadSettings();
    setupConnections();
    connect(m_secrets, &SecretStore::saved, this, &SettingsDialog::onSecretsSaved);
    setupAddressBooks();

    onNotificationStateChanged(ConnectionSupervisor::Stopped);
    // The channel lives on its own thread: it tells its state again, and the
    // automatic connection queues that and every later change into ours.
    if (m_channel) {
        connect(m_channel, &NotificationChannel::stateChanged, this, &SettingsDialog::onNotificationStateChanged);
        QMetaObject::invokeMethod(m_channel, "reportState", Qt::QueuedConnection);
    }

    // The Apple Contacts and Outlook plug-ins are not offered; their fields stay
    // (hidden) and are still loaded and saved.
    m_ui.tabWidget->removeTab(4);
    m_ui.tabWidget->removeTab(2);

    m_ui.logo->setVisible(true);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::activateTab(const QString& tabName)
{
    for (int i = 0; i < m_ui.tabWidget->count(); ++i) {
        if (m_ui.tabWidget->widget(i)->objectName() == tabName)
            m_ui.tabWidget->setCurrentIndex(i);
    }
}

void SettingsDialog::loadSettings()
{
    m_loading = true;
    const QString kOutlookGroup = SourceType::settingsGroup(SourceType::MsOutlook);
    const QString kAppleContactsGroup = SourceType::settingsGroup(SourceType::AppleContacts);
    const QString kThunderbirdGroup = SourceType::settingsGroup(SourceType::Thunderbird);
    Settings settings;
    m_ui.txtCustomerNumber->setText(settings.get(kCustomerGroup, kNumber).toString());
    m_ui.chkEnableNotify->setChecked(settings.get(kNotificationsGroup, kEnabled).toBool());
    m_ui.txtNotifyUsername->setText(settings.get(kNotificationsGroup, kUsername).toString());
    m_ui.txtOutlookPluginId->setText(settings.get(kOutlookGroup, kId).toString());
    m_ui.txtAppleContactsPluginId->setText(settings.get(kAppleContactsGroup, kId).toString());
    m_ui.txtThunderbirdPluginId->setText(settings.get(kThunderbirdGroup, kId).toString());
    loadHotKey();
    m_ui.txtClickToDialId->setText(settings.get(kClickToDialGroup, kId).toString());
    loadSecrets();
    loadScreenPop();
    loadAddressBooks();
    m_loading = false;
}

QVector<SettingsDialog::SecretField> SettingsDialog::secretFields() const
{
    return {
        {kCustomerGroup, kPassword, m_ui.txtCustomerPassword},
        {kNotificationsGroup, kPassword, m_ui.txtNotifyPassword},
        {SourceType::settingsGroup(SourceType::MsOutlook), kKey, m_ui.txtOutlookPluginKey},
        {SourceType::settingsGroup(SourceType::AppleContacts), kKey, m_ui.txtAppleContactsPluginKey},
        {SourceType::settingsGroup(SourceType::Thunderbird), kKey, m_ui.txtThunderbirdPluginKey},
        {kClickToDialGroup, kKey, m_ui.txtClickToDialKey},
    };
}

void SettingsDialog::loadSecrets()
{
    m_secretsShown = m_secrets->isLoaded();
    for (const SecretField& secret : secretFields()) {
        secret.field->setText(m_secretsShown ? m_secrets->secret(secret.group, secret.key) : QString());
        // Until the keyring has answered, an empty field would mean "remove it".
        secret.field->setEnabled(m_secretsShown);
    }
    if (!m_secretsShown) {
        m_secrets->whenLoaded(this, [this]() {
            m_loading = true;
            loadSecrets();
            m_loading = false;
        });
    } else if (m_secrets->mode() == SecretStore::Mode::IniFile) {
        m_keyringStatus = kNoKeyring;
        showStatus();
    }
}

QVector<SecretStore::Entry> SettingsDialog::secretsToSave() const
{
    QVector<SecretStore::Entry> entries;
    if (!m_secretsShown)
        return entries;
    for (const SecretField& secret : secretFields()) {
        const QString value = secret.field->text().trimmed();
        if (value != m_secrets->secret(secret.group, secret.key))
            entries.append({secret.group, secret.key, value});
    }
    return entries;
}

void SettingsDialog::saveSecrets()
{
    const QVector<SecretStore::Entry> entries = secretsToSave();
    if (!entries.isEmpty())
        m_secretsSave = m_secrets->save(entries);
}

void SettingsDialog::onSecretsSaved(quint64 id, SecretStore::Place place)
{
    if (id != m_secretsSave)
        return;
    m_secretsSave = 0;
    // Said already when the dialog opened without a keyring; news when the keyring failed just now.
    const bool news = place == SecretStore::Place::IniFile && m_keyringStatus != kNoKeyring;
    if (place == SecretStore::Place::IniFile) {
        m_keyringStatus = kNoKeyring;
        showStatus();
    }
    m_ui.btnSave->setEnabled(true);
    m_ui.btnCancel->setEnabled(true);
    if (std::exchange(m_closeWhenSaved, false) && !news)
        QDialog::accept();
}

void SettingsDialog::loadScreenPop()
{
    const ScreenPop::Setup setup = ScreenPop::readSetup();
    m_ui.txtScreenPopUrl->setText(setup.urlTemplate);
    m_ui.cboScreenPopMode->setCurrentIndex(setup.mode == ScreenPop::Mode::Button ? 1 : 0);
}

bool SettingsDialog::saveScreenPop()
{
    const ScreenPop::Mode mode =
        m_ui.cboScreenPopMode->currentIndex() == 1 ? ScreenPop::Mode::Button : ScreenPop::Mode::Automatic;
    const QString problem = ScreenPop::templateProblem(m_ui.txtScreenPopUrl->text());
    if (problem.isEmpty()) {
        ScreenPop::writeSetup({m_ui.txtScreenPopUrl->text(), mode});
        return true;
    }
    // The address stays as it was stored; the choice of how it opens is kept.
    ScreenPop::writeSetup({ScreenPop::readSetup().urlTemplate, mode});
    Logger::instance()->log(Logger::Warning, QStringLiteral("Instellingen"),
                            QStringLiteral("Adres voor een inkomende oproep geweigerd: %1").arg(problem));
    activateTab(QStringLiteral("tabNotifications"));
    m_ui.txtScreenPopUrl->setFocus();
    MessageBox::warning(this, windowTitle(),
                        QStringLiteral("Het adres voor een inkomende oproep is niet opgeslagen. %1").arg(problem));
    return false;
}

QList<SettingsDialog::SettingValue> SettingsDialog::valuesToSave() const
{
    const QString kOutlookGroup = SourceType::settingsGroup(SourceType::MsOutlook);
    const QString kAppleContactsGroup = SourceType::settingsGroup(SourceType::AppleContacts);
    const QString kThunderbirdGroup = SourceType::settingsGroup(SourceType::Thunderbird);
    return {
        {kCustomerGroup, kNumber, m_ui.txtCustomerNumber->text().trimmed()},
        {kNotificationsGroup, kEnabled, m_ui.chkEnableNotify->isChecked()},
        {kNotificationsGroup, kUsername, m_ui.txtNotifyUsername->text().trimmed()},
        {kOutlookGroup, kId, m_ui.txtOutlookPluginId->text().trimmed()},
        {kAppleContactsGroup, kId, m_ui.txtAppleContactsPluginId->text().trimmed()},
        {kThunderbirdGroup, kId, m_ui.txtThunderbirdPluginId->text().trimmed()},
        {kClickToDialGroup, kId, m_ui.txtClickToDialId->text().trimmed()},
    };
}

void SettingsDialog::saveSettings()
{
    if (!m_dirty)
        return;

    Settings settings;
    const QList<SettingValue> values = valuesToSave();
    for (const SettingValue& value : values)
        settings.set(value.group, value.key, value.value);
    saveSecrets();
    const bool screenPopSaved = saveScreenPop();
    saveAddressBooks(settings);
    const bool hotKeySaved = saveHotKey();

    Logger::instance()->log(Logger::Info, QStringLiteral("Instellingen"),
                            QStringLiteral("Instellingen zijn gewijzigd en opgeslagen."));
    m_saved = true;
    // A refused address or key is not what the store holds: it stays on
    // screen as an unsaved edit, with the reason.
    changeDirtyState(!screenPopSaved || !hotKeySaved);
}

void SettingsDialog::loadHotKey()
{
    Settings settings;
    const QString modifier = settings.get(kClickToDialGroup, kModifier).toString();
    const QString key = settings.get(kClickToDialGroup, kHotkey).toString();
    // A stored value that is not in a list (edited by hand) shows as the empty item.
    m_ui.cmbHotkey1->setCurrentIndex(qMax(0, m_ui.cmbHotkey1->findText(modifier)));
    m_ui.cmbHotkey2->setCurrentIndex(qMax(0, m_ui.cmbHotkey2->findText(key)));
    // Held by another program since the start, say, or nothing on this desktop takes keys.
    if (m_shortcut)
        showHotKeyStatus(m_shortcut->statusText());
}

void SettingsDialog::showHotKeyStatus(const QString& text)
{
    m_hotKeyStatus = text;
    showStatus();
}

void SettingsDialog::showStatus()
{
    // One line each; the hot key's first, as the one the user can do something about here.
    QStringList lines;
    for (const QString& line : {m_hotKeyStatus, m_keyringStatus})
        if (!line.isEmpty())
            lines.append(line);
    m_ui.lblSettingsStatus->setText(lines.join(QLatin1Char('\n')));
}

bool SettingsDialog::saveHotKey()
{
    const QString modifier = m_ui.cmbHotkey1->currentText();
    const QString key = m_ui.cmbHotkey2->currentText();
    Settings settings;
    const bool changed = modifier != settings.get(kClickToDialGroup, kModifier).toString()
                         || key != settings.get(kClickToDialGroup, kHotkey).toString();
    QString why;
    if (changed && m_shortcut && !m_shortcut->apply(modifier, key, why)) {
        // The key stored before stays, and so does the dialog, with the reason.
        showHotKeyStatus(why);
        return false;
    }
    if (changed && m_shortcut)
        showHotKeyStatus(m_shortcut->statusText());
    settings.set(kClickToDialGroup, kModifier, modifier);
    settings.set(kClickToDialGroup, kHotkey, key);
    return true;
}

void SettingsDialog::setupConnections()
{
    const auto markDirty = [this]() {
        if (!m_loading)
            changeDirtyState(true);
    };
    for (QLineEdit* edit :
         {m_ui.txtCustomerNumber, m_ui.txtCustomerPassword, m_ui.txtNotifyUsername, m_ui.txtNotifyPassword,
          m_ui.txtClickToDialId, m_ui.txtClickToDialKey, m_ui.txtOutlookPluginId, m_ui.txtOutlookPluginKey,
          m_ui.txtThunderbirdPluginId, m_ui.txtThunderbirdPluginKey, m_ui.txtAppleContactsPluginId,
          m_ui.txtAppleContactsPluginKey}) {
        connect(edit, &QLineEdit::textChanged, this, markDirty, Qt::DirectConnection);
    }
    connect(m_ui.chkEnableNotify, &QCheckBox::stateChanged, this, markDirty, Qt::DirectConnection);
    connect(m_ui.txtScreenPopUrl, &QLineEdit::textChanged, this, markDirty, Qt::DirectConnection);
    connect(m_ui.cboScreenPopMode, qOverload<int>(&QComboBox::currentIndexChanged), this, markDirty,
            Qt::DirectConnection);
    connect(m_ui.cmbHotkey1, &QComboBox::currentTextChanged, this, markDirty, Qt::DirectConnection);
    connect(m_ui.cmbHotkey2, &QComboBox::currentTextChanged, this, markDirty, Qt::DirectConnection);

    connect(m_ui.chkActivatePlugin, &QCheckBox::stateChanged, this, &SettingsDialog::onActiveOutlookPluginChanged,
            Qt::DirectConnection);

    connect(m_ui.btnManageSipAccountsC2D, &QPushButton::pressed, this, &SettingsDialog::onManageClickToDialSipAccounts,
            Qt::DirectConnection);
    connect(m_ui.btnManageSipAccounts1, &QPushButton::pressed, this,
            &SettingsDialog::onBtnManageSipAccountsOutlookClicked, Qt::DirectConnection);
    connect(m_ui.btnManageSipAccounts2, &QPushButton::pressed, this,
            &SettingsDialog::onBtnManageSipAccountsThunderbirdClicked, Qt::DirectConnection);
    connect(m_ui.btnManageSipAccounts3, &QPushButton::pressed, this,
            &SettingsDialog::onBtnManageSipAccountsAppleContactsClicked, Qt::DirectConnection);

}

void SettingsDialog::changeDirtyState(bool dirty)
{
    if (m_loading || dirty == m_dirty)
        return;
    m_dirty = dirty;
    if (dirty)
        setWindowTitle(windowTitle() + kDirtyMark);
    else
        setWindowTitle(windowTitle().remove(kDirtyMark, Qt::CaseSensitive));
}

void SettingsDialog::accept()
{
    saveSettings();
    if (m_dirty)
        return; // something was refused: the dialog said why and stays open
    // The secret store's answer first: where the passwords went is for the status line to say.
    if (m_secretsSave != 0) {
        m_closeWhenSaved = true;
        m_ui.btnSave->setEnabled(false);
        m_ui.btnCancel->setEnabled(false);
        return;
    }
    QDialog::accept();
}

void SettingsDialog::reject()
{
    if (!m_dirty) {
        QDialog::reject();
        return;
    }
    switch (MessageBox::question(this, windowTitle(), QStringLiteral("Wilt u de wijzigingen opslaan?"),
                                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes)) {
    case QMessageBox::Yes:
        accept();
        break;
    case QMessageBox::No:
        QDialog::reject();
        break;
    default:
        // Cancel or Escape: stay open with the edits.
        break;
    }
}

void SettingsDialog::on_btnCancel_pressed()
{
    reject();
}

void SettingsDialog::on_btnSave_pressed()
{
    accept();
}

void SettingsDialog::on_btnConnectDisconnectSocket_pressed()
{
    if (!m_channel)
        return;
    // The labels follow the channel's state, not this press.
    const char* method = m_connected ? "stopNotificationSocket" : "startNotificationSocket";
    if (!QMetaObject::invokeMethod(m_channel, method, Qt::QueuedConnection)) {
        Logger::instance()->log(Logger::Warning, QStringLiteral("Instellingen"),
                                QStringLiteral("Kon %1 niet aanroepen").arg(QString::fromLatin1(method)));
    }
}

void SettingsDialog::onActiveOutlookPluginChanged(int state)
{
    changeDirtyState(true);
    const bool enabled = state == Qt::Checked;
    m_ui.txtOutlookPluginId->setEnabled(enabled);
    m_ui.txtOutlookPluginKey->setEnabled(enabled);
    m_ui.btnManageSipAccounts1->setEnabled(enabled);
}

void SettingsDialog::onNotificationStateChanged(ConnectionSupervisor::State state)
{
    // An attempt under way, or asleep: the last word stands.
    if (state == ConnectionSupervisor::Connecting || state == ConnectionSupervisor::Asleep)
        return;
    m_connected = state == ConnectionSupervisor::Connected;
    const bool connected = m_connected;
    m_ui.lblSocketStatus->setText(
        QStringLiteral("<b>%1</b>").arg(connected ? QStringLiteral("Verbonden") : QStringLiteral("Verbroken")));
    m_ui.btnConnectDisconnectSocket->setText(connected ? QStringLiteral("Verbreken") : QStringLiteral("Verbinden"));
}

void SettingsDialog::checkDirtynessBeforeSipAccountManagement()
{
    if (!m_dirty)
        return;
    // The SIP account dialog asks the service with the stored credentials, not with these fields.
    const auto answer = MessageBox::question(
        this, QStringLiteral("Onopgeslagen wijzigingen"),
        QStringLiteral("Er zijn nog onopgeslagen wijzigingen. Indien de wijzigigen betrekking hebben op "
                       "inloggegevens van een van de ondersteunde extensies of click-to-dial functionaliteit raden "
                       "wij aan deze eerst op te slaan. Wilt u deze nu opslaan?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes)
        saveSettings();
}

void SettingsDialog::manageSipAccounts(SourceType::Type type)
{
    checkDirtynessBeforeSipAccountManagement();
    SipAccountsDialog dialog(type, this);
    dialog.exec();
}

void SettingsDialog::onManageClickToDialSipAccounts()
{
    manageSipAccounts(SourceType::ClickToDial);
}

void SettingsDialog::onBtnManageSipAccountsOutlookClicked()
{
    manageSipAccounts(SourceType::MsOutlook);
}

void SettingsDialog::onBtnManageSipAccountsThunderbirdClicked()
{
    manageSipAccounts(SourceType::Thunderbird);
}

void SettingsDialog::onBtnManageSipAccountsAppleContactsClicked()
{
    manageSipAccounts(SourceType::AppleContacts);
}

bool SettingsDialog::isOfficeAddInInstalled()
{
    const QSettings registry(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\Outlook\\Addins\\VudezArUvad.AddinModule"),
        QSettings::NativeFormat);
    return registry.contains(QStringLiteral("LoadBehavior"));
}

void SettingsDialog::checkOutlookAddin()
{
    m_ui.chkActivatePlugin->setEnabled(isOfficeAddInInstalled());
}

void SettingsDialog::loadAddressBooks()
{
    // Read as the address book reads them: Thunderbird's are used unless switched off.
    const AddressBookSources sources = AddressBookSources::fromSettings();
    m_ui.txtVCardPath->setText(sources.vCardPath);
    m_ui.chkThunderbird->setChecked(sources.thunderbird);
}

void SettingsDialog::saveAddressBooks(Settings& settings)
{
    settings.set(kAddressBooksGroup, kVCardPath, m_ui.txtVCardPath->text().trimmed());
    settings.set(kAddressBooksGroup, kThunderbird, m_ui.chkThunderbird->isChecked());
}

void SettingsDialog::setupAddressBooks()
{
    const auto markDirty = [this]() { changeDirtyState(true); };
    connect(m_ui.txtVCardPath, &QLineEdit::textChanged, this, markDirty);
    connect(m_ui.chkThunderbird, &QCheckBox::stateChanged, this, markDirty);
    // A file (an export) or a folder (what a CardDAV sync keeps): one dialog cannot offer both.
    connect(m_ui.btnVCardFile, &QPushButton::clicked, this, [this]() { chooseVCardPath(false); });
    connect(m_ui.btnVCardFolder, &QPushButton::clicked, this, [this]() { chooseVCardPath(true); });
}

void SettingsDialog::chooseVCardPath(bool folder)
{
    const QString current = m_ui.txtVCardPath->text().trimmed();
    const QString start = current.isEmpty() ? QDir::homePath() : current;
    const QString path =
        folder ? FileDialog::getExistingDirectory(this, QStringLiteral("vCard-map kiezen"), start)
               : FileDialog::getOpenFileName(this, QStringLiteral("vCard-bestand kiezen"), start,
                                             QStringLiteral("vCard-bestanden (*.vcf *.vcard);;Alle bestanden (*)"));
    if (!path.isEmpty())
        m_ui.txtVCardPath->setText(path);
}
