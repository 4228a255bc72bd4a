#pragma once

#include "ConnectionSupervisor.h"
#include "SecretStore.h"
#include "SourceType.h"
#include "ui_SettingsDialog.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVector>

class DialShortcut;
class NotificationChannel;
class Settings;

// The tabbed settings dialog: credentials, notifications, plug-ins, click-to-dial.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    // channel: the notification channel whose connection the dialog shows and
    // switches (not owned; null: none). secrets: where the passwords and keys
    // load from and save to (not owned). shortcut: the key that dials the
    // selection, set anew when its choice is saved (not owned; null: only stored).
    SettingsDialog(NotificationChannel* channel, SecretStore* secrets, DialShortcut* shortcut,
                   QWidget* parent = nullptr);
    ~SettingsDialog() override;

    // Makes the tab whose page has this object name current; unknown or removed tabs change nothing.
    void activateTab(const QString& tabName);
    // Whether the settings were saved at least once while the dialog was open.
    bool settingsUpdated() const { return m_saved; }

    struct SettingValue
    {
        QString group;
        QString key;
        QVariant value;
    };
    // What saving writes to the settings file now besides the hot key: the
    // keys that are not secrets, with their (trimmed) field values, in writing order.
    QList<SettingValue> valuesToSave() const;
    // What saving hands to the secret store now: each password or key whose
    // trimmed field differs from the store's (empty: remove it); nothing
    // before the store has loaded.
    QVector<SecretStore::Entry> secretsToSave() const;

public slots:
    void accept() override;
    void reject() override;

private slots:
    void on_btnCancel_pressed();
    void on_btnSave_pressed();
    void on_btnConnectDisconnectSocket_pressed();
    void onActiveOutlookPluginChanged(int state);
    void onNotificationStateChanged(ConnectionSupervisor::State state);
    void onManageClickToDialSipAccounts();
    void onBtnManageSipAccountsOutlookClicked();
    void onBtnManageSipAccountsThunderbirdClicked();
    void onBtnManageSipAccountsAppleContactsClicked();

private:
    Q_DISABLE_COPY(SettingsDialog)

    void loadSettings();
    void saveSettings();
    struct SecretField
    {
        QString group;
        QString key;
        QLineEdit* field;
    };
    QVector<SecretField> secretFields() const;
    void loadSecrets();
    void saveSecrets();
    void onSecretsSaved(quint64 id, SecretStore::Place place);
    void loadScreenPop();
    // False when the page's address is refused (the user is told why): it is not saved.
    bool saveScreenPop();
    void loadHotKey();
    // Sets the chosen key at once and stores it; false when it cannot work (the dialog then says why).
    bool saveHotKey();
    void showHotKeyStatus(const QString& text);
    void showStatus();
    void setupConnections();
    void changeDirtyState(bool dirty);
    void checkDirtynessBeforeSipAccountManagement();
    void manageSipAccounts(SourceType::Type type);
    bool isOfficeAddInInstalled();
    void checkOutlookAddin();
    // "Adresboeken": the vCard file or folder and Thunderbird's address books, for the names of callers.
    void loadAddressBooks();
    void saveAddressBooks(Settings& settings);
    void setupAddressBooks();
    void chooseVCardPath(bool folder);

    Ui_SettingsDialog m_ui;
    NotificationChannel* m_channel = nullptr;
    SecretStore* m_secrets = nullptr;
    bool m_secretsShown = false;  // the secret fields hold the store's values
    quint64 m_secretsSave = 0;    // the save whose answer is awaited; 0: none
    bool m_closeWhenSaved = false; // "Opslaan" waits for that answer
    DialShortcut* m_shortcut = nullptr;
    // The status line's two notes: the hot key's, and where the passwords are kept.
    QString m_hotKeyStatus;
    QString m_keyringStatus;
    // As the channel last reported it.
    bool m_connected = false;
    bool m_dirty = false;
    bool m_loading = false;
    bool m_saved = false;
};
