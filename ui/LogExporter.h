#pragma once

#include <QString>

// Writes every regular file of the log directory into a ZIP archive, one
// deflated entry per file named by its bare file name (UTF-8 names).
//
// The archive is written to a temporary file beside the target and moved into
// place only when it is complete, so a failure never leaves a partial or
// damaged archive behind (nor replaces an older archive of the same name).
class LogExporter
{
public:
    static constexpr int CompressionLevel = 6;

    // On failure returns false and a Dutch description of the cause in errorMessage.
    static bool exportDirectory(const QString& logDirectory, const QString& archivePath, QString& errorMessage);

private:
    LogExporter() = delete;
};
