#include "Settings.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>

namespace {
mode_t modeOf(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}
} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::setApplicationIdentity(); }

    // Every value the program stores reads back as written, through a new object.
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
        QTest::newRow("bool false") << QStringLiteral("Notifications") << QStringLiteral("Enabled") << QVariant(false);
        QTest::newRow("empty group is the top level")
            << QString() << QStringLiteral("DefaultSip") << QVariant(QStringLiteral("203456"));
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
        if (group.isEmpty())
            QVERIFY(!Settings().get(QStringLiteral("ClickToDial"), key).isValid());
    }

    // Passwords are stored as typed in a per-user file: owner-only after every write,
    // also when someone left it more open.
    void everyWrite_leavesFileOwnerOnly()
    {
        Settings settings;
        QCOMPARE(settings.fileName(), QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                                          QStringLiteral("/Karvelon/Karvelon.ini"));
        if (!TestSupport::testHome().isEmpty())
            QVERIFY(settings.fileName().startsWith(TestSupport::testHome()));
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
        QVERIFY(TestSupport::readFile(settings.fileName()).contains("Password=geheim4"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
