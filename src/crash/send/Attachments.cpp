#include "crash/send/Attachments.h"

#include "crash/send/ZipArchive.h"
#include "platform/PrivateFolder.h"

#include <QFileInfo>
#include <QSet>

namespace crash::send {

PreparedAttachments PrepareAttachments(const QList<AttachmentEntry>& entries,
                                       const platform::PrivateFolder* folder)
{
    PreparedAttachments prepared;
    QSet<QString> packed;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const AttachmentEntry& entry = entries[i];
        const QString file = QFileInfo(entry.file).absoluteFilePath();
        if (entry.file.isEmpty() || !QFileInfo(file).isFile())
            continue;
        if (entry.zip.isEmpty()) {
            prepared.files.append(file);
            prepared.sendAsNames.append(entry.sendAs.isEmpty() ? QFileInfo(file).fileName() : entry.sendAs);
            prepared.fieldNames.append(entry.field);
            continue;
        }
        const QString zipKey = entry.zip.toLower();
        if (packed.contains(zipKey))
            continue;
        packed.insert(zipKey);
        QList<ZipMember> members;
        for (qsizetype j = i; j < entries.size(); ++j) {
            if (entries[j].zip.compare(entry.zip, Qt::CaseInsensitive) != 0)
                continue;
            const QString member = QFileInfo(entries[j].file).absoluteFilePath();
            if (entries[j].file.isEmpty() || !QFileInfo(member).isFile())
                continue;
            const QString name =
                entries[j].sendAs.isEmpty() ? QFileInfo(member).fileName() : entries[j].sendAs;
            members.append({member, name});
        }
        // Only the file name: a zip name never leaves the private folder. The archive is written
        // over an empty file made there first, so it has that file's owner-only mode.
        const QString archive =
            folder ? folder->writeFreeName(QFileInfo(entry.zip).fileName(), QByteArray()) : QString();
        if (!archive.isEmpty() && WriteZipArchive(archive, members)) {
            prepared.files.append(archive);
            prepared.sendAsNames.append(entry.zip);
            prepared.fieldNames.append(entry.zip);
            prepared.archives.append(archive);
        }
    }
    return prepared;
}

} // namespace crash::send
