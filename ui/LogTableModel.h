#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

// The log viewer's table: severity icon, time, component and message of every
// record that is not a debug record. Sorting and the component filter are done
// here on plain values instead of through item objects and a proxy, so that a
// busy week of records opens, filters and re-sorts without a noticeable wait.
class LogTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        SeverityColumn = 0,
        DateColumn = 1,
        ComponentColumn = 2,
        MessageColumn = 3,
        ColumnCount = 4,
    };

    explicit LogTableModel(QObject* parent = nullptr);
    ~LogTableModel() override;

    // Replaces the rows by these records (as the log store reads them back), in
    // their order; debug records are left out. Clears filter and sort order.
    void setRecords(const QList<QJsonObject>& records);
    // Removes every row and the header texts.
    void clear();

    // Component names of the rows in order of first appearance (exact comparison).
    QStringList components() const;

    // Keeps the rows whose component contains text, ignoring case; empty text keeps all.
    void setComponentFilter(const QString& text);
    QString componentFilter() const { return m_filter; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The time of a record as shown: local time, "yyyy-MM-dd HH:mm:ss.zzz".
    static QString formatTimestamp(qint64 msecsSinceEpoch);
    // The record's "date" text as milliseconds since the epoch; 0 when it is not a number.
    static qint64 parseTimestamp(const QString& date);
    // Resource path of a severity's icon; empty for debug and unknown severities.
    static QString severityIconPath(int severity);

private:
    Q_DISABLE_COPY(LogTableModel)

    struct Entry
    {
        qint64 msecs = 0;
        int severity = 0;
        int component = 0; // index into m_componentNames
        QString message;
    };

    bool lessThan(int left, int right) const;
    void applySort();
    void applyFilter();

    QVector<Entry> m_entries;     // in the order the log store returned them
    QStringList m_componentNames; // distinct names, in order of first appearance
    QVector<int> m_componentRank; // position of each name in sorted order
    QVector<int> m_sorted;        // every entry, in the current sort order
    QVector<int> m_visible;       // the filtered part of m_sorted: the rows
    QString m_filter;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_hasColumns = true;
    QIcon m_icons[4];
};
