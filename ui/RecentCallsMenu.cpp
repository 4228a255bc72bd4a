#include "RecentCallsMenu.h"

#include "CallHistory.h"
#include "Clock.h"
#include "MessageBox.h"

#include <QCoreApplication>
#include <QDateTime>

namespace {

QString plain(QString text)
{
    // Menus read a single '&' as a mnemonic marker.
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace

RecentCallsMenu::RecentCallsMenu(QWidget* parent)
    : QMenu(QStringLiteral("Recente gesprekken"), parent), m_incoming(QStringLiteral(":/icons/callIncoming16")),
      m_outgoing(QStringLiteral(":/icons/callOutgoing16"))
{
    setObjectName(QStringLiteral("mnuRecentCalls"));
    menuAction()->setObjectName(QStringLiteral("actRecentCalls"));

    // The fixed part; the calls go above it.
    m_none = addAction(QStringLiteral("Geen recente gesprekken"));
    m_none->setObjectName(QStringLiteral("actNoRecentCalls"));
    m_none->setEnabled(false);
    addSeparator();
    QAction* all = addAction(QStringLiteral("Alle gesprekken…"));
    all->setObjectName(QStringLiteral("actAllCalls"));
    connect(all, &QAction::triggered, this, &RecentCallsMenu::openCallJournal);
    m_clear = addAction(QStringLiteral("Geschiedenis wissen"));
    m_clear->setObjectName(QStringLiteral("actClearHistory"));
    m_clear->setEnabled(false);
    connect(m_clear, &QAction::triggered, this, &RecentCallsMenu::onClearHistory);
}

RecentCallsMenu::~RecentCallsMenu() = default;

void RecentCallsMenu::setCallHistory(CallHistory* history)
{
    if (m_history)
        disconnect(m_history, nullptr, this, nullptr);
    m_history = history;
    if (m_history)
        connect(m_history, &CallHistory::changed, this, &RecentCallsMenu::rebuild);
    rebuild();
}

QString RecentCallsMenu::entryText(const CallRecord& call)
{
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(call.msecsSinceEpoch);
    const QString time =
        when.toString(when.date() == Clock::currentDate() ? QStringLiteral("HH:mm") : QStringLiteral("dd-MM HH:mm"));
    QString who;
    if (call.name.isEmpty())
        who = call.number.isEmpty() ? QStringLiteral("Nummer onbekend") : call.number;
    else
        who = call.number.isEmpty() ? call.name : QStringLiteral("%1 (%2)").arg(call.name, call.number);
    return time + QLatin1Char(' ') + plain(who);
}

void RecentCallsMenu::rebuild()
{
    // An entry that goes may still be delivering its trigger.
    for (QAction* entry : qAsConst(m_entries)) {
        removeAction(entry);
        entry->deleteLater();
    }
    m_entries.clear();

    const QVector<CallRecord> calls = m_history ? m_history->recent(MaxEntries) : QVector<CallRecord>();
    for (const CallRecord& call : calls) {
        auto* entry =
            new QAction(call.direction == CallRecord::Incoming ? m_incoming : m_outgoing, entryText(call), this);
        entry->setEnabled(!call.number.isEmpty());
        const QString number = call.number, name = call.name;
        connect(entry, &QAction::triggered, this, [this, number, name]() { emit callNumber(number, name); });
        insertAction(m_none, entry);
        m_entries.append(entry);
    }
    m_none->setVisible(calls.isEmpty());
    m_clear->setEnabled(!calls.isEmpty());
}

void RecentCallsMenu::onClearHistory()
{
    const auto answer = MessageBox::question(nullptr, QCoreApplication::applicationName(),
                                             QStringLiteral("Wilt u de gespreksgeschiedenis wissen?"),
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes && m_history)
        m_history->clear();
}
