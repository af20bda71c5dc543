// Packing attachments into the send's private folder: the archive is owner-only whatever the
// umask, never leaves the folder, and a name taken there does not make it fail.
#include "crash/send/Attachments.h"
#include "platform/PrivateFolder.h"
#include "support/TempDir.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace crash::send;

TEST(Attachments, ArchivesAreOwnerOnlyAndStayInThePrivateFolder)
{
    testsupport::TempDir dir;
    const QString notes = dir.write(QStringLiteral("notes.txt"), "notes");
    const auto folder = platform::PrivateFolder::open(dir.file(QStringLiteral("send")));
    ASSERT_TRUE(folder);
    ASSERT_FALSE(folder->writeFile(QStringLiteral("report.zip"), "taken").isEmpty());

    const mode_t oldMask = ::umask(022);
    const PreparedAttachments prepared = PrepareAttachments(
        {{notes, QStringLiteral("a.txt"), QStringLiteral("A"), QStringLiteral("report.zip")},
         {notes, QStringLiteral("b.txt"), QStringLiteral("B"), QStringLiteral("../../escape.zip")}},
        folder.get());
    ::umask(oldMask);

    ASSERT_EQ(prepared.archives.size(), 2);
    EXPECT_EQ(prepared.sendAsNames, (QStringList{"report.zip", "../../escape.zip"}));
    EXPECT_EQ(prepared.archives[0], dir.file(QStringLiteral("send/2-report.zip")));
    EXPECT_EQ(prepared.archives[1], dir.file(QStringLiteral("send/escape.zip")));
    for (const QString& archive : prepared.archives) {
        struct stat st
        {
        };
        ASSERT_EQ(::stat(QFile::encodeName(archive).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode_t(0600)) << archive.toStdString();
        EXPECT_TRUE(testsupport::ReadAll(archive).startsWith("PK\x03\x04"));
    }
    EXPECT_EQ(testsupport::ReadAll(dir.file(QStringLiteral("send/report.zip"))), QByteArray("taken"));
    EXPECT_FALSE(QFileInfo::exists(dir.file(QStringLiteral("escape.zip"))));

    // Without a private folder nothing is packed; plain files still go.
    const PreparedAttachments unpacked =
        PrepareAttachments({{notes, QString(), QStringLiteral("A"), QStringLiteral("x.zip")},
                            {notes, QString(), QStringLiteral("B"), {}}},
                           nullptr);
    EXPECT_TRUE(unpacked.archives.isEmpty());
    EXPECT_EQ(unpacked.files, QStringList{QFileInfo(notes).absoluteFilePath()});
}
