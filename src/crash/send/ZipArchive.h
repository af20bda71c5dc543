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

// Replaces `archivePath`. False (and no archive left behind) when any member cannot be packed or
// libzip cannot be loaded.
bool WriteZipArchive(const QString& archivePath, const QList<ZipMember>& members);

} // namespace crash::send
