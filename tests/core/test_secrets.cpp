#include "KeyringDaemon.h"
#include "PrivateBus.h"
#include "SecretStore.h"
#include "ServiceConfig.h"
#include "Settings.h"
#include "TestSupport.h"
#include "WorkerThread.h"

#include <QtTest>

// One bus for the whole run, as a program has one session bus (libsecret keeps its connection): first a real
// gnome-keyring-daemon, then no Secret Service at all, then ones that fail, then one that never answers. The
// desktop claims to be Plasma 5 with a wallet that answers, which must not divert the secrets from the Secret Service.
namespace {
using Entries = QVector<SecretStore::Entry>;
using Place = SecretStore::Place;

QStringList g_debugOutput;
void recordDebugOutput(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_debugOutput << message, fprintf(stderr, "%s\n", qPrintable(message));
}
} // namespace

class TestSecrets : public QObject
{
    Q_OBJECT

    const QString kNoKeyring =
        "Geen sleutelbos beschikbaar (%1): wachtwoorden en sleutels blijven in het instellingenbestand.";
    PrivateBus m_bus;
    KeyringDaemon m_keyring;
    Entries m_used; // every secret handed to a store in this run

    // A secret per catalogue entry: an ASCII stem (found in any file, however it escapes the rest) and non-ASCII.
    static Entries secrets(const QString& tag)
    {
        Entries entries;
        for (const SecretStore::Name& name : SecretStore::names())
            entries.append({name.group, name.key, "geheim-" + tag + "-" + name.group + " caf\u00E9 \u20AC"});
        return entries;
    }
    static QByteArray stem(const SecretStore::Entry& entry) { return entry.value.section(' ', 0, 0).toUtf8(); }
    static QString nameOf(const SecretStore::Entry& entry) { return entry.group + "/" + entry.key; }
    static QByteArray iniBytes() { return TestSupport::readFile(Settings().fileName()); }
    void seedIni(const Entries& entries)
    {
        QFile::remove(Settings().fileName());
        Settings settings;
        settings.set("CustomerGroup", "Number", "0201234567"), settings.set("ClickToDial", "Id", "ctd-id");
        for (const SecretStore::Entry& entry : entries)
            settings.set(entry.group, entry.key, entry.value);
        m_used << entries;
    }
    // Loads the store, which must answer later; the log lines it wrote.
    static QStringList load(SecretStore& store)
    {
        const int before = TestSupport::logged().size();
        QSignalSpy loaded(&store, &SecretStore::loaded);
        store.load();
        if (store.isLoaded() || !QTest::qWaitFor([&]() { return loaded.count() == 1; }, 20000))
            return {"<not loaded, or not asynchronously>"};
        return TestSupport::logged().mid(before);
    }
    // Saves (loading the store meanwhile); where the values went, once saved() came back with the save's id.
    // Readers see the new values as soon as save() returns (or loading ends).
    static Place save(SecretStore& store, const Entries& entries, bool loadMeanwhile = false)
    {
        QSignalSpy saved(&store, &SecretStore::saved);
        const quint64 id = store.save(entries);
        bool ok = !loadMeanwhile || load(store).isEmpty();
        for (const SecretStore::Entry& entry : entries)
            ok = ok && store.secret(entry.group, entry.key) == entry.value;
        return ok && QTest::qWaitFor([&]() { return saved.count() == 1; }, 20000) && saved[0][0].toULongLong() == id
                   ? saved[0][1].value<Place>()
                   : Place(-1);
    }
    // The files under the throw-away home, XDG and runtime directories that hold one of the secrets in clear.
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

