// The yardstick for Karvelon's start-up: a bare Qt program that shows only a
// tray icon and says "ready" the same way the test launcher does. With
// "--balloon" it also shows a start balloon, as Karvelon does, to tell what
// that costs apart from the rest.
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    // As Karvelon: no OpenGL integration for windows that only paint.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QMenu menu;
    menu.addAction(QStringLiteral("&Afsluiten"), &app, &QCoreApplication::quit);
    QSystemTrayIcon tray(QIcon(QStringLiteral(":/icons/karvelon/32")));
    tray.setContextMenu(&menu);
    tray.show();
    if (app.arguments().contains(QStringLiteral("--balloon")))
        tray.showMessage(QStringLiteral("Karvelon"), QStringLiteral("Karvelon is actief!"));

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
