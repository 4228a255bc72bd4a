#pragma once

#include <QMenu>
#include <QPointer>

class DoNotDisturb;

// "Niet storen" in the tray menu: "1 uur", "Tot morgen", "Tot ik het uitzet",
// and "Uitzetten" while it is on; checked while on. Plain actions only, so
// that it also travels to a tray host over DBusMenu. Follows the one
// DoNotDisturb; hidden until it has one.
class DoNotDisturbMenu : public QMenu
{
    Q_OBJECT

public:
    explicit DoNotDisturbMenu(QWidget* parent = nullptr);
    ~DoNotDisturbMenu() override;

    // Once, when the program is put together; not owned.
    void setDoNotDisturb(DoNotDisturb* doNotDisturb);

private:
    Q_DISABLE_COPY(DoNotDisturbMenu)

    void follow();

    QPointer<DoNotDisturb> m_doNotDisturb;
    QAction* m_hour = nullptr;
    QAction* m_tomorrow = nullptr;
    QAction* m_always = nullptr;
    QAction* m_off = nullptr;
};
