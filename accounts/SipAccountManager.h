#pragma once

#include "SourceType.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

class SipAccount;

// Every SIP account known to the program, of all sources, persisted in the
// settings and merged with the service's lists. Main thread only.
class SipAccountManager : public QObject
{
    Q_OBJECT

public:
    static SipAccountManager* instance();

    QList<SipAccount*> accounts(SourceType::Type type, bool onlyChecked) const;
    SipAccount* accountAt(int index, SourceType::Type type) const;
    int accountsCount(SourceType::Type type) const;

    // Takes ownership of account.
    void addSipAccount(SipAccount* account);
    void removeSipAccount(SipAccount* account);
    void removeSipAccount(const QString& id);

    void save();
    void loadSipAccounts();
    void loadRemoteSipAccounts(SourceType::Type type);

    ~SipAccountManager() override;

signals:
    void sipAccountsChanged();

public slots:
    void onSipAccountChanged();

protected:
    explicit SipAccountManager(QObject* parent = nullptr);

private:
    Q_DISABLE_COPY(SipAccountManager)

    SipAccount* find(const QString& id, SourceType::Type type) const;
    void release(const QList<SipAccount*>& dropped);
    static QVariantList readStoredAccounts(bool& repaired);

    QList<SipAccount*> m_accounts;
    static SipAccountManager* m_instance;
};
