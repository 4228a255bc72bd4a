#include "KarvelonApi.h"
#include "PbxSimulator.h"
#include "SipAccount.h"
#include "SipAccountManager.h"
#include "SipAccountsTestAccess.h"
#include "Settings.h"
#include "TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

namespace {

const QString kPassword = QStringLiteral("merge-wachtwoord");

QJsonObject account(const QString& name, const QString& id, const QString& key = QString())
{
    QJsonObject object{{QStringLiteral("logname"), name}, {QStringLiteral("SIPusername"), id}};
    if (!key.isEmpty())
        object.insert(QStringLiteral("key"), key);
    return object;
}

QJsonObject customer(const QString& number, const QJsonArray& accounts)
{
    return QJsonObject{{QStringLiteral("number"), number},
                       {QStringLiteral("password"), kPassword},
                       {QStringLiteral("sipAccounts"), accounts}};
}

// One simulator for the whole run; each scenario is a customer of its own,
// so switching the customer number switches what the service lists.
QJsonObject simulatorConfig()
{
    QJsonArray customers{
        customer(QStringLiteral("1001"), {account(QStringLiteral("Kantoor"), QStringLiteral("201")),
                                          account(QStringLiteral("Receptie"), QStringLiteral("202"))}),
        // Keys 1 and 2: "Eerste" comes first, "Tweede" (same id) later.
        customer(QStringLiteral("1002"), {account(QStringLiteral("Eerste"), QStringLiteral("301"), QStringLiteral("1")),
                                          account(QStringLiteral("Tweede"), QStringLiteral("301"), QStringLiteral("2"))}),
        customer(QStringLiteral("1003"), {}),
        customer(QStringLiteral("1004"), {account(QStringLiteral("Plugin-toestel"), QStringLiteral("401"))}),
    };
    QJsonArray apis{
        QJsonObject{{QStringLiteral("apiID"), QStringLiteral("c2d")}, {QStringLiteral("key"), QStringLiteral("c2d-sleutel")},
                    {QStringLiteral("options"), QString()}},
        QJsonObject{{QStringLiteral("apiID"), QStringLiteral("outlook")},
                    {QStringLiteral("key"), QStringLiteral("outlook-sleutel")},
                    {QStringLiteral("options"), QStringLiteral("msoutlook")}},
    };
    return QJsonObject{{QStringLiteral("customers"), customers},
                       {QStringLiteral("apis"), apis},
                       {QStringLiteral("notificationLogins"), QJsonArray()},
                       {QStringLiteral("incomingCallEverySeconds"), 0}};
}

void setCustomer(const QString& number, const QString& password = kPassword)
{
    Settings settings;
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Number"), number);
    settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), password);
}

SipAccount* add(SipAccountManager* registry, SourceType::Type type, const QString& name, const QString& id,
                bool checked, bool isDefault = false)
{
    auto* account = new SipAccount(type, name, id, checked);
    account->setDefault(isDefault);
    registry->addSipAccount(account);
    return account;
}

// "name:id:checked" per record of the source, in registry order.
QStringList describe(SipAccountManager* registry, SourceType::Type type)
{
    QStringList result;
    for (SipAccount* account : registry->accounts(type, false))
        result << QStringLiteral("%1:%2:%3%4")
                      .arg(account->displayName(), account->id(), account->isChecked() ? QStringLiteral("v") : QStringLiteral("-"),
                           account->isDefault() ? QStringLiteral("d") : QString());
    return result;
}

} // namespace

