#pragma once
// Packing attachments into a standard zip archive (deflate, names marked as UTF-8) with libzip.

#include <QList>
#include <QString>

namespace crash::send {

struct ZipMember
{
    QString file; // full path of the file to pack
    QString nameInArchive;
};

// Writes the archive over `archivePath` (a new file replaces it, keeping its mode). False (and no
// archive left behind) when any member cannot be packed or libzip cannot be loaded.
bool WriteZipArchive(const QString& archivePath, const QList<ZipMember>& members);

} // namespace crash::send
