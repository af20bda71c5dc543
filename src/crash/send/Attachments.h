#pragma once
// The attachment list of one send and the three parallel lists the transports take from it:
// files, the names they are sent as and their form field names. Entries with a zip name are
// packed, all entries sharing that name together, into one archive in the send's private folder.

#include <QList>
#include <QString>
#include <QStringList>

namespace platform {
class PrivateFolder;
}

namespace crash::send {

struct AttachmentEntry
{
    QString file;
    QString sendAs;
    QString field;
    QString zip; // empty: sent as it is
};

struct PreparedAttachments
{
    QStringList files;
    QStringList sendAsNames;
    QStringList fieldNames;
    // Archives written for this send.
    QStringList archives;

    int count() const { return int(files.size()); }
};

// Walks the entries in order: makes each path absolute, skips missing files, packs zip groups
// into `folder` (no archives without one).
PreparedAttachments PrepareAttachments(const QList<AttachmentEntry>& entries,
                                       const platform::PrivateFolder* folder);

} // namespace crash::send
