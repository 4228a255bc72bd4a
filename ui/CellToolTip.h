#pragma once

#include <QObject>

class QTableView;

// For the program's tables: the last column takes the width the others leave,
// and a cell whose text does not fit shows all of it as a tooltip (a cell that
// fits shows none, so the tooltip never just repeats what is on screen).
class CellToolTip : public QObject
{
    Q_OBJECT

public:
    // Owned by the view.
    static void install(QTableView* view);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit CellToolTip(QTableView* view);
    Q_DISABLE_COPY(CellToolTip)

    QTableView* m_view;
};