class TestSipAccountMerge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        SourceType::registerMetaType();
        QVERIFY2(m_sim.start(simulatorConfig()), m_sim.output().constData());
        m_api = new KarvelonApi();
        KarvelonApi::ServiceUrls urls = m_api->serviceUrls();
        urls.apiBaseUrl = m_sim.apiBaseUrl();
        urls.notifyUrl = m_sim.notifyUrl();
        m_api->setServiceUrlsForTesting(urls);
    }

    void cleanupTestCase()
    {
        SipAccountManagerTestAccess::destroy();
        delete m_api;
    }

    void init()
    {
        QFile::remove(Settings().fileName());
        QVERIFY(m_sim.setBehaviour(QJsonObject()));
        m_api->setServiceUrlsForTesting(urlsFor(m_sim.apiBaseUrl()));
        m_api->setRequestTimeoutForTesting(10000);
        Settings settings;
        settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Id"), QStringLiteral("c2d"));
        settings.set(QStringLiteral("ClickToDial"), QStringLiteral("Key"), QStringLiteral("c2d-sleutel"));
        settings.set(QStringLiteral("OutlookPlugin"), QStringLiteral("Id"), QStringLiteral("outlook"));
        settings.set(QStringLiteral("OutlookPlugin"), QStringLiteral("Key"), QStringLiteral("outlook-sleutel"));
        setCustomer(QStringLiteral("1001"));
        m_registry = SipAccountManagerTestAccess::restart();
    }

    // A stored id that the service lists again is only renamed; its check and
    // default marks stay, and the change is stored and announced.
    void rename_keepsFlags_andAddsNewOnesUnchecked()
    {
        SipAccount* kept = add(m_registry, SourceType::ClickToDial, QStringLiteral("Oude naam"), QStringLiteral("201"),
                               true, true);
        QSignalSpy changed(m_registry, &SipAccountManager::sipAccountsChanged);
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);

        QCOMPARE(describe(m_registry, SourceType::ClickToDial),
                 (QStringList{QStringLiteral("Kantoor:201:vd"), QStringLiteral("Receptie:202:-")}));
        QCOMPARE(m_registry->accountAt(0, SourceType::ClickToDial), kept);
        QVERIFY(changed.count() >= 2);
        QVERIFY(m_registry->accounts(SourceType::ClickToDial, true) == QList<SipAccount*>{kept});

        // A restart finds the same.
        SipAccountManager* restarted = SipAccountManagerTestAccess::restart();
        QCOMPARE(describe(restarted, SourceType::ClickToDial),
                 (QStringList{QStringLiteral("Kantoor:201:vd"), QStringLiteral("Receptie:202:-")}));
    }

    // Identity is (id, source): an id stored for another source is not matched.
    void sameIdUnderAnotherSource_isANewRecord()
    {
        add(m_registry, SourceType::MsOutlook, QStringLiteral("Outlook-toestel"), QStringLiteral("201"), true);
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);

        QCOMPARE(describe(m_registry, SourceType::ClickToDial),
                 (QStringList{QStringLiteral("Kantoor:201:-"), QStringLiteral("Receptie:202:-")}));
        QCOMPARE(describe(m_registry, SourceType::MsOutlook), QStringList{QStringLiteral("Outlook-toestel:201:v")});
    }

    void duplicateRemoteIds_giveOneRecordWithTheLaterName()
    {
        setCustomer(QStringLiteral("1002"));
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);
        QCOMPARE(describe(m_registry, SourceType::ClickToDial), QStringList{QStringLiteral("Tweede:301:-")});
    }

    // Stale records of the source go, also several in a row; other sources
    // stay; the dropped records are released once the change was announced.
    void staleRecords_inARow_areRemovedAndReleased()
    {
        add(m_registry, SourceType::ClickToDial, QStringLiteral("Kantoor"), QStringLiteral("201"), true);
        QPointer<SipAccount> stale1 = add(m_registry, SourceType::ClickToDial, QStringLiteral("Oud 1"), QStringLiteral("901"), true);
        add(m_registry, SourceType::MsOutlook, QStringLiteral("Outlook"), QStringLiteral("902"), true);
        QPointer<SipAccount> stale2 = add(m_registry, SourceType::ClickToDial, QStringLiteral("Oud 2"), QStringLiteral("902"), false);
        QPointer<SipAccount> stale3 = add(m_registry, SourceType::ClickToDial, QStringLiteral("Oud 3"), QStringLiteral("903"), true);
        add(m_registry, SourceType::ClickToDial, QStringLiteral("Receptie"), QStringLiteral("202"), false);

        // A listener that rebuilds from the registry must never meet a dropped record.
        QStringList seenAfterLastChange;
        connect(m_registry, &SipAccountManager::sipAccountsChanged, this, [&] {
            seenAfterLastChange = describe(m_registry, SourceType::ClickToDial);
        });
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);

        const QStringList expected{QStringLiteral("Kantoor:201:v"), QStringLiteral("Receptie:202:-")};
        QCOMPARE(describe(m_registry, SourceType::ClickToDial), expected);
        QCOMPARE(seenAfterLastChange, expected);
        QCOMPARE(describe(m_registry, SourceType::MsOutlook), QStringList{QStringLiteral("Outlook:902:v")});
        AccountsTest::flushDeferredDeletes();
        QVERIFY(!stale1 && !stale2 && !stale3);

        QCOMPARE(describe(SipAccountManagerTestAccess::restart(), SourceType::ClickToDial), expected);
    }

    // Only a real answer replaces the stored accounts: a failed request keeps
    // every record with its marks, stores nothing and announces nothing.
    void failedRetrieval_keepsEverything_data()
    {
        QTest::addColumn<QJsonObject>("behaviour");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("unreachable");

        QTest::newRow("status 500") << QJsonObject{{QStringLiteral("status"), 500}} << kPassword << false;
        QTest::newRow("time-out") << QJsonObject{{QStringLiteral("delayMs"), 3000}} << kPassword << false;
        QTest::newRow("connection closed") << QJsonObject{{QStringLiteral("close"), true}} << kPassword << false;
        QTest::newRow("wrong password") << QJsonObject() << QStringLiteral("fout") << false;
        QTest::newRow("service unreachable") << QJsonObject() << kPassword << true;
    }

    void failedRetrieval_keepsEverything()
    {
        QFETCH(QJsonObject, behaviour);
        QFETCH(QString, password);
        QFETCH(bool, unreachable);

        add(m_registry, SourceType::ClickToDial, QStringLiteral("Eigen naam"), QStringLiteral("201"), true, true);
        add(m_registry, SourceType::ClickToDial, QStringLiteral("Weg bij de dienst"), QStringLiteral("999"), true);
        m_registry->save();

        setCustomer(QStringLiteral("1001"), password);
        QVERIFY(m_sim.setBehaviour(behaviour));
        m_api->setRequestTimeoutForTesting(500);
        if (unreachable) {
            // A port that was free a moment ago: nothing answers there.
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            const quint16 port = server.serverPort();
            server.close();
            m_api->setServiceUrlsForTesting(urlsFor(QStringLiteral("http://127.0.0.1:%1/api/").arg(port)));
        }
        const QByteArray storedAfterSetup = TestSupport::readFile(Settings().fileName());

        QSignalSpy changed(m_registry, &SipAccountManager::sipAccountsChanged);
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);

        QCOMPARE(changed.count(), 0);
        const QStringList expected{QStringLiteral("Eigen naam:201:vd"), QStringLiteral("Weg bij de dienst:999:v")};
        QCOMPARE(describe(m_registry, SourceType::ClickToDial), expected);
        QCOMPARE(TestSupport::readFile(Settings().fileName()), storedAfterSetup);
        QCOMPARE(describe(SipAccountManagerTestAccess::restart(), SourceType::ClickToDial), expected);
    }

    // An answer with no accounts is an answer: the source's records go.
    void emptySuccessfulList_removesTheSourcesRecords()
    {
        add(m_registry, SourceType::ClickToDial, QStringLiteral("Kantoor"), QStringLiteral("201"), true);
        add(m_registry, SourceType::AnyPlugin, QStringLiteral("Plug-in"), QStringLiteral("201"), true);
        setCustomer(QStringLiteral("1003"));
        QSignalSpy changed(m_registry, &SipAccountManager::sipAccountsChanged);
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);

        QCOMPARE(m_registry->accountsCount(SourceType::ClickToDial), 0);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(describe(m_registry, SourceType::AnyPlugin), QStringList{QStringLiteral("Plug-in:201:v")});
        QCOMPARE(SipAccountManagerTestAccess::restart()->accountsCount(SourceType::ClickToDial), 0);
    }

    // The start-up order: the plug-ins' list (Outlook's credentials), then
    // click-to-dial's, each into its own source.
    void startupMerges_fillEachSource()
    {
        m_registry->loadRemoteSipAccounts(SourceType::AnyPlugin);
        m_registry->loadRemoteSipAccounts(SourceType::ClickToDial);
        QCOMPARE(describe(m_registry, SourceType::AnyPlugin),
                 (QStringList{QStringLiteral("Kantoor:201:-"), QStringLiteral("Receptie:202:-")}));
        QCOMPARE(describe(m_registry, SourceType::ClickToDial),
                 (QStringList{QStringLiteral("Kantoor:201:-"), QStringLiteral("Receptie:202:-")}));

        bool sawPlugin = false;
        for (const QJsonValue& request : m_sim.requests()) {
            const QJsonObject entry = request.toObject();
            if (entry.value(QStringLiteral("endpoint")).toString() == QLatin1String("/api/ouctdpl.php")) {
                sawPlugin = true;
                QCOMPARE(entry.value(QStringLiteral("verdict")).toString(), QStringLiteral("ok"));
            }
        }
        QVERIFY(sawPlugin);
    }

private:
    KarvelonApi::ServiceUrls urlsFor(const QString& apiBaseUrl) const
    {
        KarvelonApi::ServiceUrls urls = m_api->serviceUrls();
        urls.apiBaseUrl = apiBaseUrl;
        return urls;
    }

    PbxSimulator m_sim;
    KarvelonApi* m_api = nullptr;
    SipAccountManager* m_registry = nullptr;
};

QTEST_GUILESS_MAIN(TestSipAccountMerge)
#include "test_sipaccountmerge.moc"
