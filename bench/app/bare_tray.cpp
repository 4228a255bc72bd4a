// The yardstick for Karvelon's start-up: a bare Qt program that shows only a
// tray icon and says "ready" the same way the test launcher does.
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QMenu menu;
    menu.addAction(QStringLiteral("&Afsluiten"), &app, &QCoreApplication::quit);
    QSystemTrayIcon tray(QIcon(QStringLiteral(":/icons/karvelon/32")));
    tray.setContextMenu(&menu);
    tray.show();

    QTimer timer;
    timer.setInterval(2);
    QObject::connect(&timer, &QTimer::timeout, &app, [&]() {
        if (tray.geometry().isEmpty())
            return;
        timer.stop();
        QTimer::singleShot(0, &app, []() {
            std::fputs("ready\n", stdout);
            std::fflush(stdout);
        });
    });
    timer.start();
    return app.exec();
}
