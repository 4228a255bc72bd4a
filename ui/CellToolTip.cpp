#include "CellToolTip.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QTableView>
#include <QToolTip>

CellToolTip::CellToolTip(QTableView* view) : QObject(view), m_view(view) {}

void CellToolTip::install(QTableView* view)
{
    view->horizontalHeader()->setStretchLastSection(true);
    view->viewport()->installEventFilter(new CellToolTip(view));
}

bool CellToolTip::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip || watched != m_view->viewport())
        return false;
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = m_view->indexAt(help->pos());
    // A model that has tooltips of its own keeps them.
    if (index.data(Qt::ToolTipRole).isValid())
        return false;
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect cell = m_view->visualRect(index);
    // The delegate's own measure: text, icon and margins as they are painted.
    if (!text.isEmpty() && m_view->sizeHintForIndex(index).width() > cell.width())
        QToolTip::showText(help->globalPos(), text, m_view->viewport(), cell);
    else
        QToolTip::hideText();
    return true;
}
