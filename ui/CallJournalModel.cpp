#include "CallJournalModel.h"

#include "CallHistory.h"
#include "NewCallCount.h"

#include <QDateTime>
#include <QFont>

CallJournalModel::CallJournalModel(CallHistory* history, qint64 newAfterMsecs, QObject* parent)
    : QAbstractTableModel(parent), m_history(history), m_newAfter(newAfterMsecs),
      m_incoming(QStringLiteral(":/icons/callIncoming16")), m_outgoing(QStringLiteral(":/icons/callOutgoing16"))
{
    // Row by row, so that the views keep their selection, current row and
    // scroll position: the newest call is the top row, the oldest the last.
    if (!m_history)
        return;
    connect(m_history, &CallHistory::callAboutToBeAdded, this, [this]() { beginInsertRows(QModelIndex(), 0, 0); });
    connect(m_history, &CallHistory::callAdded, this, [this]() { endInsertRows(); });
    connect(m_history, &CallHistory::oldestAboutToBeDropped, this, [this](int count) {
        const int rows = rowCount();
        beginRemoveRows(QModelIndex(), rows - count, rows - 1);
    });
    connect(m_history, &CallHistory::oldestDropped, this, [this]() { endRemoveRows(); });
    connect(m_history, &CallHistory::aboutToBeCleared, this, [this]() { beginResetModel(); });
    connect(m_history, &CallHistory::cleared, this, [this]() { endResetModel(); });
}

CallJournalModel::~CallJournalModel() = default;

int CallJournalModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_history ? 0 : m_history->calls().size();
}

int CallJournalModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CallJournalModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const QVector<CallRecord>& calls = m_history->calls();
    const CallRecord& call = calls.at(calls.size() - 1 - index.row());
    const int column = index.column();

    switch (role) {
    case Qt::DecorationRole:
        if (column == DirectionColumn)
            return call.direction == CallRecord::Incoming ? m_incoming : m_outgoing;
        return QVariant();
    // A name found in the user's own address books rather than sent by the service: in italics, and its tooltip
    // (the whole name, as a cut-off cell would show) says where it came from.
    // A new call (NewCallCount) in bold.
    case Qt::FontRole: {
        const bool italic = column == NameColumn && call.nameFromAddressBook;
        const bool bold = NewCallCount::isNew(call, m_newAfter);
        if (!italic && !bold)
            return QVariant();
        QFont font;
        font.setItalic(italic);
        font.setBold(bold);
        return font;
    }
    case Qt::ToolTipRole:
        if (column == NameColumn && call.nameFromAddressBook)
            return QStringLiteral("Uit uw adresboek: %1").arg(call.name);
        return QVariant();
    case NumberRole:
        return call.number;
    case SearchRole:
        if (column == NameColumn || column == NumberColumn)
            return data(index, Qt::DisplayRole);
        return QVariant();
    case SortRole:
        if (column == DateColumn)
            return call.msecsSinceEpoch;
        if (column == DirectionColumn)
            return int(call.direction);
        return data(index, Qt::DisplayRole);
    case Qt::DisplayRole:
        switch (column) {
        case DateColumn:
            return QDateTime::fromMSecsSinceEpoch(call.msecsSinceEpoch).toString(QStringLiteral("dd-MM-yyyy HH:mm"));
        case NameColumn:
            return call.name;
        case NumberColumn:
            return call.number;
        case LineColumn:
            return call.line;
        }
        return QVariant();
    }
    return QVariant();
}

QVariant CallJournalModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case DateColumn:
        return QStringLiteral("Datum");
    case NameColumn:
        return QStringLiteral("Naam");
    case NumberColumn:
        return QStringLiteral("Nummer");
    case LineColumn:
        return QStringLiteral("Lijn");
    }
    return QString();
}
