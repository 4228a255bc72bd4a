#include "SecretStore.h"

#include "Logger.h"
#include "ServiceConfig.h"
#include "Settings.h"
#include "SettingsKeys.h"
#include "SourceType.h"

#include <qt5keychain/keychain.h>

#include <algorithm>
#include <atomic>

namespace {

const QString kService = QStringLiteral("Karvelon");
const QString kComponent = QStringLiteral("Instellingen");

// The keyring's name of an entry, and the memory's.
QString entryKey(const QString& group, const QString& key)
{
    return group + QLatin1Char('/') + key;
}

void log(Logger::Severity severity, const QString& message)
{
    Logger::instance()->log(severity, kComponent, message);
}

// A keyring's error in one line: some services send a whole traceback.
QString errorOf(const QKeychain::Job* job)
{
    return job->errorString().section(QLatin1Char('\n'), 0, 0).trimmed();
}

// QtKeychain 0.13 picks its backend once per process, when its first job
// starts, from the desktop's variables: a KDE 4 or Plasma 5 session gets
// KWallet's own interface (Plasma 5 after a blocking D-Bus call to kwalletd5),
// every other desktop the Secret Service through libsecret. The secrets belong
// in the Secret Service on every desktop (kwalletd5 serves it too), so the two
// variables that lead to KWallet read as empty while the first job starts. An
// idle queue starts a job at once, so they are back before this returns.
void startJob(QKeychain::Job* job)
{
    static std::atomic_bool backendChosen{false};
    if (backendChosen.exchange(true)) {
        job->start();
        return;
    }
    struct Variable
    {
        const char* name;
        QByteArray value;
    };
    Variable hidden[] = {{"KDE_SESSION_VERSION", {}}, {"DESKTOP_SESSION", {}}};
    for (Variable& variable : hidden) {
        variable.value = qgetenv(variable.name);
        if (!variable.value.isEmpty())
            qputenv(variable.name, QByteArray());
    }
    QMetaObject::invokeMethod(job, "doStart", Qt::DirectConnection);
    for (const Variable& variable : hidden) {
        if (!variable.value.isEmpty())
            qputenv(variable.name, variable.value);
    }
}

} // namespace

const QVector<SecretStore::Name>& SecretStore::names()
{
    using namespace SettingsKeys;
    static const QVector<Name> secrets = {
        {kCustomerGroup, kPassword},
        {kNotificationsGroup, kPassword},
        {kClickToDialGroup, kKey},
        {SourceType::settingsGroup(SourceType::MsOutlook), kKey},
        {SourceType::settingsGroup(SourceType::Thunderbird), kKey},
        {SourceType::settingsGroup(SourceType::AppleContacts), kKey},
    };
    return secrets;
}

bool SecretStore::isSecret(const QString& group, const QString& key)
{
    return std::any_of(names().cbegin(), names().cend(),
                       [&](const Name& name) { return name.group == group && name.key == key; });
}

SecretStore::SecretStore(const ServiceConfig& config, QObject* parent)
    : QObject(parent), m_boundMsecs(config.keyringWaitMsecs)
{
    qRegisterMetaType<SecretStore::Place>("SecretStore::Place");
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, &SecretStore::onBoundPassed);
}

// Jobs still running are not ours to delete: QtKeychain hands them to libsecret's
// call-backs, and they delete themselves when those come.
SecretStore::~SecretStore() = default;

void SecretStore::load()
{
    if (m_started)
        return;
    m_started = true;
    Settings settings;
    for (const Name& name : names()) {
        const QString value = settings.get(name.group, name.key).toString();
        if (!value.isEmpty())
            m_fromIni.insert(entryKey(name.group, name.key), value);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_memory = m_fromIni;
    }
    ++m_generation;
    m_bound.start(m_boundMsecs);
    // From the event loop: a keyring that fails at once must not answer inside load().
    QMetaObject::invokeMethod(
        this,
        [this, generation = m_generation]() {
            if (generation == m_generation)
                readNext(0);
        },
        Qt::QueuedConnection);
}

bool SecretStore::isLoaded() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_loaded;
}

QString SecretStore::secret(const QString& group, const QString& key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_memory.value(entryKey(group, key));
}

void SecretStore::whenLoaded(QObject* context, std::function<void()> done)
{
    // Under the lock, so loading cannot end between the look and the connection.
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_loaded)
        QMetaObject::invokeMethod(context, std::move(done), Qt::QueuedConnection);
    else
        connect(this, &SecretStore::loaded, context, std::move(done), Qt::QueuedConnection);
}

SecretStore::Mode SecretStore::mode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mode;
}

QString SecretStore::reason() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reason;
}

