// The program as shipped (same libraries, same main logic), for the
// end-to-end tests and the start-up benchmark only. It differs from the
// shipped binary in what a test must control and the user never does:
//   KARVELON_E2E_API_BASE_URL   the simulator's web API ("http://127.0.0.1:A/api/")
//   KARVELON_E2E_NOTIFY_URL     the simulator's notification server
//   KARVELON_E2E_COMMAND_SERVER a private plug-in socket instead of the shared one
//   KARVELON_E2E_PROBE          a local socket that answers "state" with what is on screen
//   KARVELON_E2E_READY          print "ready" once the tray icon is embedded and the loop idle
#include "CommandLine.h"
#include "KarvelonApi.h"
#include "KarvelonApplication.h"
#include "SystemTrayIcon.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {

QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

QJsonObject rectObject(const QRect& r)
{
    return QJsonObject{{QStringLiteral("x"), r.x()}, {QStringLiteral("y"), r.y()},
                       {QStringLiteral("w"), r.width()}, {QStringLiteral("h"), r.height()}};
}

QJsonObject describeWidget(const QWidget* w)
{
    QJsonObject o = rectObject(QRect(w->mapToGlobal(QPoint(0, 0)), w->size()));
    o.insert(QStringLiteral("class"), QString::fromLatin1(w->metaObject()->className()));
    o.insert(QStringLiteral("name"), w->objectName());
    o.insert(QStringLiteral("enabled"), w->isEnabled());
    if (const auto* label = qobject_cast<const QLabel*>(w))
        o.insert(QStringLiteral("text"), label->text());
    else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        o.insert(QStringLiteral("text"), button->text());
        o.insert(QStringLiteral("checked"), button->isChecked());
    } else if (const auto* edit = qobject_cast<const QLineEdit*>(w))
        o.insert(QStringLiteral("text"), edit->text());
    else if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
        o.insert(QStringLiteral("text"), combo->currentText());
        QJsonArray items;
        for (int i = 0; i < combo->count(); ++i)
            items.append(combo->itemText(i));
        o.insert(QStringLiteral("items"), items);
    }
    return o;
}

QJsonObject describeWindow(QWidget* window)
{
    QJsonObject o = describeWidget(window);
    o.insert(QStringLiteral("title"), window->windowTitle());
    o.insert(QStringLiteral("active"), window->isActiveWindow());
    QJsonArray widgets;
    const QList<QWidget*> children = window->findChildren<QWidget*>();
    for (const QWidget* child : children) {
        if (child->isVisible())
            widgets.append(describeWidget(child));
    }
    o.insert(QStringLiteral("widgets"), widgets);
    if (auto* menu = qobject_cast<QMenu*>(window)) {
        QJsonArray actions;
        const QList<QAction*> list = menu->actions();
        for (QAction* action : list) {
            if (!action->isVisible() || action->isSeparator())
                continue;
            const QRect local = menu->actionGeometry(action);
            QJsonObject a = rectObject(QRect(menu->mapToGlobal(local.topLeft()), local.size()));
            a.insert(QStringLiteral("text"), action->text());
            a.insert(QStringLiteral("name"), action->objectName());
            a.insert(QStringLiteral("enabled"), action->isEnabled());
            actions.append(a);
        }
        o.insert(QStringLiteral("actions"), actions);
    }
    return o;
}

// Answers each "state" line with one JSON line: the tray icon, the balloons
// shown so far and every visible top-level window with its widgets.
class Probe : public QObject
{
public:
    Probe(KarvelonApplication& app, const QString& path)
        : QObject(&app)
        , m_app(app)
    {
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        QLocalServer::removeServer(path);
        if (!m_server.listen(path))
            std::fprintf(stderr, "karvelon-e2e: probe not listening: %s\n", qPrintable(m_server.errorString()));
        connect(&m_server, &QLocalServer::newConnection, this, &Probe::onNewConnection);
        connect(app.systemTrayIcon(), &SystemTrayIcon::balloonShown, this,
                [this](const QString& title, const QString& text) {
                    m_balloons.append(QJsonObject{{QStringLiteral("title"), title}, {QStringLiteral("text"), text}});
                });
    }

private:
    void onNewConnection()
    {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket]() {
                while (socket->canReadLine()) {
                    socket->readLine();
                    socket->write(QJsonDocument(state()).toJson(QJsonDocument::Compact) + '\n');
                }
            });
        }
    }

    QJsonObject state() const
    {
        QJsonObject o;
        SystemTrayIcon* tray = m_app.systemTrayIcon();
        QJsonObject t = rectObject(tray ? tray->geometry() : QRect());
        t.insert(QStringLiteral("visible"), tray && tray->isVisible());
        t.insert(QStringLiteral("available"), QSystemTrayIcon::isSystemTrayAvailable());
        o.insert(QStringLiteral("tray"), t);
        o.insert(QStringLiteral("balloons"), m_balloons);
        QJsonArray windows;
        const QList<QWidget*> tops = QApplication::topLevelWidgets();
        for (QWidget* w : tops) {
            if (w->isVisible())
                windows.append(describeWindow(w));
        }
        o.insert(QStringLiteral("windows"), windows);
        const QWidget* focus = QApplication::focusWidget();
        o.insert(QStringLiteral("focus"), focus ? focus->objectName() : QString());
        return o;
    }

    KarvelonApplication& m_app;
    QLocalServer m_server;
    QJsonArray m_balloons;
};

// "ready" on stdout once the tray host shows the icon and every event queued
// during start-up has been handled.
void announceWhenReady(KarvelonApplication& app)
{
    auto* timer = new QTimer(&app);
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, &app, [&app, timer]() {
        SystemTrayIcon* tray = app.systemTrayIcon();
        if (!tray || tray->geometry().isEmpty())
            return;
        timer->stop();
        timer->deleteLater();
        QTimer::singleShot(0, &app, []() {
            std::fputs("ready\n", stdout);
            std::fflush(stdout);
        });
    });
    timer->start();
}

} // namespace

int main(int argc, char** argv)
{
    return CommandLine::runProgram(argc, argv, [](KarvelonApplication& app) {
        const QString apiBase = env("KARVELON_E2E_API_BASE_URL");
        if (!apiBase.isEmpty()) {
            QString sim = apiBase;
            sim.replace(QStringLiteral("/api/"), QStringLiteral("/_sim/"));
            const KarvelonApi::ServiceUrls urls{apiBase, QUrl(env("KARVELON_E2E_NOTIFY_URL")),
                                                QUrl(sim + QStringLiteral("wanip.html")),
                                                QUrl(sim + QStringLiteral("wanip.txt"))};
            app.setApiSetUpForTesting([urls](KarvelonApi* api) { api->setServiceUrlsForTesting(urls); });
        }
        const QString commandServer = env("KARVELON_E2E_COMMAND_SERVER");
        if (!commandServer.isEmpty())
            app.setCommandServerNameForTesting(commandServer);

        // Only the running instance gets this far into its event loop; a
        // second start hands its message over and ends before.
        const QString probePath = env("KARVELON_E2E_PROBE");
        const bool ready = !env("KARVELON_E2E_READY").isEmpty();
        QTimer::singleShot(0, &app, [&app, probePath, ready]() {
            if (!probePath.isEmpty())
                new Probe(app, probePath);
            if (ready)
                announceWhenReady(app);
        });
    });
}
