#pragma once

#include "SourceType.h"

#include <QAbstractTableModel>

// A live table of one source's SIP accounts: column 0 the check box, column 1
// the name (id under Qt::UserRole). Holds no account data of its own; every
// query goes to the registry.
class SipAccountsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // Asks for the source's accounts from the service; they follow when they come.
    SipAccountsModel(SourceType::Type type, QObject* parent);
    ~SipAccountsModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void addAccount(const QString& displayName, const QString& id, bool checked);

private slots:
    void onDataChanged();

private:
    Q_DISABLE_COPY(SipAccountsModel)

    SourceType::Type m_type;
    // The row count the attached views know; a change in it needs a reset,
    // since dataChanged alone never tells a view about added or removed rows.
    int m_knownRows = 0;
};
