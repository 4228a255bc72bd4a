#pragma once

#include "ConnectionSupervisor.h"
#include "SourceType.h"
#include "ui_SettingsDialog.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QVariant>

class DialShortcut;
class NotificationChannel;
class Settings;

// The tabbed settings dialog: credentials, notifications, plug-ins, click-to-dial.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    // channel: the notification channel whose connection the dialog shows and
    // switches (not owned; null: none). shortcut: the key that dials the
    // selection, set anew when its choice is saved (not owned; null: only stored).
    SettingsDialog(NotificationChannel* channel, DialShortcut* shortcut, QWidget* parent = nullptr);
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
    // What saving writes now besides the hot key: the thirteen keys with their (trimmed) field values, in writing order.
    QList<SettingValue> valuesToSave() const;

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
    void loadScreenPop();
    // False when the page's address is refused (the user is told why): it is not saved.
    bool saveScreenPop();
    void loadHotKey();
    // Sets the chosen key at once and stores it; false when it cannot work (the dialog then says why).
    bool saveHotKey();
    void showHotKeyStatus(const QString& text);
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
    DialShortcut* m_shortcut = nullptr;
    // What the status line last said about the hot key.
    QString m_hotKeyStatus;
    // As the channel last reported it.
    bool m_connected = false;
    bool m_dirty = false;
    bool m_loading = false;
    bool m_saved = false;
};
