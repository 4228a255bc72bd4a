#include "KeyringDaemon.h"
#include "PrivateBus.h"
#include "SecretStore.h"
#include "ServiceConfig.h"
#include "Settings.h"
#include "TestSupport.h"
#include "WorkerThread.h"

#include <QtTest>

// One bus for the whole run, as a program has one session bus (libsecret keeps its connection): first a real
// gnome-keyring-daemon, then no Secret Service at all, then one that refuses to store, then one that never answers.
// The desktop claims to be Plasma 5 with a wallet that answers, which must not divert the secrets from the
// Secret Service.
namespace {
using Entries = QVector<SecretStore::Entry>;

QStringList g_debugOutput;
void recordDebugOutput(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_debugOutput << message;
    fprintf(stderr, "%s\n", qPrintable(message));
}

// A secret per catalogue entry: an ASCII stem (found in any file, however it escapes the rest) and non-ASCII.
Entries secrets(const QString& tag)
{
    Entries entries;
    for (const SecretStore::Name& name : SecretStore::names())
        entries.append({name.group, name.key, "geheim-" + tag + "-" + name.group + " caf\u00E9 \u20AC"});
    return entries;
}
QByteArray stem(const SecretStore::Entry& entry)
{
    return entry.value.section(' ', 0, 0).toUtf8();
}
QString iniFile()
{
    return Settings().fileName();
}
QByteArray iniBytes()
{
    return TestSupport::readFile(iniFile());
}
} // namespace

