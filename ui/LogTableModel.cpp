#include "LogTableModel.h"

#include <QDateTime>
#include <QHash>
#include <QJsonValue>

#include <algorithm>
#include <numeric>
#include <vector>

LogTableModel::LogTableModel(QObject* parent) : QAbstractTableModel(parent)
{
    for (int severity = 1; severity < 4; ++severity)
        m_icons[severity] = QIcon(severityIconPath(severity));
}

LogTableModel::~LogTableModel() = default;

QString LogTableModel::formatTimestamp(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::LocalTime)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

qint64 LogTableModel::parseTimestamp(const QString& date)
{
    bool ok = false;
    const qint64 msecs = date.toLongLong(&ok, 10);
    return ok ? msecs : 0;
}

QString LogTableModel::severityIconPath(int severity)
{
    switch (severity) {
    case 1:
        return QStringLiteral(":/icons/info16");
    case 2:
        return QStringLiteral(":/icons/warning16");
    case 3:
        return QStringLiteral(":/icons/error16");
    default:
        return QString();
    }
}

void LogTableModel::setRecords(const QList<QJsonObject>& records)
{
    beginResetModel();
    m_entries.clear();
    m_componentNames.clear();
    m_filter.clear();
    m_sortColumn = -1;
    m_sortOrder = Qt::AscendingOrder;
    m_hasColumns = true;

    const QLatin1String severityKey("severity");
    const QLatin1String dateKey("date");
    const QLatin1String componentKey("component");
    const QLatin1String msgKey("msg");

    QHash<QString, int> componentIndex;
    m_entries.reserve(records.size());
    for (const QJsonObject& record : records) {
        // Numbers as written by the log store; a numeric string is taken too.
        const QJsonValue severityValue = record.value(severityKey);
        const int severity = severityValue.isDouble() ? severityValue.toInt() : severityValue.toVariant().toInt();
        if (severity == 0)
            continue;

        Entry entry;
        entry.severity = severity;
        entry.msecs = parseTimestamp(record.value(dateKey).toString());
        const QString component = record.value(componentKey).toString();
        auto it = componentIndex.find(component);
        if (it == componentIndex.end()) {
            it = componentIndex.insert(component, m_componentNames.size());
            m_componentNames.append(component);
        }
        entry.component = it.value();
        entry.message = record.value(msgKey).toString();
        m_entries.append(std::move(entry));
    }

    QVector<int> byName(m_componentNames.size());
    std::iota(byName.begin(), byName.end(), 0);
    std::sort(byName.begin(), byName.end(),
              [this](int a, int b) { return QString::compare(m_componentNames.at(a), m_componentNames.at(b)) < 0; });
    m_componentRank = QVector<int>(m_componentNames.size());
    for (int i = 0; i < byName.size(); ++i)
        m_componentRank[byName.at(i)] = i;

    m_sorted = QVector<int>(m_entries.size());
    std::iota(m_sorted.begin(), m_sorted.end(), 0);
    m_visible = m_sorted;
    endResetModel();
}

void LogTableModel::clear()
{
    beginResetModel();
    m_entries.clear();
    m_sorted.clear();
    m_visible.clear();
    m_hasColumns = false;
    endResetModel();
}

QStringList LogTableModel::components() const
{
    return m_componentNames;
}

int LogTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_visible.size();
}

int LogTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_hasColumns ? 0 : int(ColumnCount);
}

QVariant LogTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_visible.size() || index.column() >= columnCount())
        return QVariant();
    const Entry& entry = m_entries.at(m_visible.at(index.row()));

    if (role == Qt::DecorationRole) {
        if (index.column() != SeverityColumn)
            return QVariant();
        if (entry.severity > 0 && entry.severity < 4)
            return m_icons[entry.severity];
        return QIcon();
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    switch (index.column()) {
    case DateColumn:
        return formatTimestamp(entry.msecs);
    case ComponentColumn:
        return m_componentNames.at(entry.component);
    case MessageColumn:
        return entry.message;
    default:
        return QVariant();
    }
}

QVariant LogTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (!m_hasColumns || section < 0 || section >= ColumnCount || (role != Qt::DisplayRole && role != Qt::EditRole))
        return QVariant();
    switch (section) {
    case SeverityColumn:
        return QString();
    case DateColumn:
        return QStringLiteral("Datum");
    case ComponentColumn:
        return QStringLiteral("Component");
    default:
        return QStringLiteral("Bericht");
    }
}

Qt::ItemFlags LogTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

