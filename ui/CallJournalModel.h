#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QPointer>

class CallHistory;

// Every call the history keeps, newest first: direction, time, name, number and
// (for incoming calls) the line that was called; a name found in the user's
// own address books in italics, with a tooltip that says so. Read-only; a
// proxy sorts and filters it.
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

    // Follows the history while both live; not owned.
    explicit CallJournalModel(CallHistory* history, QObject* parent = nullptr);
    ~CallJournalModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    Q_DISABLE_COPY(CallJournalModel)

    QPointer<CallHistory> m_history;
    QIcon m_incoming;
    QIcon m_outgoing;
};
