#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QPointer>

#include <limits>

class CallHistory;

// Every call the history keeps, newest first: direction, time, name, number and
// (for incoming calls) the line that was called; the incoming calls newer than
// a mark in bold (the new calls, NewCallCount); a name found in the user's own
// address books in italics, with a tooltip that says so. Read-only; a proxy
// sorts and filters it.
class CallJournalModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        DirectionColumn = 0,
        DateColumn,
        NameColumn,
        NumberColumn,
        LineColumn,
        ColumnCount,
    };
    enum Role
    {
        // The call's number, in every column: what "Bellen" calls.
        NumberRole = Qt::UserRole + 1,
        // What sorting compares: the time as a number, the rest as shown.
        SortRole,
        // What the search field looks in: name and number only.
        SearchRole,
    };

    static constexpr qint64 NothingNew = std::numeric_limits<qint64>::max();

    // Follows the history while both live; not owned. newAfterMsecs: the
    // mark of seen calls when the window opened (NewCallCount::seenUpTo()).
    explicit CallJournalModel(CallHistory* history, qint64 newAfterMsecs = NothingNew, QObject* parent = nullptr);
    ~CallJournalModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    Q_DISABLE_COPY(CallJournalModel)

    QPointer<CallHistory> m_history;
    const qint64 m_newAfter;
    QIcon m_incoming;
    QIcon m_outgoing;
};
