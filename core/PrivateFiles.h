#pragma once

#include <QString>

// Files and directories that hold what only the user may read (settings with
// passwords, logs and calls that name contacts, the debug file): made for
// their owner alone, and never followed through a symbolic link.
namespace PrivateFiles {

// Makes the directory (with its parents) and closes it to everyone but its
// owner; also closes one that exists already. False when it is not there.
bool makeDirectory(const QString& dir);
// The same for the directory a file lives in.
bool makeDirectoryFor(const QString& filePath);

// Restricts an existing file to its owner (read and write).
void restrictFile(const QString& path);

// Opens a file with the given open(2) flags (a new one is made 0600), without
// following a symbolic link, and only when it is a plain file of this user;
// -1 with errno set otherwise (EPERM: not ours, ELOOP: a link).
int openOwnFile(const QString& path, int flags);

// Whether a file may be replaced whole (QSaveFile writes through a link): it
// is not there yet, or it is a plain file of this user and not a link.
bool mayReplace(const QString& path);

// Why openOwnFile or a write failed, as the log says it.
QString errorText(int error);

} // namespace PrivateFiles
