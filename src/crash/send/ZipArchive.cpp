#include "crash/send/ZipArchive.h"

#include "platform/SharedLibrary.h"

#include <QFile>

#include <zip.h>

namespace crash::send {

namespace {

// libzip is opened at the first archive, not at the program's start: it brings OpenSSL's crypto
// library with it, which alone takes milliseconds to load.
struct ZipLibrary
{
    decltype(&::zip_open) open = nullptr;
    decltype(&::zip_source_file) source_file = nullptr;
    decltype(&::zip_source_free) source_free = nullptr;
    decltype(&::zip_file_add) file_add = nullptr;
    decltype(&::zip_set_file_compression) set_file_compression = nullptr;
    decltype(&::zip_close) close = nullptr;
    decltype(&::zip_discard) discard = nullptr;
};

const ZipLibrary* LoadZip()
{
    return platform::BoundOnce<ZipLibrary>(
        SKINTOOL_ZIP_LIBRARY, [](platform::SharedLibrary& library, ZipLibrary& zip) {
            return library.bind(zip.open, "zip_open") && library.bind(zip.source_file, "zip_source_file") &&
                   library.bind(zip.source_free, "zip_source_free") &&
                   library.bind(zip.file_add, "zip_file_add") &&
                   library.bind(zip.set_file_compression, "zip_set_file_compression") &&
                   library.bind(zip.close, "zip_close") && library.bind(zip.discard, "zip_discard");
        });
}

} // namespace

bool WriteZipArchive(const QString& archivePath, const QList<ZipMember>& members)
{
    const ZipLibrary* const zip = LoadZip();
    if (!zip) {
        QFile::remove(archivePath);
        return false;
    }
    int error = 0;
    zip_t* archive = zip->open(QFile::encodeName(archivePath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) {
        QFile::remove(archivePath);
        return false;
    }
    bool ok = true;
    for (const ZipMember& member : members) {
        zip_source_t* source = zip->source_file(archive, QFile::encodeName(member.file).constData(), 0, -1);
        if (!source) {
            ok = false;
            break;
        }
        const QByteArray name = member.nameInArchive.toUtf8();
        const zip_int64_t index =
            zip->file_add(archive, name.constData(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip->source_free(source);
            ok = false;
            break;
        }
        zip->set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 0);
    }
    if (!ok) {
        zip->discard(archive);
        QFile::remove(archivePath);
        return false;
    }
    // The files are read here, at close; an unreadable one fails the whole archive.
    if (zip->close(archive) != 0) {
        zip->discard(archive);
        QFile::remove(archivePath);
        return false;
    }
    return QFile::exists(archivePath);
}

} // namespace crash::send
