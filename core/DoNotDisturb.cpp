#include "DoNotDisturb.h"

#include "Clock.h"
#include "Logger.h"
#include "Settings.h"
#include "SettingsKeys.h"

using namespace SettingsKeys;

namespace {
const QString kAlways = QStringLiteral("always");
const QString kComponent = QStringLiteral("Notifier");

void log(Logger::Severity severity, const QString& message)
{
    Logger::instance()->log(severity, kComponent, message);
}

QString onMessage(bool always, const QDateTime& until)
{
    return always ? QStringLiteral("Niet storen staat aan tot het wordt uitgezet.")
                  : QStringLiteral("Niet storen staat aan tot %1.")
                        .arg(until.toString(QStringLiteral("dd-MM-yyyy HH:mm")));
}

// Whole seconds: what the settings file keeps, so a restart reads back the same end.
QDateTime wholeSeconds(const QDateTime& moment)
{
    return moment.addMSecs(-(moment.time().msec()));
}
} // namespace

DoNotDisturb::DoNotDisturb(int checkMsecs, QObject* parent)
    : QObject(parent)
    , m_checkMsecs(qMax(1, checkMsecs))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &DoNotDisturb::checkNow);
    restore();
}

DoNotDisturb::~DoNotDisturb() = default;

bool DoNotDisturb::isOn() const
{
    return m_always || (m_until.isValid() && Clock::currentDateTime() < m_until);
}

QString DoNotDisturb::toolTipLine() const
{
    if (!isOn())
        return QString();
    if (m_always)
        return QStringLiteral("Niet storen");
    return QStringLiteral("Niet storen tot %1").arg(m_until.toString(QStringLiteral("HH:mm")));
}

QString DoNotDisturb::storedText(bool always, const QDateTime& until)
{
    if (always)
        return kAlways;
    return until.isValid() ? until.toLocalTime().toString(Qt::ISODate) : QString();
}

bool DoNotDisturb::parseStored(const QString& text, bool& always, QDateTime& until)
{
    always = text == kAlways;
    until = always ? QDateTime() : QDateTime::fromString(text, Qt::ISODate).toLocalTime();
    return always || until.isValid();
}

void DoNotDisturb::setForOneHour()
{
    apply(false, wholeSeconds(Clock::currentDateTime()).addSecs(3600));
}

void DoNotDisturb::setUntilTomorrow()
{
    apply(false, QDateTime(Clock::currentDate().addDays(1), QTime(TomorrowHour, 0)));
}

void DoNotDisturb::setAlways()
{
    apply(true, QDateTime());
}

void DoNotDisturb::turnOff()
{
    apply(false, QDateTime());
}

void DoNotDisturb::checkNow()
{
    if (!m_until.isValid())
        return;
    if (Clock::currentDateTime() >= m_until)
        end();
    else
        arm();
}

// A damaged or past value is taken out of the file, so the next start does not meet it again.
void DoNotDisturb::restore()
{
    const QString text = Settings().get(kNotificationsGroup, kDoNotDisturbUntil).toString();
    if (text.isEmpty())
        return;
    bool always = false;
    QDateTime until;
    const QDateTime now = Clock::currentDateTime();
    if (!parseStored(text, always, until) || (!always && now.secsTo(until) > MaxStoredAheadSecs)) {
        log(Logger::Warning, QStringLiteral("Ongeldige waarde voor Niet storen genegeerd: %1").arg(text.left(64)));
        Settings().remove(kNotificationsGroup, kDoNotDisturbUntil);
        return;
    }
    if (!always && until <= now) {
        log(Logger::Info, QStringLiteral("Niet storen is afgelopen."));
        Settings().remove(kNotificationsGroup, kDoNotDisturbUntil);
        return;
    }
    m_always = always;
    m_until = wholeSeconds(until);
    log(Logger::Info, onMessage(m_always, m_until));
    arm();
}

void DoNotDisturb::apply(bool always, const QDateTime& until)
{
    if (always == m_always && until == m_until)
        return;
    m_always = always;
    m_until = until;
    const QString text = storedText(always, until);
    if (text.isEmpty()) {
        Settings().remove(kNotificationsGroup, kDoNotDisturbUntil);
        log(Logger::Info, QStringLiteral("Niet storen uitgezet."));
    } else {
        Settings().set(kNotificationsGroup, kDoNotDisturbUntil, text);
        log(Logger::Info, onMessage(always, until));
    }
    arm();
    emit changed();
}

void DoNotDisturb::end()
{
    m_until = QDateTime();
    m_timer.stop();
    Settings().remove(kNotificationsGroup, kDoNotDisturbUntil);
    log(Logger::Info, QStringLiteral("Niet storen is afgelopen."));
    emit changed();
}

// The next look at the wall clock: at the end, but never later than one check
// period from now (the timer does not count time asleep).
void DoNotDisturb::arm()
{
    if (!m_until.isValid()) {
        m_timer.stop();
        return;
    }
    const qint64 left = Clock::currentDateTime().msecsTo(m_until);
    m_timer.start(int(qBound<qint64>(1, left, m_checkMsecs)));
}
