#pragma once

#include <QJsonObject>
#include <QProcess>

struct ServiceConfig;

// Shared by the end-to-end and shutdown tests and the start-up benchmark.
namespace E2e {

// The X tools that are missing, empty when all are there.
QString missingTools();

// A virtual X server on a free display, with a window manager and a tray host.
class Desktop
{
public:
    ~Desktop();
    bool start();
    QProcessEnvironment environment() const;
    bool xdotool(const QStringList& arguments) const;

private:
    QProcess m_xvfb, m_windowManager, m_tray;
    QString m_display;
};

// The test launcher (karvelon_e2e.cpp) and base with its variables for config.
QString launcherPath();
QProcessEnvironment launcherEnvironment(QProcessEnvironment base, const ServiceConfig& config);
// The simulator's demo customer in this process's settings, which the launcher
// shares; the click-to-dial SIP accounts with these ids checked for the menu.
void seedDemoCustomer(bool notifications, const QStringList& checkedAccounts = QStringList());

} // namespace E2e