class TestSecrets : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;
    KeyringDaemon m_keyring;
    Entries m_used; // every secret handed to a store in this run

    void seedIni(const Entries& entries)
    {
        QFile::remove(iniFile());
        Settings settings;
        settings.set("CustomerGroup", "Number", "0201234567");
        settings.set("ClickToDial", "Id", "ctd-id");
        for (const SecretStore::Entry& entry : entries)
            settings.set(entry.group, entry.key, entry.value);
        m_used << entries;
    }
    // Loads a store made with the given bound; the log lines it wrote.
    static QStringList load(SecretStore& store)
    {
        const int before = TestSupport::logged().size();
        QSignalSpy loaded(&store, &SecretStore::loaded);
        store.load();
        if (store.isLoaded() || !QTest::qWaitFor([&]() { return loaded.count() == 1; }, 20000))
            return {"<not loaded, or not asynchronously>"};
        return TestSupport::logged().mid(before);
    }
    static SecretStore::Place save(SecretStore& store, const Entries& entries)
    {
        QSignalSpy saved(&store, &SecretStore::saved);
        const quint64 id = store.save(entries);
        return saved.wait(20000) && saved.first().value(0).toULongLong() == id
                   ? saved.first().value(1).value<SecretStore::Place>()
                   : SecretStore::Place(-1);
    }
    static QString nameOf(const SecretStore::Entry& entry) { return entry.group + "/" + entry.key; }
    // The files under the throw-away home and its XDG and runtime directories that hold one of the secrets in clear.
    QStringList filesHoldingASecret() const
    {
        QStringList found;
        QDirIterator it(TestSupport::testHome(), QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QByteArray content = TestSupport::readFile(path);
            for (const SecretStore::Entry& entry : m_used) {
                if (!path.endsWith(".keyring") && content.contains(stem(entry)))
                    found << QDir(TestSupport::testHome()).relativeFilePath(path) + ":" + stem(entry);
            }
        }
        found.removeDuplicates();
        return found;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(!TestSupport::testHome().isEmpty());
        qInstallMessageHandler(recordDebugOutput);
        TestSupport::setApplicationIdentity();
        QVERIFY(m_bus.start());
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
        qputenv("XDG_CURRENT_DESKTOP", "KDE"), qputenv("KDE_SESSION_VERSION", "5");
        QVERIFY(m_bus.startMock(KARVELON_MOCK_DIR "/kwalletd5.py", "org.kde.kwalletd5"));
        QVERIFY(m_keyring.start(m_bus));
    }

    // Out of the settings file into the keyring, checked with secret-tool; the other values stay. The next start
    // reads them from the keyring and moves nothing.
    void migration_movesEverySecretIntoTheKeyring()
    {
        const Entries seeded = secrets("m");
        seedIni(seeded);
        SecretStore store{ServiceConfig()};
        QCOMPARE(load(store),
                 QStringList{"Wachtwoorden en sleutels zijn naar de sleutelbos van het bureaublad verplaatst."});
        QCOMPARE(store.mode(), SecretStore::Mode::Keyring);
        QCOMPARE(qgetenv("KDE_SESSION_VERSION"), QByteArray("5")); // only hidden while QtKeychain chose
        const QByteArray ini = iniBytes();
        QVERIFY(ini.contains("Number=0201234567") && ini.contains("Id=ctd-id"));
        for (const SecretStore::Entry& entry : seeded) {
            QVERIFY2(!ini.contains(stem(entry)), ini.constData());
            QCOMPARE(m_keyring.lookup(nameOf(entry)), entry.value);
            QCOMPARE(store.secret(entry.group, entry.key), entry.value);
        }
        SecretStore next{ServiceConfig()};
        QCOMPARE(load(next), QStringList());
        QCOMPARE(iniBytes(), ini);
        for (const SecretStore::Entry& entry : seeded)
            QCOMPARE(next.secret(entry.group, entry.key), entry.value);
    }

    // A save replaces a value, and an empty one removes it, in the keyring and any copy left in the settings file;
    // the next start sees the same. A save made before loading ends waits for it.
    void save_storesInTheKeyringAndEmptyRemovesEverywhere()
    {
        const Entries copies{{"CustomerGroup", "Password", "geheim-kopie-1"}, {"ClickToDial", "Key", "geheim-kopie-2"}};
        const Entries saves[] = {{{"CustomerGroup", "Password", "geheim-nieuw-3"},
                                  {"Notifications", "Password", ""},
                                  {"ClickToDial", "Key", ""},
                                  {"ThunderbirdPlugin", "Key", ""}},
                                 {{"OutlookPlugin", "Key", "geheim-vroeg-4"}}};
        m_used << copies << saves[0].first() << saves[1].first();
        for (int start = 0; start < 2; ++start) {
            SecretStore store{ServiceConfig()};
            if (start == 0) {
                QCOMPARE(load(store), QStringList());
                for (const SecretStore::Entry& copy : copies)
                    Settings().set(copy.group, copy.key, copy.value);
            }
            QSignalSpy done(&store, &SecretStore::saved);
            const quint64 id = store.save(saves[start]);
            if (start == 1)
                QCOMPARE(load(store), QStringList());
            QTRY_COMPARE(done.count(), 1);
            QCOMPARE(done.first(), (QVariantList{id, QVariant::fromValue(SecretStore::Place::Keyring)}));
            for (const SecretStore::Entry& entry : saves[start]) {
                QCOMPARE(m_keyring.lookup(nameOf(entry)), entry.value);
                QCOMPARE(store.secret(entry.group, entry.key), entry.value);
                QVERIFY(!Settings().contains(entry.group, entry.key));
            }
        }
        SecretStore next{ServiceConfig()};
        QCOMPARE(load(next), QStringList());
        QCOMPARE(next.secret("Notifications", "Password"), QString());
        QCOMPARE(next.secret("CustomerGroup", "Password"), "geheim-nieuw-3");
        QCOMPARE(next.secret("AppleContactsPlugin", "Key"), secrets("m").last().value);
    }

    // Neither the settings file, the log, QtKeychain's own fallback file nor the debug output holds one in clear.
    void afterMoving_noFileNorDebugOutputHoldsASecret()
    {
        QVERIFY(QFile::exists(qEnvironmentVariable("XDG_DATA_HOME") + "/keyrings/login.keyring"));
        QCOMPARE(filesHoldingASecret(), QStringList());
        for (const SecretStore::Entry& entry : qAsConst(m_used))
            QVERIFY2(!g_debugOutput.join('\n').contains(stem(entry)), qPrintable(g_debugOutput.join('\n')));
    }

    // No Secret Service on the bus: the settings file as before, one line saying why, and saves go there (0600).
    void noKeyring_keepsTheSettingsFileWithOneLogLine()
    {
        QVERIFY(m_keyring.stop());
        const Entries seeded = secrets("n");
        seedIni(seeded);
        const QByteArray before = iniBytes();
        SecretStore store{ServiceConfig()};
        const QStringList logged = load(store);
        QCOMPARE(logged.size(), 1);
        QVERIFY2(logged.first().startsWith("Geen sleutelbos beschikbaar (") && logged.first().contains("secrets"),
                 qPrintable(logged.first()));
        QCOMPARE(store.mode(), SecretStore::Mode::IniFile);
        QCOMPARE(iniBytes(), before);
        for (const SecretStore::Entry& entry : seeded)
            QCOMPARE(store.secret(entry.group, entry.key), entry.value);
        QCOMPARE(save(store, {{"CustomerGroup", "Password", "geheim-ini-3"}, {"Notifications", "Password", ""}}),
                 SecretStore::Place::IniFile);
        m_used << Entries{{"", "", "geheim-ini-3"}};
        QCOMPARE(Settings().get("CustomerGroup", "Password").toString(), "geheim-ini-3");
        QVERIFY(!Settings().contains("Notifications", "Password"));
        QCOMPARE(QFileInfo(iniFile()).permissions() & 0x77, QFile::Permissions());
        QCOMPARE(store.secret("CustomerGroup", "Password"), "geheim-ini-3");
        QCOMPARE(store.secret("Notifications", "Password"), QString());
        // Only the settings file holds them: nothing of QtKeychain's own.
        for (const QString& found : filesHoldingASecret())
            QVERIFY2(found.startsWith("config/Karvelon/Karvelon.ini:"), qPrintable(found));
    }

    // A keyring that refuses to store, or says it stored and then finds nothing: the settings file stays byte for
    // byte as it was and keeps serving the secrets. A later save goes where the keyring lets it.
    void keyringFailingDuringMigration_leavesTheSettingsFileAsItWas_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<SecretStore::Place>("savedIn");
        QTest::newRow("refuses") << "refuse-writes" << SecretStore::Place::IniFile;
        QTest::newRow("loses") << "lose-writes" << SecretStore::Place::Keyring;
    }
    void keyringFailingDuringMigration_leavesTheSettingsFileAsItWas()
    {
        QFETCH(QString, answer);
        QFETCH(SecretStore::Place, savedIn);
        QProcess* mock =
            m_bus.startMock(KARVELON_MOCK_DIR "/secret_service.py", "org.freedesktop.secrets", {{"answer", answer}});
        QVERIFY(mock);
        const Entries seeded = secrets("f");
        seedIni(seeded);
        const QByteArray before = iniBytes();
        SecretStore store{ServiceConfig()};
        const QStringList logged = load(store);
        QCOMPARE(logged.size(), 1);
        QVERIFY2(logged.first().startsWith("Wachtwoorden en sleutels konden niet naar de sleutelbos"),
                 qPrintable(logged.first()));
        QCOMPARE(iniBytes(), before);
        for (const SecretStore::Entry& entry : seeded)
            QCOMPARE(store.secret(entry.group, entry.key), entry.value);
        QCOMPARE(save(store, {{"OutlookPlugin", "Key", "geheim-fout-5"}}), savedIn);
        QCOMPARE(Settings().contains("OutlookPlugin", "Key"), savedIn == SecretStore::Place::IniFile);
        m_bus.stop(mock);
    }

    // A Secret Service that takes the calls and never answers: loading ends at the (short) bound, on the settings
    // file, and a reader on another thread that waited for it gets the secret then; one asking later, at once.
    void keyringNeverAnswering_endsAtTheBound()
    {
        QVERIFY(
            m_bus.startMock(KARVELON_MOCK_DIR "/secret_service.py", "org.freedesktop.secrets", {{"answer", "never"}}));
        seedIni({{"CustomerGroup", "Password", "geheim-wacht-6"}});
        ServiceConfig config;
        config.keyringWaitMsecs = 2000;
        SecretStore store{config};
        WorkerThread worker;
        QObject* reader = nullptr;
        std::atomic<int> answers{0};
        QString seen;
        worker.run([&]() {
            reader = new QObject;
            store.whenLoaded(reader, [&]() { seen = store.secret("CustomerGroup", "Password"), ++answers; });
        });
        QCOMPARE(load(store),
                 QStringList{"Geen sleutelbos beschikbaar (geen antwoord binnen 2 seconden): wachtwoorden en "
                             "sleutels blijven in het instellingenbestand."});
        QCOMPARE(store.mode(), SecretStore::Mode::IniFile);
        QTRY_COMPARE(answers.load(), 1);
        QCOMPARE(seen, "geheim-wacht-6");
        worker.run([&]() { store.whenLoaded(reader, [&]() { ++answers; }); });
        QTRY_COMPARE(answers.load(), 2);
        worker.run([&]() { delete reader; });
    }
};

QTEST_GUILESS_MAIN(TestSecrets)
#include "test_secrets.moc"
