#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>
#include <mutex>

struct ServiceConfig;
namespace QKeychain {
class Job;
}

// The passwords and API keys, kept in the desktop's keyring (the Secret
// Service, through QtKeychain) instead of the settings file. One object per
// program, made and used on the GUI thread; only secret(), isLoaded() and
// whenLoaded() may be called from other threads.
//
// load() reads the keyring once, without blocking, and moves secrets still in
// the settings file there (written, read back, compared, and only then taken
// out of the file in one rewrite). Loading ends within the configured bound,
// also with a keyring that never answers; loaded() then comes once and
// secret() answers from memory. Without a usable keyring everything stays in
// the settings file, as before, and the log says why once.
//
// A secret in the settings file wins over the keyring's copy: it is only
// there when it could not go to the keyring, so it is the newer one.
class SecretStore : public QObject
{
    Q_OBJECT

public:
    struct Name
    {
        QString group;
        QString key;
    };
    struct Entry
    {
        QString group;
        QString key;
        QString value; // empty: the secret is removed
    };
    enum class Mode
    {
        Loading,
        Keyring, // the keyring answered: new secrets go there
        IniFile, // no usable keyring this run: secrets stay in the settings file
    };
    enum class Place
    {
        Keyring, // every value of a save went to the keyring
        IniFile, // at least one is kept in the settings file instead
    };
    Q_ENUM(Place)

    // Every secret of the settings catalogue; all other values stay in the settings file.
    static const QVector<Name>& names();
    static bool isSecret(const QString& group, const QString& key);

    explicit SecretStore(const ServiceConfig& config, QObject* parent = nullptr);
    ~SecretStore() override;

    // Starts reading the keyring; returns at once. Once per object.
    void load();

    // Any thread. Before loaded(), secret() holds only what the settings file had.
    bool isLoaded() const;
    QString secret(const QString& group, const QString& key) const;
    // Any thread: runs `done` on `context`'s thread once loading has ended (queued, also when it already has).
    void whenLoaded(QObject* context, std::function<void()> done);

    Mode mode() const;
    QString reason() const; // why the settings file is used (Mode::IniFile)
    // Any thread. Empty when the secret is there; otherwise why not, for a log line.
    QString whyMissing(const QString& group, const QString& key) const;

    // Stores the values; returns at once with an id that saved() repeats.
    // secret() has the new values from then on (once loaded).
    quint64 save(const QVector<Entry>& entries);

signals:
    void loaded();
    void saved(quint64 id, SecretStore::Place place);

private:
    Q_DISABLE_COPY(SecretStore)
    struct Save
    {
        quint64 id;
        QVector<Entry> entries;
        Place place;
    };
    using Step = std::function<void(QKeychain::Job*)>;

    void runJob(QKeychain::Job* job, Step next);
    void readNext(int index);
    void writeNext(int index);
    void readBackNext(int index);
    void migrationFailed(const QString& why);
    void finishLoading(Mode mode, const QString& reason = QString());
    void onBoundPassed();
    void startNextSave();
    void saveNext(int index);
    void finishSave();
    void keepInIni(const Entry& entry);
    void setMemory(const QString& group, const QString& key, const QString& value);

    const int m_boundMsecs;
    QTimer m_bound;
    // Answers of jobs from an earlier operation (abandoned at the bound) are dropped.
    quint64 m_generation = 0;

    // GUI thread only.
    bool m_started = false;
    QHash<QString, QString> m_fromIni;
    QHash<QString, QString> m_fromKeyring;
    QVector<Entry> m_toMove;
    QVector<Save> m_saves; // the first one runs
    int m_saveIndex = 0;   // its entry in the keyring's hands
    quint64 m_lastSaveId = 0;

    // Guarded by m_mutex: what other threads read.
    mutable std::mutex m_mutex;
    bool m_loaded = false;
    Mode m_mode = Mode::Loading;
    QString m_reason;
    QHash<QString, QString> m_memory;
};
