#include "DoNotDisturbMenu.h"

#include "DoNotDisturb.h"

DoNotDisturbMenu::DoNotDisturbMenu(QWidget* parent) : QMenu(QStringLiteral("Niet storen"), parent)
{
    setObjectName(QStringLiteral("mnuDoNotDisturb"));
    menuAction()->setObjectName(QStringLiteral("actDoNotDisturb"));
    menuAction()->setCheckable(true);
    menuAction()->setVisible(false);
    // A tray host may send a click on the title itself: the mark follows the state, not the click.
    connect(menuAction(), &QAction::triggered, this, &DoNotDisturbMenu::follow);
    m_hour = addAction(QStringLiteral("1 uur"));
    m_hour->setObjectName(QStringLiteral("actDoNotDisturbHour"));
    m_tomorrow = addAction(QStringLiteral("Tot morgen"));
    m_tomorrow->setObjectName(QStringLiteral("actDoNotDisturbTomorrow"));
    m_always = addAction(QStringLiteral("Tot ik het uitzet"));
    m_always->setObjectName(QStringLiteral("actDoNotDisturbAlways"));
    m_off = addAction(QStringLiteral("Uitzetten"));
    m_off->setObjectName(QStringLiteral("actDoNotDisturbOff"));
    m_off->setVisible(false);
}

DoNotDisturbMenu::~DoNotDisturbMenu() = default;

void DoNotDisturbMenu::setDoNotDisturb(DoNotDisturb* doNotDisturb)
{
    m_doNotDisturb = doNotDisturb;
    menuAction()->setVisible(m_doNotDisturb);
    if (m_doNotDisturb) {
        connect(m_hour, &QAction::triggered, m_doNotDisturb, &DoNotDisturb::setForOneHour);
        connect(m_tomorrow, &QAction::triggered, m_doNotDisturb, &DoNotDisturb::setUntilTomorrow);
        connect(m_always, &QAction::triggered, m_doNotDisturb, &DoNotDisturb::setAlways);
        connect(m_off, &QAction::triggered, m_doNotDisturb, &DoNotDisturb::turnOff);
        connect(m_doNotDisturb, &DoNotDisturb::changed, this, &DoNotDisturbMenu::follow);
    }
    follow();
}

void DoNotDisturbMenu::follow()
{
    const bool on = m_doNotDisturb && m_doNotDisturb->isOn();
    menuAction()->setChecked(on);
    m_off->setVisible(on);
}
