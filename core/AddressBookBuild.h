#pragma once

#include "AddressBook.h"

#include <QByteArray>
#include <QStringList>

#include <atomic>
#include <memory>

class AddressIndex;

// One reading of the address books into an index, done by AddressBook on a worker thread. Everything it needs is
// handed in and everything it found comes back as a value; it touches no object of another thread and logs nothing.
namespace AddressBookBuild {

struct Result
{
    // The new index; null when the files are as they were at previousStamp (nothing read) or the build was cancelled.
    std::shared_ptr<const AddressIndex> index;
    int contacts = 0;        // contacts with at least one number in the index
    QByteArray stamp;        // the files read: paths, sizes, times, inodes
    QStringList files;       // to watch for changes
    QStringList directories; // to watch for files added, removed or replaced
    QStringList problems;    // one log line each: a damaged or unreadable file, a missing vCard path
};

// vCard files first (sorted by path), then Thunderbird's address books; the first name given for a number stays.
// connectionName is the QSQLITE connection this build may make on its thread. Returns early once cancelled is set.
Result run(const AddressBookSources& sources, const QByteArray& previousStamp, const std::atomic<bool>& cancelled,
           const QString& connectionName);

} // namespace AddressBookBuild
