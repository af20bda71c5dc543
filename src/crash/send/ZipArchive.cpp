#include "crash/send/ZipArchive.h"

#include <QFile>

#include <zip.h>

namespace crash::send {

bool WriteZipArchive(const QString& archivePath, const QList<ZipMember>& members)
{
    QFile::remove(archivePath);
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(archivePath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    bool ok = true;
    for (const ZipMember& member : members) {
        zip_source_t* source = zip_source_file(archive, QFile::encodeName(member.file).constData(), 0, -1);
        if (!source) {
            ok = false;
            break;
        }
        const QByteArray name = member.nameInArchive.toUtf8();
        const zip_int64_t index =
            zip_file_add(archive, name.constData(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            ok = false;
            break;
        }
        zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 0);
    }
    if (!ok) {
        zip_discard(archive);
        QFile::remove(archivePath);
        return false;
    }
    // The files are read here, at close; an unreadable one fails the whole archive.
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        QFile::remove(archivePath);
        return false;
    }
    return QFile::exists(archivePath);
}

} // namespace crash::send
