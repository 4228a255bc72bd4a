#pragma once

#include <QObject>
#include <QString>

#include <memory>

class AddressIndex;
class QFileSystemWatcher;
class QTimer;

// Where the user's own contacts are read from. The defaults are the shipped values.
struct AddressBookSources
{
    QString vCardPath;       // a vCard file, or a folder of them (*.vcf, *.vcard, with its sub-folders); empty: none
    bool thunderbird = true; // the address books of Thunderbird's default profile
    QString thunderbirdRoot = defaultThunderbirdRoot(); // the folder that holds profiles.ini
    int rebuildDelayMsecs = 2000; // after a change on disk, gather further changes this long before reading again

    static QString defaultThunderbirdRoot(); // ~/.thunderbird
    // "AddressBooks"/"VCardPath" and "AddressBooks"/"Thunderbird" (on unless set to false) from the settings file.
    static AddressBookSources fromSettings();

    bool operator==(const AddressBookSources& other) const;
    bool operator!=(const AddressBookSources& other) const { return !(*this == other); }
};

// The names of callers from the user's own address books: a vCard file or folder (what CardDAV synchronisers such
// as vdirsyncer, Nextcloud and Google exports leave) and Thunderbird's address books. The index is read on a worker
// thread when the object is made, and again when the sources change (setSources) or their files change on disk
// (watched, the folders too, since sync tools replace files by renaming); it is swapped in on this object's thread.
// Meanwhile lookup() answers from the index in place, at once. A number in both sources gets the vCard's name: the
// file the user chose counts for more than what Thunderbird happens to hold. A damaged vCard file or a database
// that cannot be read is skipped with one line in the activity log (again only once it changed). A build that a
// newer one overtakes is dropped; the object may be destroyed while one runs.
class AddressBook : public QObject
{
    Q_OBJECT

public:
    // A vCard folder of up to this many files has each file watched, which costs the GUI thread about 25 us a file
    // once; a larger one is watched as folders only (files added, removed or replaced by renaming, as sync tools
    // write), and a file changed in place there is read again at the next change in its folder.
    static constexpr int MaxWatchedFiles = 256;

    explicit AddressBook(const AddressBookSources& sources, QObject* parent = nullptr);
    ~AddressBook() override;

    const AddressBookSources& sources() const { return m_sources; }
    // Reads the index again from the new sources (also when they are the same).
    void setSources(const AddressBookSources& sources);

    // The name for a caller's number in any notation; empty when unknown, or while the first index is being read.
    QString lookup(const QString& number) const;
    // An index is in place (it may be empty).
    bool isReady() const { return m_index != nullptr; }
    // Contacts with at least one number in the index.
    int contactCount() const { return m_contactCount; }

    struct Job; // one build, shared with the worker thread that runs it

signals:
    // A new index is in place.
    void indexReady(int contacts);

private:
    Q_DISABLE_COPY(AddressBook)

    void startBuild();
    Q_INVOKABLE void takeFinishedBuild();
    void onChanged();
    void watch(const QStringList& files, const QStringList& directories);

    AddressBookSources m_sources;
    std::shared_ptr<const AddressIndex> m_index;
    int m_contactCount = 0;
    QByteArray m_stamp;     // what the index in place was read from
    QStringList m_reported; // the problems of that reading, logged once
    std::shared_ptr<Job> m_job;
    QFileSystemWatcher* m_watcher;
    QTimer* m_delay;
};
