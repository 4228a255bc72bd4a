#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

// "Niet storen": incoming calls are recorded and counted but not shown. The
// one owner of that state (off, until a local date-time, or until turned off):
// the tray's submenu and badge, its tooltip, the dial window's checkbox and the
// road of an incoming call all ask this object and follow changed().
//
// The state is kept in the settings file ("Notifications"/"DoNotDisturbUntil":
// an ISO 8601 local date-time, or "always"; no key while off) and read back
// when the object is made, so it survives a restart. An end is noticed by a
// timer that never waits longer than the check period: a monotonic timer
// stands still while the machine sleeps, so the wall clock (Clock) is looked
// at again on every tick and whenever checkNow() is told the machine woke.
// GUI thread only; every call returns at once.
class DoNotDisturb : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultCheckMsecs = 30000;
    // "Tot morgen" ends at this hour of the next day.
    static constexpr int TomorrowHour = 8;
    // A stored end further ahead than this was not written by any choice the
    // menu offers (the furthest, "Tot morgen" just after midnight, is 32 hours
    // away): taken for damaged, like one that cannot be read.
    static constexpr qint64 MaxStoredAheadSecs = 2 * 24 * 3600;

    // checkMsecs: the longest wait between two looks at the wall clock.
    explicit DoNotDisturb(int checkMsecs = DefaultCheckMsecs, QObject* parent = nullptr);
    ~DoNotDisturb() override;

    // Asks the wall clock, so it is false from the end on even before the next
    // tick has sent changed() (an incoming call just after a resume).
    bool isOn() const;
    // On without an end ("Tot ik het uitzet").
    bool isAlways() const { return m_always; }
    // The end in local time; invalid when off or on without an end.
    QDateTime until() const { return m_until; }
    // The tooltip's line: "Niet storen tot 15:30", "Niet storen" without an
    // end, empty when off.
    QString toolTipLine() const;

    // The stored text for a state (empty: off) and back. parseStored() is
    // false for text that is neither "always" nor an ISO 8601 date-time.
    static QString storedText(bool always, const QDateTime& until);
    static bool parseStored(const QString& text, bool& always, QDateTime& until);

public slots:
    void setForOneHour();
    // 08:00 on the next day.
    void setUntilTomorrow();
    void setAlways();
    void turnOff();
    // The machine woke (or anything else that may have moved the wall clock):
    // an end that passed meanwhile is noticed now.
    void checkNow();

signals:
    void changed();

private:
    Q_DISABLE_COPY(DoNotDisturb)

    void restore();
    void apply(bool always, const QDateTime& until);
    void end();
    void arm();

    const int m_checkMsecs;
    bool m_always = false;
    QDateTime m_until;
    QTimer m_timer;
};
