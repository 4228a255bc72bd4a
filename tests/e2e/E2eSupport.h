#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class PbxSimulator;

namespace E2e {

// Whether the tools for a virtual desktop are installed; the reason when not.
QString missingTools();

// A virtual X server (on a display number it picks itself) with a window
// manager and a tray host, for one test executable.
class VirtualDesktop
{
public:
    VirtualDesktop() = default;
    ~VirtualDesktop();

    bool start();
    void stop();
    QString display() const { return m_display; }
    // The environment for a program on this display.
    QProcessEnvironment environment() const;

    // Runs xdotool with the arguments; false when it failed.
    bool xdotool(const QStringList& arguments) const;
    bool click(const QPoint& at, int button = 1) const;
    bool type(const QString& text) const;
    bool key(const QString& keys) const;
    // Saves the whole screen as <build>/e2e-screenshots/<name>.png.
    QString screenshot(const QString& name) const;

private:
    Q_DISABLE_COPY(VirtualDesktop)
    QProcess m_xvfb;
    QProcess m_windowManager;
    QProcess m_tray;
    QString m_display;
};

// The test launcher of the program in a throw-away profile of its own,
// seeded with the simulator's demo customer.
class Karvelon
{
public:
    Karvelon(const VirtualDesktop& desktop, PbxSimulator& simulator, const QString& profileName);
    ~Karvelon();

    // The shared plug-in socket when empty, else a private one.
    void setCommandServer(const QString& path) { m_commandServer = path; }
    QString profile() const { return m_profile; }
    QProcessEnvironment environment() const;

    bool start(const QStringList& arguments = QStringList());
    // Waits until the tray host shows the icon and the probe answers.
    bool waitForTray(int msecs = 20000);
    QProcess& process() { return m_process; }
    bool waitForExit(int msecs, int* exitCode);

    // What the program shows now (see the launcher): "tray", "balloons", "windows".
    QJsonObject state() const;
    // The visible window with this title (or this title and a change mark),
    // class or object name; empty when none.
    QJsonObject window(const QString& titleOrClass) const;
    static QJsonObject child(const QJsonObject& window, const QString& objectName);
    // The first entry of a menu whose text contains text.
    static QJsonObject action(const QJsonObject& menu, const QString& text);
    static QPoint centre(const QJsonObject& rect);
    // Opens the tray menu with a right click; the menu window, or empty.
    QJsonObject openTrayMenu();

    // Today's activity log of the profile.
    QByteArray log() const;
    QString settingsFile() const;
    // Stores the demo customer's click-to-dial SIP accounts with these ids
    // checked, as the SIP account dialog would have; call before start().
    void checkClickToDialAccounts(const QStringList& ids);

    // Runs a second start of the launcher with the same profile.
    int runSecond(const QStringList& arguments, QByteArray* errorOutput = nullptr);

private:
    Q_DISABLE_COPY(Karvelon)
    const VirtualDesktop& m_desktop;
    PbxSimulator& m_simulator;
    QString m_profile;
    QString m_commandServer;
    QString m_probePath;
    QProcess m_process;
};

// The calls made through one script ("cltodlapp.php", "ouctdpl.php") that
// the simulator received; SIP account list requests left out.
QJsonArray callsTo(PbxSimulator& simulator, const QString& script);
// One parameter of a recorded request's query.
QString queryValue(const QJsonObject& request, const QString& key);

} // namespace E2e
