#include "Settings.h"
#include "TestSupport.h"

#include <QFile>
#include <sys/stat.h>
#include <QtTest>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::setApplicationIdentity(); }

    void freshUser_readsEmptyDefaults()
    {
        Settings settings;
        QCOMPARE(settings.get(QStringLiteral("CustomerGroup"), QStringLiteral("Number")).toString(), QString());
        QCOMPARE(settings.get(QStringLiteral("Notifications"), QStringLiteral("Enabled")).toBool(), false);
        QVERIFY(settings.get(QStringLiteral("CustomerGroup"), QStringLiteral("SipAccounts")).toList().isEmpty());
    }

    void set_isSeenByNewObject_andFileIsOwnerOnly()
    {
        {
            Settings settings;
            settings.set(QStringLiteral("CustomerGroup"), QStringLiteral("Password"), QStringLiteral("geheim é"));
        }
        Settings settings;
        QCOMPARE(settings.get(QStringLiteral("CustomerGroup"), QStringLiteral("Password")).toString(),
                 QStringLiteral("geheim é"));
        QVERIFY(settings.fileName().startsWith(TestSupport::testHome()));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(settings.fileName()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
    }

    void pluginGroups_areSeparate()
    {
        Settings settings;
        settings.set(QStringLiteral("OutlookPlugin"), QStringLiteral("Id"), QStringLiteral("out-1"));
        QCOMPARE(settings.get(QStringLiteral("ThunderbirdPlugin"), QStringLiteral("Id")).toString(), QString());
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