QString SecretStore::whyMissing(const QString& group, const QString& key) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_memory.value(entryKey(group, key)).isEmpty())
        return QString();
    if (m_mode != Mode::IniFile)
        return QStringLiteral("%1 is niet ingesteld").arg(entryKey(group, key));
    // It may well be set, in a keyring that is out of reach this run.
    return QStringLiteral("%1 is niet ingesteld, of staat in een sleutelbos die niet beschikbaar is (%2)")
        .arg(entryKey(group, key), m_reason);
}

void SecretStore::runJob(QKeychain::Job* job, Step next)
{
    // QtKeychain's own fallback would keep the secret in a QSettings file of its
    // own; where the keyring fails, ours is the settings file.
    job->setInsecureFallback(false);
    job->setAutoDelete(true);
    const quint64 generation = m_generation;
    connect(job, &QKeychain::Job::finished, this, [this, generation, next](QKeychain::Job* done) {
        if (generation == m_generation)
            next(done);
    });
    startJob(job);
}

void SecretStore::readNext(int index)
{
    if (index == names().size()) {
        m_toMove.clear();
        for (const Name& name : names()) {
            if (m_fromIni.contains(entryKey(name.group, name.key)))
                m_toMove.append({name.group, name.key, m_fromIni.value(entryKey(name.group, name.key))});
        }
        if (m_toMove.isEmpty())
            finishLoading(Mode::Keyring);
        else
            writeNext(0);
        return;
    }
    const QString key = entryKey(names()[index].group, names()[index].key);
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(key);
    runJob(job, [this, index, key](QKeychain::Job* done) {
        if (done->error() == QKeychain::NoError)
            m_fromKeyring.insert(key, static_cast<QKeychain::ReadPasswordJob*>(done)->textData());
        else if (done->error() != QKeychain::EntryNotFound)
            return finishLoading(Mode::IniFile, errorOf(done));
        readNext(index + 1);
    });
}

// Moving: every secret of the settings file is written, then read back and
// compared, and only when all came back the same are they taken out of the file.
void SecretStore::writeNext(int index)
{
    if (index == m_toMove.size())
        return readBackNext(0);
    const Entry& entry = m_toMove[index];
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setKey(entryKey(entry.group, entry.key));
    job->setTextData(entry.value);
    runJob(job, [this, index](QKeychain::Job* done) {
        if (done->error() != QKeychain::NoError)
            return migrationFailed(entryKey(m_toMove[index].group, m_toMove[index].key) + QStringLiteral(": ") +
                                   errorOf(done));
        writeNext(index + 1);
    });
}

void SecretStore::readBackNext(int index)
{
    if (index == m_toMove.size()) {
        QVector<QPair<QString, QString>> moved;
        for (const Entry& entry : qAsConst(m_toMove))
            moved.append({entry.group, entry.key});
        if (!Settings().remove(moved))
            return migrationFailed(QStringLiteral("het instellingenbestand kon niet worden bijgewerkt"));
        for (const Entry& entry : qAsConst(m_toMove))
            m_fromKeyring.insert(entryKey(entry.group, entry.key), m_fromIni.take(entryKey(entry.group, entry.key)));
        log(Logger::Info,
            QStringLiteral("Wachtwoorden en sleutels zijn naar de sleutelbos van het bureaublad verplaatst."));
        return finishLoading(Mode::Keyring);
    }
    const QString key = entryKey(m_toMove[index].group, m_toMove[index].key);
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(key);
    runJob(job, [this, index, key](QKeychain::Job* done) {
        if (done->error() != QKeychain::NoError)
            return migrationFailed(key + QStringLiteral(": ") + errorOf(done));
        if (static_cast<QKeychain::ReadPasswordJob*>(done)->textData() != m_toMove[index].value)
            return migrationFailed(key + QStringLiteral(" kwam anders terug uit de sleutelbos"));
        readBackNext(index + 1);
    });
}

// The settings file is left as it was, and its secrets win over the keyring's
// copies; the keyring keeps serving what is only there.
void SecretStore::migrationFailed(const QString& why)
{
    log(Logger::Warning, QStringLiteral("Wachtwoorden en sleutels konden niet naar de sleutelbos worden verplaatst "
                                        "(%1); ze blijven in het instellingenbestand.")
                             .arg(why));
    finishLoading(Mode::Keyring);
}

