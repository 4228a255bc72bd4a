#pragma once

#include "CallJournalModel.h"
#include "OutgoingCall.h"
#include "ScreenPop.h"
#include "ui_CallJournalDialog.h"

#include <QDialog>

class CallHistory;
class QSortFilterProxyModel;

// "Gesprekken": every call the history keeps, to search and to call back. A
// window of its own beside the tray; it follows the history while open.
class CallJournalDialog : public QDialog
{
    Q_OBJECT

public:
    // The history is not owned and must outlive the window. The incoming calls
    // newer than newAfterMsecs show in bold until the window closes.
    explicit CallJournalDialog(CallHistory* history, qint64 newAfterMsecs = CallJournalModel::NothingNew,
                               QWidget* parent = nullptr);
    ~CallJournalDialog() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // Call back the chosen row, with the default account.
    void callRequested(const OutgoingCall& call);
    // "Openen in …": the caller's page for the chosen row.
    void pageRequested(const ScreenPop::Caller& caller);

private:
    Q_DISABLE_COPY(CallJournalDialog)

    void callBack(const QModelIndex& index);
    void showContextMenu(const QPoint& pos);

    Ui_CallJournalDialog m_ui;
    CallJournalModel* m_model = nullptr;
    QSortFilterProxyModel* m_proxy = nullptr;
};
