#include "Settings.h"
#include "TestSupport.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>

namespace {

// Stands in for the SIP account records, which are kept as a list of a user
// type with stream operators.
struct StoredAccount
{
    QString name;
    QString id;
    bool checked = false;
    int source = 0;
    bool operator==(const StoredAccount& other) const
    {
        return name == other.name && id == other.id && checked == other.checked && source == other.source;
    }
};

QDataStream& operator<<(QDataStream& out, const StoredAccount& account)
{
    return out << account.name << account.id << account.checked << account.source;
}
QDataStream& operator>>(QDataStream& in, StoredAccount& account)
{
    return in >> account.name >> account.id >> account.checked >> account.source;
}

mode_t modeOf(const QString& path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return mode_t(-1);
    return st.st_mode & 07777;
}

} // namespace

Q_DECLARE_METATYPE(StoredAccount)

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::setApplicationIdentity();
        qRegisterMetaTypeStreamOperators<StoredAccount>("StoredAccount");
    }

    // Runs first, while no settings file exists yet.
    void freshUser_readsEmptyDefaults()
    {
        Settings settings;
        QVERIFY(!QFile::exists(settings.fileName()));
        QCOMPARE(settings.get(QStringLiteral("CustomerGroup"), QStringLiteral("Number")).toString(), QString());
        QCOMPARE(settings.get(QStringLiteral("Notifications"), QStringLiteral("Enabled")).toBool(), false);
        QVERIFY(settings.get(QStringLiteral("CustomerGroup"), QStringLiteral("SipAccounts")).toList().isEmpty());
        QVERIFY(!settings.get(QStringLiteral("ClickToDial"), QStringLiteral("Id")).isValid());
    }

    void fileLivesInPerUserConfigDirectory()
    {
        Settings settings;
        QCOMPARE(settings.fileName(), QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                                          QStringLiteral("/Karvelon/Karvelon.ini"));
        if (!TestSupport::testHome().isEmpty())
            QVERIFY(settings.fileName().startsWith(TestSupport::testHome()));
    }

    // Every value the program stores must read back as written, through a new object.
    void roundTrip_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        const QString customer = QStringLiteral("CustomerGroup");
        QTest::newRow("number with leading zero stays text")
            << customer << QStringLiteral("Number") << QVariant(QStringLiteral("0012345"));
        QTest::newRow("password with INI and JSON syntax")
            << customer << QStringLiteral("Password") << QVariant(QStringLiteral("a=b;c#d\"e\\f[g] %h @i"));
        QTest::newRow("password with comma is not a list")
            << customer << QStringLiteral("Password") << QVariant(QStringLiteral("Jansen, Piet"));
        QTest::newRow("password kept as typed, spaces and non-ASCII")
            << customer << QStringLiteral("Password") << QVariant(QStringLiteral("  g\u00E9heim \u20AC "));
        QTest::newRow("text that looks like a bool")
            << QStringLiteral("Notifications") << QStringLiteral("Username") << QVariant(QStringLiteral("true"));
        QTest::newRow("empty text") << QStringLiteral("ClickToDial") << QStringLiteral("Key") << QVariant(QString());
        QTest::newRow("bool true") << QStringLiteral("Notifications") << QStringLiteral("Enabled") << QVariant(true);
        QTest::newRow("bool false") << QStringLiteral("Notifications") << QStringLiteral("Enabled") << QVariant(false);
        QTest::newRow("hot key text") << QStringLiteral("ClickToDial") << QStringLiteral("Hotkey")
                                      << QVariant(QStringLiteral("Ctrl+Alt+F12"));
        QTest::newRow("default SIP id") << QStringLiteral("OutlookPlugin") << QStringLiteral("DefaultSip")
                                        << QVariant(QStringLiteral("203456"));
    }
    void roundTrip()
    {
        QFETCH(QString, group);
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        Settings().set(group, key, value);
        const QVariant readBack = Settings().get(group, key);
        if (value.userType() == QMetaType::Bool)
            QCOMPARE(readBack.toBool(), value.toBool());
        else
            QCOMPARE(readBack.toString(), value.toString());
    }

    void roundTrip_listOfUserTypeValues()
    {
        const StoredAccount first{QStringLiteral("Bureau \u00E9\u00E9n"), QStringLiteral("1001"), true, 0};
        const StoredAccount second{QStringLiteral("Mobiel, priv\u00E9"), QStringLiteral("1002"), false, 1024};
        Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("SipAccounts"),
                       QVariantList{QVariant::fromValue(first), QVariant::fromValue(second)});

        const QVariantList list =
            Settings().get(QStringLiteral("CustomerGroup"), QStringLiteral("SipAccounts")).toList();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0).userType(), qMetaTypeId<StoredAccount>());
        QCOMPARE(list.at(0).value<StoredAccount>(), first);
        QCOMPARE(list.at(1).value<StoredAccount>(), second);

        Settings().set(QStringLiteral("CustomerGroup"), QStringLiteral("SipAccounts"), QVariantList());
        QVERIFY(Settings().get(QStringLiteral("CustomerGroup"), QStringLiteral("SipAccounts")).toList().isEmpty());
    }

    // The file holds passwords in plain text: owner-only after every write, also
    // when it was created more open by someone else.
    void everyWrite_leavesFileOwnerOnly()
    {
        Settings settings;
        for (int i = 0; i < 5; ++i) {
            settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"),
                         QStringLiteral("geheim%1").arg(i));
            QCOMPARE(modeOf(settings.fileName()), mode_t(0600));
            QCOMPARE(modeOf(QFileInfo(settings.fileName()).absolutePath()), mode_t(0700));
        }
        QVERIFY(QFile::setPermissions(settings.fileName(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        Settings().set(QStringLiteral("Notifications"), QStringLiteral("Password"), QStringLiteral("ander"));
        QCOMPARE(modeOf(settings.fileName()), mode_t(0600));
        QCOMPARE(Settings().get(QStringLiteral("CustomerGroup"), QStringLiteral("Password")).toString(),
                 QStringLiteral("geheim4"));
        // Stored as typed, not encrypted.
        QVERIFY(TestSupport::readFile(settings.fileName()).contains("Password=geheim4"));
    }

    void pluginGroups_areSeparate_data()
    {
        QTest::addColumn<QString>("group");
        QTest::newRow("ClickToDial") << QStringLiteral("ClickToDial");
        QTest::newRow("OutlookPlugin") << QStringLiteral("OutlookPlugin");
        QTest::newRow("ThunderbirdPlugin") << QStringLiteral("ThunderbirdPlugin");
        QTest::newRow("AppleContactsPlugin") << QStringLiteral("AppleContactsPlugin");
    }
    void pluginGroups_areSeparate()
    {
        QFETCH(QString, group);
        const QStringList groups{QStringLiteral("ClickToDial"), QStringLiteral("OutlookPlugin"),
                                 QStringLiteral("ThunderbirdPlugin"), QStringLiteral("AppleContactsPlugin")};
        for (const QString& g : groups)
            Settings().set(g, QStringLiteral("Id"), QString());
        Settings().set(group, QStringLiteral("Id"), QStringLiteral("id-") + group);
        for (const QString& other : groups) {
            const QString expected = other == group ? QStringLiteral("id-") + group : QString();
            QCOMPARE(Settings().get(other, QStringLiteral("Id")).toString(), expected);
        }
    }

    // A source without a group reads and writes at the top level, never in a plug-in's group.
    void emptyGroup_isTopLevel()
    {
        Settings().set(QString(), QStringLiteral("Key"), QStringLiteral("los"));
        QCOMPARE(Settings().get(QString(), QStringLiteral("Key")).toString(), QStringLiteral("los"));
        for (const QString& group : {QStringLiteral("ClickToDial"), QStringLiteral("OutlookPlugin")})
            QVERIFY(Settings().get(group, QStringLiteral("Key")).toString() != QStringLiteral("los"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
