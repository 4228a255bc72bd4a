#pragma once

#include "SipAccountList.h"
#include "SourceType.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>

class SipAccount;

// Every SIP account known to the program, of all sources, persisted in the
// settings and merged with the service's lists when they arrive, and the
// rules of which account a call uses. Main thread only.
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
    // Asks for the service's list of the source's accounts (refreshRequested);
    // it is merged when it arrives.
    void requestRefresh(SourceType::Type type);

    // The rules of which account a call uses, in one place:
    // - the default of a source is its "DefaultSip" (click-to-dial's for a
    //   source without credentials of its own);
    static QString defaultAccountId(SourceType::Type source);
    static void setDefaultAccountId(SourceType::Type source, const QString& id);
    // - a call may use the source's checked accounts, and a choice ("Bel met",
    //   an account list) is offered only between two or more of them;
    QList<SipAccount*> callableAccounts(SourceType::Type source) const;
    bool offersChoice(SourceType::Type source) const;
    // - a window preselects preferred when it may be used, else the default
    //   when it may be used, else the first that may (empty: none); the SIP
    //   account dialog offers and stores its default by the same rule;
    QString preselectedAccountId(SourceType::Type source, const QString& preferred = QString()) const;
    // - a call uses the account chosen for it, or else the default.
    static QString accountForCall(SourceType::Type source, const QString& chosen);

    ~SipAccountManager() override;

signals:
    void sipAccountsChanged();
    void refreshRequested(SourceType::Type type);

public slots:
    void onSipAccountChanged();
    // A list the service sent: replaces the source's accounts, keeping the
    // check marks of those that stay. A failed fetch (ok false) changes nothing.
    void onSipAccountsFetched(SourceType::Type type, bool ok, const SipAccountList& remote);

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
