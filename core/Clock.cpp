#include "Clock.h"

#include <atomic>

namespace {
Clock g_systemClock;
std::atomic<Clock*> g_clock{&g_systemClock};
} // namespace

QDateTime Clock::now() const
{
    return QDateTime::currentDateTime();
}

qint64 Clock::nowMSecs() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

QDateTime Clock::currentDateTime()
{
    return g_clock.load()->now();
}

QDateTime Clock::currentDateTimeUtc()
{
    return currentDateTime().toUTC();
}

qint64 Clock::currentMSecsSinceEpoch()
{
    return g_clock.load()->nowMSecs();
}

qint64 Clock::currentSecsSinceEpoch()
{
    return currentMSecsSinceEpoch() / 1000;
}

QDate Clock::currentDate()
{
    return currentDateTime().date();
}

void Clock::setInstance(Clock* clock)
{
    g_clock.store(clock ? clock : &g_systemClock);
}