bool LogTableModel::lessThan(int left, int right) const
{
    const Entry& a = m_entries.at(left);
    const Entry& b = m_entries.at(right);
    int cmp = 0;
    switch (m_sortColumn) {
    case SeverityColumn:
        cmp = a.severity < b.severity ? -1 : (a.severity > b.severity ? 1 : 0);
        break;
    case DateColumn:
        // By the moment itself; the text would misorder the repeated hour when the clocks go back.
        cmp = a.msecs < b.msecs ? -1 : (a.msecs > b.msecs ? 1 : 0);
        break;
    case ComponentColumn: {
        const int ra = m_componentRank.at(a.component);
        const int rb = m_componentRank.at(b.component);
        cmp = ra < rb ? -1 : (ra > rb ? 1 : 0);
        break;
    }
    case MessageColumn:
        cmp = QString::compare(a.message, b.message);
        break;
    default:
        break;
    }
    // Equal keys keep the order of the log files, so every order is total and repeatable.
    return cmp != 0 ? cmp < 0 : left < right;
}

namespace {

// The first eight UTF-16 units of a text packed so that comparing the numbers
// compares the texts up to there; most comparisons end here without touching
// the strings themselves.
struct MessageKey
{
    quint64 high = 0;
    quint64 low = 0;
    int entry = 0;
};

MessageKey messageKey(const QString& text, int entry)
{
    MessageKey key;
    key.entry = entry;
    const int n = qMin(text.size(), 8);
    for (int i = 0; i < 8; ++i) {
        const quint64 unit = i < n ? text.at(i).unicode() : 0;
        if (i < 4)
            key.high |= unit << (48 - 16 * i);
        else
            key.low |= unit << (48 - 16 * (i - 4));
    }
    return key;
}

} // namespace

void LogTableModel::applySort()
{
    std::iota(m_sorted.begin(), m_sorted.end(), 0);
    if (m_sortColumn < 0 || m_sortColumn >= ColumnCount)
        return;
    const bool ascending = m_sortOrder == Qt::AscendingOrder;

    if (m_sortColumn == MessageColumn) {
        // Long texts: sort compact keys in one array rather than chasing every string.
        std::vector<MessageKey> keys;
        keys.reserve(m_entries.size());
        for (int i = 0; i < m_entries.size(); ++i)
            keys.push_back(messageKey(m_entries.at(i).message, i));
        const auto less = [this](const MessageKey& a, const MessageKey& b) {
            if (a.high != b.high)
                return a.high < b.high;
            if (a.low != b.low)
                return a.low < b.low;
            return lessThan(a.entry, b.entry);
        };
        if (ascending)
            std::sort(keys.begin(), keys.end(), less);
        else
            std::sort(keys.begin(), keys.end(),
                      [&less](const MessageKey& a, const MessageKey& b) { return less(b, a); });
        for (int i = 0; i < m_sorted.size(); ++i)
            m_sorted[i] = keys[i].entry;
        return;
    }

    if (ascending)
        std::sort(m_sorted.begin(), m_sorted.end(), [this](int a, int b) { return lessThan(a, b); });
    else
        std::sort(m_sorted.begin(), m_sorted.end(), [this](int a, int b) { return lessThan(b, a); });
}

void LogTableModel::applyFilter()
{
    if (m_filter.isEmpty()) {
        m_visible = m_sorted;
        return;
    }
    QVector<bool> accepted(m_componentNames.size());
    for (int i = 0; i < m_componentNames.size(); ++i)
        accepted[i] = m_componentNames.at(i).contains(m_filter, Qt::CaseInsensitive);
    m_visible.clear();
    m_visible.reserve(m_sorted.size());
    for (int entry : qAsConst(m_sorted)) {
        if (accepted.at(m_entries.at(entry).component))
            m_visible.append(entry);
    }
}

void LogTableModel::setComponentFilter(const QString& text)
{
    if (text == m_filter)
        return;
    beginResetModel();
    m_filter = text;
    applyFilter();
    endResetModel();
}

void LogTableModel::sort(int column, Qt::SortOrder order)
{
    emit layoutAboutToBeChanged(QList<QPersistentModelIndex>(), QAbstractItemModel::VerticalSortHint);

    // Remember which entry every persistent index (the selection, the current row) points at.
    const QModelIndexList before = persistentIndexList();
    QVector<int> entryOf;
    entryOf.reserve(before.size());
    for (const QModelIndex& index : before)
        entryOf.append(index.row() < m_visible.size() ? m_visible.at(index.row()) : -1);

    m_sortColumn = column;
    m_sortOrder = order;
    applySort();
    applyFilter();

    if (!before.isEmpty()) {
        QVector<int> rowOf(m_entries.size(), -1);
        for (int row = 0; row < m_visible.size(); ++row)
            rowOf[m_visible.at(row)] = row;
        QModelIndexList after;
        after.reserve(before.size());
        for (int i = 0; i < before.size(); ++i) {
            const int entry = entryOf.at(i);
            const int row = entry >= 0 ? rowOf.at(entry) : -1;
            after.append(row >= 0 ? index(row, before.at(i).column()) : QModelIndex());
        }
        changePersistentIndexList(before, after);
    }
    emit layoutChanged(QList<QPersistentModelIndex>(), QAbstractItemModel::VerticalSortHint);
}
