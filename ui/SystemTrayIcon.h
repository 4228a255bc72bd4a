#pragma once

#include <QSystemTrayIcon>

class QMainWindow;
class QMenu;
class ButtonGroupAction;

// The program's tray icon; its menu is the click-to-dial front end.
class SystemTrayIcon : public QSystemTrayIcon
{
    Q_OBJECT

public:
    explicit SystemTrayIcon(QMainWindow* parent = nullptr);
    ~SystemTrayIcon() override;

    QMenu* menu() const { return m_menu; }
    ButtonGroupAction* callWidget() const { return m_buttonGroup; }

    // Shows a balloon and reports it, so that what reached the desktop can be followed.
    void showBalloon(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon, int msecs);

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void callNumber(const QString& number, const QString& sipId);
    void openSettings();
    void openLogViewer();
    void quitApplication();
    void balloonShown(const QString& title, const QString& text, QSystemTrayIcon::MessageIcon icon, int msecs);

public slots:
    void onShowContextMenu();
    void onCallNumber(const QString& number, const QString& sipId);
    void onButtonGroupRejected();

private:
    Q_DISABLE_COPY(SystemTrayIcon)

    void focusNumberField();

    QMenu* m_menu = nullptr;
    ButtonGroupAction* m_buttonGroup = nullptr;
};

Q_DECLARE_METATYPE(QSystemTrayIcon::MessageIcon)