    // Out of the settings file into the keyring, checked with secret-tool; the other values stay.
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
    }

    // A save replaces a value, and an empty one removes it, in the keyring and any copy left in the settings file
    // (a save made before loading ends waits for it); the next start sees the same. Then no file but the keyring's
    // own, and no debug output, holds a secret in clear.
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
            QCOMPARE(save(store, saves[start], start == 1), Place::Keyring);
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

        QVERIFY(QFile::exists(qEnvironmentVariable("XDG_DATA_HOME") + "/keyrings/login.keyring"));
        QCOMPARE(filesHoldingASecret(), QStringList());
        for (const SecretStore::Entry& entry : qAsConst(m_used))
            QVERIFY2(!g_debugOutput.join('\n').contains(stem(entry)), qPrintable(g_debugOutput.join('\n')));
    }

    // No Secret Service, one that refuses to store, one that says it stored and then finds nothing: the settings
    // file stays byte for byte as it was and serves the secrets, one log line says why, nothing of QtKeychain's own
    // holds them. A save goes where the keyring lets it, an empty one clears both.
    void keyringMissingOrFailing_leavesTheSettingsFileAsItWas_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<Place>("savedIn");
        QTest::newRow("none") << ""
                              << kNoKeyring.arg(
                                     "The name org.freedesktop.secrets was not provided by any .service files")
                              << Place::IniFile;
        const QString notMoved = "Wachtwoorden en sleutels konden niet naar de sleutelbos worden verplaatst "
                                 "(CustomerGroup/Password: %1); ze blijven in het instellingenbestand.";
        QTest::newRow("refuses") << "refuse-writes" << notMoved.arg("refused") << Place::IniFile;
        QTest::newRow("loses") << "lose-writes" << notMoved.arg("Entry not found") << Place::Keyring;
    }
    void keyringMissingOrFailing_leavesTheSettingsFileAsItWas()
    {
        QFETCH(QString, answer);
        QFETCH(QString, logged);
        QFETCH(Place, savedIn);
        QVERIFY(m_keyring.stop());
        QProcess* mock = answer.isEmpty() ? nullptr
                                          : m_bus.startMock(KARVELON_MOCK_DIR "/secret_service.py",
                                                            "org.freedesktop.secrets", {{"answer", answer}});
        QVERIFY(answer.isEmpty() || mock);
        const Entries seeded = secrets(QTest::currentDataTag());
        seedIni(seeded);
        const QByteArray before = iniBytes();
        SecretStore store{ServiceConfig()};
        QCOMPARE(load(store), QStringList{logged});
        QCOMPARE(iniBytes(), before);
        for (const SecretStore::Entry& entry : seeded)
            QCOMPARE(store.secret(entry.group, entry.key), entry.value);
        const QString fresh = "geheim-bewaard-" + QString(QTest::currentDataTag());
        m_used << Entries{{"", "", fresh}};
        QCOMPARE(save(store, {{"CustomerGroup", "Password", fresh}, {"Notifications", "Password", ""}}), savedIn);
        QCOMPARE(Settings().contains("CustomerGroup", "Password"), savedIn == Place::IniFile);
        QVERIFY(!Settings().contains("Notifications", "Password"));
        QCOMPARE(store.secret("CustomerGroup", "Password"), fresh);
        QCOMPARE(store.secret("Notifications", "Password"), QString());
        for (const QString& found : filesHoldingASecret())
            QVERIFY2(found.startsWith("config/Karvelon/Karvelon.ini:"), qPrintable(found));
        if (mock)
            m_bus.stop(mock);
    }

    // A Secret Service that takes the calls and never answers: loading ends at the (short) bound, on the settings
    // file, and a reader on another thread that waited for it gets the secret then. A save to a keyring that
    // answered at start-up and no longer does ends at the bound too, in the settings file.
    void keyringNeverAnswering_endsAtTheBound()
    {
        ServiceConfig config;
        config.keyringWaitMsecs = 2000;
        QProcess* answering = m_bus.startMock(KARVELON_MOCK_DIR "/secret_service.py", "org.freedesktop.secrets",
                                              {{"answer", "lose-writes"}});
        QVERIFY(answering);
        seedIni({{"CustomerGroup", "Password", "geheim-wacht-6"}});
        SecretStore early{config};
        QCOMPARE(load(early).size(), 1);
        m_bus.stop(answering);
        QVERIFY(
            m_bus.startMock(KARVELON_MOCK_DIR "/secret_service.py", "org.freedesktop.secrets", {{"answer", "never"}}));
        SecretStore store{config};
        WorkerThread worker;
        QObject* reader = nullptr;
        std::atomic<int> answers{0};
        QString seen;
        worker.run([&]() {
            reader = new QObject;
            store.whenLoaded(reader, [&]() { seen = store.secret("CustomerGroup", "Password"), ++answers; });
        });
        QCOMPARE(load(store), QStringList{kNoKeyring.arg("geen antwoord binnen 2 seconden")});
        QTRY_COMPARE(answers.load(), 1);
        QCOMPARE(seen, "geheim-wacht-6");
        QCOMPARE(save(early, {{"ClickToDial", "Key", "geheim-wacht-7"}}), Place::IniFile);
        QCOMPARE(Settings().get("ClickToDial", "Key").toString(), "geheim-wacht-7");
        worker.run([&]() { delete reader; });
    }
};

QTEST_GUILESS_MAIN(TestSecrets)
#include "test_secrets.moc"
