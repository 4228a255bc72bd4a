#pragma once

#include <QDateTime>

// The program's notion of "now". Everything that depends on the date or time
// (log file names, purging, request timestamps) asks this clock, so tests can
// set the date instead of waiting for it.
class Clock
{
public:
    virtual ~Clock() = default;

    static QDateTime currentDateTime();
    static QDateTime currentDateTimeUtc();
    static qint64 currentMSecsSinceEpoch();
    static qint64 currentSecsSinceEpoch();
    static QDate currentDate();

    // Test hook: replaces the clock; nullptr restores the system clock. Not owned.
    static void setInstance(Clock* clock);

protected:
    virtual QDateTime now() const;
    // Milliseconds since the epoch without a detour through local time: the
    // log asks for this once per record, and Qt re-reads the time zone on
    // every local-time conversion.
    virtual qint64 nowMSecs() const;
};

// A clock that stands still at a given moment until moved.
class FixedClock : public Clock
{
public:
    explicit FixedClock(const QDateTime& moment) : m_moment(moment) {}
    void setMoment(const QDateTime& moment) { m_moment = moment; }
    void advanceMSecs(qint64 msecs) { m_moment = m_moment.addMSecs(msecs); }

protected:
    QDateTime now() const override { return m_moment; }
    qint64 nowMSecs() const override { return m_moment.toMSecsSinceEpoch(); }

private:
    QDateTime m_moment;
};
