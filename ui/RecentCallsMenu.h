#pragma once

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QPointer>

class CallHistory;
struct CallRecord;

// "Recente gesprekken" in the tray menu: the newest calls of the history, each
// one to call back, then "Alle gesprekken…" and "Geschiedenis wissen". Only
// plain actions, so that it also travels to a tray host over DBusMenu.
class RecentCallsMenu : public QMenu
{
    Q_OBJECT

public:
    static constexpr int MaxEntries = 10;

    explicit RecentCallsMenu(QWidget* parent = nullptr);
    ~RecentCallsMenu() override;

    // Follows this history from now on; not owned.
    void setCallHistory(CallHistory* history);

    // One entry as shown: time ("HH:mm" today, "dd-MM HH:mm" before), then the
    // name with the number or the number alone, '&' doubled so it stays text.
    static QString entryText(const CallRecord& call);

signals:
    // Call back: the number and the name the history has for it.
    void callNumber(const QString& number, const QString& name);
    void openCallJournal();

private:
    Q_DISABLE_COPY(RecentCallsMenu)

    void rebuild();
    void onClearHistory();

    QPointer<CallHistory> m_history;
    QList<QAction*> m_entries;
    QAction* m_none = nullptr;
    QAction* m_clear = nullptr;
    QIcon m_incoming;
    QIcon m_outgoing;
};
