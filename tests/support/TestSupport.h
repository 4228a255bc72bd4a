#pragma once

#include <QString>

namespace TestSupport {
// The throw-away home that the test wrapper made for this run (empty when run by hand).
QString testHome();
// Sets organisation and application name as the program does, so Settings and
// Logger find their per-user files in the throw-away home.
void setApplicationIdentity();
// A fresh path for a local socket inside the throw-away home; never collides.
QString uniqueSocketPath(const QString& stem);
// Reads a whole file as bytes; empty when it cannot be read.
QByteArray readFile(const QString& path);
} // namespace TestSupport
