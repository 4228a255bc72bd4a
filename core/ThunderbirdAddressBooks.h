#pragma once

#include "VCard.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// Thunderbird's address books of the default profile, read for the names of callers. Thunderbird keeps each book in
// an SQLite file (abook.sqlite, abook-N.sqlite) with a table properties(card, name, value); we read a copy, so a
// running Thunderbird is never disturbed.
namespace ThunderbirdAddressBooks {

// The directory of the default profile that profiles.ini (its text) names: the Default= of an [Install...] section
// wins, else the [Profile...] with Default=1, else the only profile. Relative paths are taken from root (the folder
// of profiles.ini). Empty when the text names none.
QString defaultProfile(const QByteArray& profilesIni, const QString& root);

// abook.sqlite and abook-*.sqlite in a profile directory, abook.sqlite first, the others by name.
QStringList addressBooks(const QString& profileDir);

// Reads one address book from a private copy (with its write-ahead log, when there is one), opened read-only
// through Qt's QSQLITE driver under connectionName, which is removed again before returning; the connection lives
// on the calling thread only. A card's name is DisplayName, else FirstName and LastName, else the name in its
// _vCard; its numbers are WorkPhone, HomePhone, CellularNumber, FaxNumber, PagerNumber and the TEL entries of its
// _vCard. Cards without a number are left out. False, with the reason, when the database cannot be read.
bool read(const QString& path, const QString& connectionName, QVector<VCard::Contact>& contacts, QString& error);

} // namespace ThunderbirdAddressBooks