void SecretStore::finishLoading(Mode mode, const QString& reason)
{
    m_bound.stop();
    ++m_generation;
    QHash<QString, QString> memory = m_fromKeyring;
    for (auto it = m_fromIni.cbegin(); it != m_fromIni.cend(); ++it)
        memory.insert(it.key(), it.value());
    // Saves made while loading are newer than both.
    for (const Save& save : qAsConst(m_saves)) {
        for (const Entry& entry : save.entries) {
            if (entry.value.isEmpty())
                memory.remove(entryKey(entry.group, entry.key));
            else
                memory.insert(entryKey(entry.group, entry.key), entry.value);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_loaded = true;
        m_mode = mode;
        m_reason = reason;
        m_memory = memory;
    }
    if (mode == Mode::IniFile) {
        log(Logger::Warning,
            QStringLiteral(
                "Geen sleutelbos beschikbaar (%1): wachtwoorden en sleutels blijven in het instellingenbestand.")
                .arg(reason));
    }
    emit loaded();
    startNextSave();
}

void SecretStore::onBoundPassed()
{
    const QString why = QStringLiteral("geen antwoord binnen %1 seconden").arg((m_boundMsecs + 999) / 1000);
    if (!isLoaded())
        return finishLoading(Mode::IniFile, why);
    if (m_saves.isEmpty())
        return;
    // A save waiting on the keyring: what is left of it goes to the settings file.
    ++m_generation;
    Save& save = m_saves.first();
    log(Logger::Warning, QStringLiteral("De sleutelbos gaf %1; wachtwoorden en sleutels worden in het "
                                        "instellingenbestand bewaard.")
                             .arg(why));
    for (int i = m_saveIndex; i < save.entries.size(); ++i)
        keepInIni(save.entries[i]);
    save.place = Place::IniFile;
    finishSave();
}

quint64 SecretStore::save(const QVector<Entry>& entries)
{
    m_saves.append({++m_lastSaveId, entries, Place::Keyring});
    // Readers on other threads see the new values from here on (once loaded:
    // loading itself lays pending saves over what it found).
    if (isLoaded()) {
        for (const Entry& entry : entries)
            setMemory(entry.group, entry.key, entry.value);
    }
    // Queued, so that saved() never comes before the caller has its id.
    if (m_saves.size() == 1 && isLoaded())
        QMetaObject::invokeMethod(this, &SecretStore::startNextSave, Qt::QueuedConnection);
    return m_lastSaveId;
}

void SecretStore::startNextSave()
{
    if (m_saves.isEmpty())
        return;
    Save& save = m_saves.first();
    if (mode() == Mode::IniFile) {
        for (const Entry& entry : qAsConst(save.entries))
            keepInIni(entry);
        save.place = Place::IniFile;
        return finishSave();
    }
    ++m_generation;
    m_bound.start(m_boundMsecs);
    saveNext(0);
}

void SecretStore::saveNext(int index)
{
    m_saveIndex = index;
    const QVector<Entry>& entries = m_saves.first().entries;
    if (index == entries.size())
        return finishSave();
    const Entry entry = entries[index];
    QKeychain::Job* job;
    if (entry.value.isEmpty()) {
        job = new QKeychain::DeletePasswordJob(kService);
    } else {
        auto* write = new QKeychain::WritePasswordJob(kService);
        write->setTextData(entry.value);
        job = write;
    }
    job->setKey(entryKey(entry.group, entry.key));
    runJob(job, [this, index, entry](QKeychain::Job* done) {
        const bool failed = done->error() != QKeychain::NoError &&
                            !(entry.value.isEmpty() && done->error() == QKeychain::EntryNotFound);
        if (failed && entry.value.isEmpty()) {
            log(Logger::Warning, QStringLiteral("%1 kon niet uit de sleutelbos worden verwijderd (%2).")
                                     .arg(entryKey(entry.group, entry.key), errorOf(done)));
        } else if (failed) {
            log(Logger::Warning, QStringLiteral("%1 kon niet in de sleutelbos worden bewaard (%2); het staat in het "
                                                "instellingenbestand.")
                                     .arg(entryKey(entry.group, entry.key), errorOf(done)));
            m_saves.first().place = Place::IniFile;
            keepInIni(entry);
            return saveNext(index + 1);
        }
        // In the keyring (or gone from it): a copy in the settings file would win at the next start.
        if (Settings().contains(entry.group, entry.key))
            Settings().remove({{entry.group, entry.key}});
        saveNext(index + 1);
    });
}

void SecretStore::finishSave()
{
    m_bound.stop();
    const Save done = m_saves.takeFirst();
    emit saved(done.id, done.place);
    startNextSave();
}

void SecretStore::keepInIni(const Entry& entry)
{
    Settings settings;
    if (!entry.value.isEmpty())
        settings.set(entry.group, entry.key, entry.value);
    else if (settings.contains(entry.group, entry.key))
        settings.remove({{entry.group, entry.key}});
}

void SecretStore::setMemory(const QString& group, const QString& key, const QString& value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (value.isEmpty())
        m_memory.remove(entryKey(group, key));
    else
        m_memory.insert(entryKey(group, key), value);
}
