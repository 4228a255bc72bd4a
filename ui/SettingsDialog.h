#pragma once

#include "ui_SettingsDialog.h"

#include <QDialog>

class KarvelonApi;

// The tabbed settings dialog: credentials, notifications, plug-ins, click-to-dial.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(KarvelonApi* api, QWidget* parent = nullptr);
    ~SettingsDialog() override;

    void activateTab(const QString& tabName);
    // Whether the settings were saved at least once while the dialog was open.
    bool settingsUpdated() const { return m_saved; }

private:
    Q_DISABLE_COPY(SettingsDialog)

    Ui_SettingsDialog m_ui;
    KarvelonApi* m_api = nullptr;
    bool m_dirty = false;
    bool m_loading = false;
    bool m_saved = false;
};
