#include "CallJournalDialog.h"

#include "CellToolTip.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSortFilterProxyModel>

CallJournalDialog::CallJournalDialog(CallHistory* history, qint64 newAfterMsecs, QWidget* parent)
    : QDialog(parent), m_model(new CallJournalModel(history, newAfterMsecs, this)),
      m_proxy(new QSortFilterProxyModel(this))
{
    m_ui.setupUi(this);
    setWindowTitle(QCoreApplication::applicationName() + QStringLiteral(" - Gesprekken"));

    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(CallJournalModel::SortRole);
    m_proxy->setFilterRole(CallJournalModel::SearchRole);
    m_proxy->setFilterKeyColumn(-1);
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_proxy->setSortCaseSensitivity(Qt::CaseInsensitive);

    QTableView* view = m_ui.tableView;
    view->setModel(m_proxy);
    view->setSortingEnabled(true);
    // Newest call on top.
    view->sortByColumn(CallJournalModel::DateColumn, Qt::DescendingOrder);
    view->resizeColumnsToContents();
    CellToolTip::install(view);
    view->setCurrentIndex(m_proxy->index(0, 0));
    view->installEventFilter(this);

    connect(m_ui.txtSearch, &QLineEdit::textChanged, m_proxy, &QSortFilterProxyModel::setFilterFixedString);
    connect(view, &QAbstractItemView::doubleClicked, this, &CallJournalDialog::callBack);
    connect(view, &QWidget::customContextMenuRequested, this, &CallJournalDialog::showContextMenu);
    connect(m_ui.btnClose, &QPushButton::clicked, this, &QDialog::close);
}

CallJournalDialog::~CallJournalDialog()
{
    // The view goes before its models.
    m_ui.tableView->setModel(nullptr);
}

bool CallJournalDialog::eventFilter(QObject* watched, QEvent* event)
{
    // Return on a row calls back; the view itself would pass the key on to the dialog.
    if (watched == m_ui.tableView && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            callBack(m_ui.tableView->currentIndex());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CallJournalDialog::callBack(const QModelIndex& index)
{
    const QString number = index.data(CallJournalModel::NumberRole).toString();
    if (!number.isEmpty())
        emit callRequested(OutgoingCall::make(OutgoingCall::Journal, number, QString(), SourceType::ClickToDial,
                                              index.siblingAtColumn(CallJournalModel::NameColumn).data().toString()));
}

void CallJournalDialog::showContextMenu(const QPoint& pos)
{
    const QModelIndex index = m_ui.tableView->indexAt(pos);
    if (!index.isValid())
        return;
    const QString number = index.data(CallJournalModel::NumberRole).toString();

    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("mnuCallJournal"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The history may change while the menu is open: the row is followed, not its place.
    const QPersistentModelIndex row(index);
    QAction* call = menu->addAction(QStringLiteral("Bellen"), this, [this, row]() { callBack(row); });
    call->setObjectName(QStringLiteral("actCallBack"));
    QAction* copy = menu->addAction(QStringLiteral("Nummer kopiëren"), this,
                                    [number]() { QGuiApplication::clipboard()->setText(number); });
    copy->setObjectName(QStringLiteral("actCopyNumber"));
    call->setEnabled(!number.isEmpty());
    copy->setEnabled(!number.isEmpty());
    // The caller's page in the user's own system, when one is set up.
    const QString openIn = ScreenPop::openInLabel(ScreenPop::readSetup().urlTemplate);
    if (!openIn.isEmpty()) {
        QAction* open = menu->addAction(openIn, this, [this, row]() {
            if (!row.isValid())
                return;
            const QModelIndex index(row);
            emit pageRequested({index.data(CallJournalModel::NumberRole).toString(),
                                index.siblingAtColumn(CallJournalModel::NameColumn).data().toString(),
                                index.siblingAtColumn(CallJournalModel::LineColumn).data().toString()});
        });
        open->setObjectName(QStringLiteral("actOpenPage"));
    }
    menu->popup(m_ui.tableView->viewport()->mapToGlobal(pos));
}
