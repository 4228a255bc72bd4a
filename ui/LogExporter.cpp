#include "LogExporter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

namespace {

constexpr qint64 ChunkSize = 64 * 1024;

// Copies one file into a new entry of the open archive.
bool addFile(QuaZip& zip, const QFileInfo& info, QString& errorMessage)
{
    QFile in(info.absoluteFilePath());
    if (!in.open(QIODevice::ReadOnly)) {
        errorMessage =
            QStringLiteral("Het bestand %1 kan niet gelezen worden: %2").arg(info.fileName(), in.errorString());
        return false;
    }

    QuaZipFile entry(&zip);
    QuaZipNewInfo newInfo(info.fileName(), info.absoluteFilePath());
    if (!entry.open(QIODevice::WriteOnly, newInfo, nullptr, 0, Z_DEFLATED, LogExporter::CompressionLevel)) {
        errorMessage = QStringLiteral("Het archief kan niet geschreven worden (fout %1).").arg(entry.getZipError());
        return false;
    }

    // Today's file is still being appended to: copy what is there now.
    QByteArray buffer;
    for (;;) {
        buffer = in.read(ChunkSize);
        if (buffer.isEmpty()) {
            if (in.error() != QFileDevice::NoError) {
                errorMessage =
                    QStringLiteral("Het bestand %1 kan niet gelezen worden: %2").arg(info.fileName(), in.errorString());
                entry.close();
                return false;
            }
            break;
        }
        if (entry.write(buffer) != buffer.size()) {
            errorMessage = QStringLiteral("Het archief kan niet geschreven worden: %1").arg(entry.errorString());
            entry.close();
            return false;
        }
    }

    entry.close();
    if (entry.getZipError() != ZIP_OK) {
        errorMessage = QStringLiteral("Het archief kan niet geschreven worden (fout %1).").arg(entry.getZipError());
        return false;
    }
    return true;
}

} // namespace

bool LogExporter::exportDirectory(const QString& logDirectory, const QString& archivePath, QString& errorMessage)
{
    errorMessage.clear();
    if (archivePath.isEmpty()) {
        errorMessage = QStringLiteral("Er is geen doelbestand opgegeven.");
        return false;
    }

    // Listed before the temporary archive exists, so it never includes itself.
    // A missing directory gives an archive without entries; so does an empty
    // path (no data location), which must not mean the working directory.
    const QFileInfoList files =
        logDirectory.isEmpty() ? QFileInfoList()
                               : QDir(logDirectory).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);

    QSaveFile out(archivePath);
    if (!out.open(QIODevice::WriteOnly)) {
        errorMessage = QStringLiteral("Het bestand %1 kan niet aangemaakt worden: %2")
                           .arg(QDir::toNativeSeparators(archivePath), out.errorString());
        return false;
    }

    bool ok = true;
    {
        QuaZip zip(&out);
        // The save file must stay open until it is committed.
        zip.setAutoClose(false);
        zip.setUtf8Enabled(true);
        if (!zip.open(QuaZip::mdCreate)) {
            errorMessage = QStringLiteral("Het archief kan niet aangemaakt worden (fout %1).").arg(zip.getZipError());
            ok = false;
        }
        for (int i = 0; ok && i < files.size(); ++i)
            ok = addFile(zip, files.at(i), errorMessage);
        if (zip.isOpen()) {
            zip.close();
            if (ok && zip.getZipError() != ZIP_OK) {
                errorMessage =
                    QStringLiteral("Het archief kan niet afgesloten worden (fout %1).").arg(zip.getZipError());
                ok = false;
            }
        }
    }

    if (ok && out.error() != QFileDevice::NoError) {
        errorMessage = QStringLiteral("Het archief kan niet geschreven worden: %1").arg(out.errorString());
        ok = false;
    }
    if (!ok) {
        out.cancelWriting();
        return false;
    }
    // commit() flushes the rest; a full disk shows up here at the latest.
    if (!out.commit()) {
        errorMessage = QStringLiteral("Het archief kan niet opgeslagen worden: %1").arg(out.errorString());
        return false;
    }
    return true;
}
