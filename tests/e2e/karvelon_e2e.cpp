// The shipped start-up with the configuration a test hands over in
// KARVELON_E2E_CONFIG (see E2eSupport.cpp), plus, once the event loop runs:
// KARVELON_E2E_PROBE, a local socket answering each line with what is on
// screen (JSON), and KARVELON_E2E_SCENARIO, something to be doing when the
// program quits after KARVELON_E2E_QUIT_MSECS.
#include "CallRouter.h"
#include "CommandLine.h"
#include "KarvelonApplication.h"
#include "SystemTrayIcon.h"
#include "Windows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QTimer>

namespace {
QString env(const char* name) { return qEnvironmentVariable(name); }

KarvelonApplication* app() { return qobject_cast<KarvelonApplication*>(qApp); }

QJsonObject describe(const QWidget* w, const QRect& local, const QString& text, bool enabled)
{
    const QRect r(w ? w->mapToGlobal(local.topLeft()) : local.topLeft(), local.size());
    return QJsonObject{{"x", r.x()}, {"y", r.y()}, {"w", r.width()}, {"h", r.height()}, {"text", text},
                       {"enabled", enabled}, {"name", w ? w->objectName() : QString()}};
}

// The tray icon (its tooltip as text), the balloons so far, the focus and every visible window with
// its visible widgets (a list box: its current entry as text) and menu entries.
QByteArray state(const QJsonArray& balloons)
{
    QJsonArray windows;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        QJsonArray widgets, actions;
        for (const QWidget* w : top->findChildren<QWidget*>())
            if (w->isVisible())
                widgets.append(describe(w, w->rect(), w->property(w->property("text").isValid() ? "text" : "currentText")
                                                        .toString(), w->isEnabled()));
        if (const auto* menu = qobject_cast<QMenu*>(top))
            for (QAction* action : menu->actions())
                actions.append(describe(menu, menu->actionGeometry(action), action->text(), action->isEnabled()));
        if (top->isVisible())
            windows.append(QJsonObject{{"title", top->windowTitle()}, {"name", top->objectName()},
                                       {"x", top->x()}, {"y", top->y()}, {"widgets", widgets}, {"actions", actions}});
    }
    const QWidget* focus = QApplication::focusWidget();
    const SystemTrayIcon* tray = app()->systemTrayIcon();
    const QJsonObject state{{"tray", describe(nullptr, tray->geometry(), tray->toolTip(), true)},
                            {"balloons", balloons}, {"windows", windows}, {"focus", focus ? focus->objectName() : ""}};
    return QJsonDocument(state).toJson(QJsonDocument::Compact) + '\n';
}

void startProbe(const QString& path)
{
    static QJsonArray balloons;
    auto* server = new QLocalServer(qApp);
    QObject::connect(app()->systemTrayIcon(), &SystemTrayIcon::balloonShown, server,
                     [](const QString&, const QString& text) { balloons.append(text); });
    QObject::connect(server, &QLocalServer::newConnection, server, [server]() {
        QLocalSocket* socket = server->nextPendingConnection();
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket]() {
            while (!socket->readLine().isEmpty())
                socket->write(state(balloons));
        });
    });
    server->listen(path);
}

void runScenario(const QString& scenario)
{
    // Again and again: a quit that ends a start-up question's loop is lost.
    auto* quit = new QTimer(app());
    QObject::connect(quit, &QTimer::timeout, app(), &KarvelonApplication::onQuitApplication);
    quit->start(env("KARVELON_E2E_QUIT_MSECS").toInt());
    if (scenario == QLatin1String("calldialog"))
        app()->windows()->showCallDialog(SourceType::MsOutlook, QStringLiteral("Jan"), {QStringLiteral("0201 (Werk)")});
    else if (scenario == QLatin1String("settings"))
        app()->windows()->openSettings(QString());
    else if (scenario == QLatin1String("logviewer"))
        app()->windows()->openLogViewer();
    else if (scenario == QLatin1String("pending"))
        app()->calls()->start(OutgoingCall::make(OutgoingCall::TrayMenu, QStringLiteral("0201234567")));
    else if (scenario == QLatin1String("leak"))
        new QObject(); // never deleted: the leak check must find it
}

// Once an event loop runs; a second start hands its request over before.
void startExtras()
{
    QTimer::singleShot(0, qApp, []() {
        startProbe(env("KARVELON_E2E_PROBE")); // listens nowhere without a path
        if (!env("KARVELON_E2E_SCENARIO").isEmpty())
            QTimer::singleShot(0, qApp, []() { runScenario(env("KARVELON_E2E_SCENARIO")); });
    });
}
Q_COREAPP_STARTUP_FUNCTION(startExtras)
} // namespace

int main(int argc, char** argv)
{
    ServiceConfig config;
    const QStringList test = env("KARVELON_E2E_CONFIG").split(QLatin1Char(' '));
    if (test.size() == 6) {
        config.apiBaseUrl = test[0], config.notifyUrl = QUrl(test[1]), config.wanIpHtmlUrl = QUrl(test[2]);
        config.wanIpTextUrl = QUrl(test[3]), config.commandServerName = test[4];
        config.backoffInitialMsecs = test[5].toInt();
    }
    return CommandLine::runProgram(argc, argv, config);
}
