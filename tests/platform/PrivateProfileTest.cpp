#include "platform/PrivateProfile.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <optional>

#include <csignal>
#include <sys/resource.h>

using namespace platform;
using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

QString readValue(const QString& file, const QString& section, const QString& key, const QString& def = {})
{
    char16_t buffer[512];
    const uint32_t n = GetPrivateProfileString(&section, &key, &def, buffer, 512, file);
    return QString::fromUtf16(buffer, n);
}

bool writeValue(const QString& file, const QString& section, const QString& key, const QString& value)
{
    return WritePrivateProfileString(&section, &key, &value, file);
}

QByteArray utf16le(const QString& text)
{
    QByteArray out("\xFF\xFE", 2);
    for (QChar c : text) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

QStringList splitList(const char16_t* buffer, uint32_t count)
{
    return QString::fromUtf16(buffer, count).split(QChar(0), Qt::SkipEmptyParts);
}

} // namespace

TEST(PrivateProfile, ReadsNamesCaseInsensitivelyTrimsAndUnquotes)
{
    TempDir dir;
    const QString file = dir.write("a.ini", "; leading comment\r\n"
                                            "[Main]\r\n"
                                            "  Skin  =  blue sky  \r\n"
                                            "Quoted=\"  padded  \"\r\n"
                                            "Single='x'\r\n"
                                            "Mixed=\"x'\r\n"
                                            "Skin=second\r\n"
                                            "not a key line\r\n"
                                            ";Hidden=1\r\n"
                                            "[main]\r\n"
                                            "Extra=later\r\n");
    EXPECT_EQ(readValue(file, "MAIN", "skin"), "blue sky");
    EXPECT_EQ(readValue(file, " main ", " SKIN "), "blue sky") << "names given with blanks still match";
    EXPECT_EQ(readValue(file, "Main", "Quoted"), "  padded  ") << "quotes go, the blanks inside stay";
    EXPECT_EQ(readValue(file, "Main", "Single"), "x");
    EXPECT_EQ(readValue(file, "Main", "Mixed"), "\"x'") << "quotes that do not match stay";
    EXPECT_EQ(readValue(file, "Main", "Hidden", "dflt"), "dflt") << "a comment is not a key";
    EXPECT_EQ(readValue(file, "Main", "Extra", "dflt"), "dflt")
        << "the first section of a name is the one read";
    EXPECT_EQ(readValue(file, "Main", "missing", "fallback   "), "fallback")
        << "trailing blanks of a default go";
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(readValue(dir.file("none.ini"), "Main", "Skin", "d"), "d");
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(PrivateProfile, SmallBufferCutsValueAndReportsMoreData)
{
    TempDir dir;
    const QString file = dir.write("a.ini", "[S]\nk=abcdefghij\nshort=abc\n");
    const QString s = "S", k = "k", shortKey = "short";
    char16_t buffer[8];
    EXPECT_EQ(GetPrivateProfileString(&s, &k, nullptr, buffer, 8, file), 7u);
    EXPECT_EQ(QString::fromUtf16(buffer), "abcdefg");
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);

    SetLastError(ERROR_MORE_DATA);
    EXPECT_EQ(GetPrivateProfileString(&s, &shortKey, nullptr, buffer, 4, file), 3u)
        << "exactly fits with its zero";
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a read that fits clears the error";
}

TEST(PrivateProfile, ListsSectionsAndKeysInFileOrderAndCutsListsWithTwoZeros)
{
    TempDir dir;
    const QString file = dir.write("a.ini", "[Zeta]\nb=1\na=2\nB=3\n[alpha]\nx=1\n[ZETA]\nc=4\n");
    const QString zeta = "zeta";
    char16_t buffer[64];
    uint32_t n = GetPrivateProfileString(nullptr, nullptr, nullptr, buffer, 64, file);
    EXPECT_EQ(splitList(buffer, n), QStringList({"Zeta", "alpha"}));
    EXPECT_EQ(n, 11u) << "each name and its zero, without the final zero";
    n = GetPrivateProfileString(&zeta, nullptr, nullptr, buffer, 64, file);
    EXPECT_EQ(splitList(buffer, n), QStringList({"b", "a"}));

    n = GetPrivateProfileString(nullptr, nullptr, nullptr, buffer, 5, file);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(buffer[3], 0);
    EXPECT_EQ(buffer[4], 0);
}

TEST(PrivateProfile, WriteKeepsUtf16LeBomCrlfAndUntouchedLines)
{
    TempDir dir;
    const QString text = QString::fromUtf8("; Einstellungen für Mirelune\r\n"
                                           "[Main]\r\n"
                                           "Skin=classic\r\n"
                                           "Title = Überblick \r\n"
                                           "garbage line without equals\r\n"
                                           "\r\n"
                                           "[Other]\r\n"
                                           "k=v\r\n");
    const QString file = dir.write("Main.ini", utf16le(text));
    EXPECT_EQ(readValue(file, "Main", "Title"), QString::fromUtf8("Überblick"));

    ASSERT_TRUE(writeValue(file, "Main", "Skin", QString::fromUtf8("ночь")));
    ASSERT_TRUE(writeValue(file, "Main", "New", "1"));
    ASSERT_TRUE(writeValue(file, "Fresh", "Key", "v"));

    QString expected = text;
    expected.replace("Skin=classic", QString::fromUtf8("Skin=ночь"));
    expected.replace("garbage line without equals\r\n", "garbage line without equals\r\nNew=1\r\n");
    expected += "\r\n[Fresh]\r\nKey=v\r\n";
    EXPECT_EQ(ReadAll(file), utf16le(expected));
    EXPECT_EQ(readValue(file, "main", "skin"), QString::fromUtf8("ночь"));
}

TEST(PrivateProfile, WriteKeepsLfEndingsMissingFinalBreakAndEightBitBytes)
{
    TempDir dir;
    // 0xE9 alone is not UTF-8: the file is 8-bit and must come back byte for byte.
    const QString file = dir.write("a.ini", QByteArray("[S]\nname=caf\xE9\nk=1"));
    EXPECT_EQ(readValue(file, "S", "name"), QString::fromLatin1("caf\xE9"));
    ASSERT_TRUE(writeValue(file, "S", "k", "2"));
    ASSERT_TRUE(writeValue(file, "S", "z", "3"));
    EXPECT_EQ(ReadAll(file), QByteArray("[S]\nname=caf\xE9\nk=2\nz=3"));

    const QString utf8 = dir.write("b.ini", QByteArray("\xEF\xBB\xBF[S]\r\nk=\xC3\xA9\r\n"));
    ASSERT_TRUE(writeValue(utf8, "S", "j", QString::fromUtf8("ü")));
    EXPECT_EQ(ReadAll(utf8), QByteArray("\xEF\xBB\xBF[S]\r\nk=\xC3\xA9\r\nj=\xC3\xBC\r\n"));
}

TEST(PrivateProfile, CreatesFileAndSectionRemovesKeysAndSections)
{
    TempDir dir;
    const QString file = dir.file("new.ini");
    ASSERT_TRUE(writeValue(file, "A", "one", "1"));
    ASSERT_TRUE(writeValue(file, "B", "two", "2"));
    ASSERT_TRUE(writeValue(file, "A", "three", "3"));
    EXPECT_EQ(ReadAll(file), QByteArray("[A]\r\none=1\r\nthree=3\r\n\r\n[B]\r\ntwo=2\r\n"));

    const QString a = "a", one = "ONE";
    ASSERT_TRUE(WritePrivateProfileString(&a, &one, nullptr, file));
    EXPECT_EQ(readValue(file, "A", "one", "gone"), "gone");
    EXPECT_EQ(readValue(file, "A", "three"), "3");

    dir.write("dup.ini", "[X]\nk=1\n[Y]\nk=y\n[x]\nk=2\n");
    const QString x = "X";
    ASSERT_TRUE(WritePrivateProfileString(&x, nullptr, nullptr, dir.file("dup.ini")));
    EXPECT_EQ(ReadAll(dir.file("dup.ini")), QByteArray("[Y]\nk=y\n"))
        << "no duplicate takes the erased one's place";

    EXPECT_TRUE(WritePrivateProfileString(nullptr, nullptr, nullptr, file)) << "flush";
    const QString missing = dir.file("absent.ini");
    EXPECT_TRUE(WritePrivateProfileString(&x, nullptr, nullptr, missing));
    EXPECT_FALSE(QFile::exists(missing)) << "removing from nothing creates nothing";
}

TEST(PrivateProfile, FailedWritesReportFailureAndLeaveFilesAlone)
{
    TempDir dir;
    EXPECT_FALSE(writeValue(dir.file("no/such/folder/a.ini"), "S", "k", "v"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    dir.write("blocker", "a file where a folder should be");
    EXPECT_FALSE(writeValue(dir.file("blocker/a.ini"), "S", "k", "v"));
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);

    const QString readOnly = dir.write("ro.ini", "[S]\nk=old\n");
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup);
    EXPECT_FALSE(writeValue(readOnly, "S", "k", "new")) << "read-only holds even for an administrator";
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadAll(readOnly), QByteArray("[S]\nk=old\n"));

    const QString plain = dir.write("inject.ini", "[S]\nk=1\n");
    EXPECT_FALSE(writeValue(plain, "S", "k", "x\r\n[Forged]\r\nk=2"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ReadAll(plain), QByteArray("[S]\nk=1\n"));
}

TEST(PrivateProfile, RewriteKeepsPermissions)
{
    TempDir dir;
    const QString file = dir.write("a.ini", "[S]\nk=1\n");
    const auto perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QFile::setPermissions(file, perms);
    ASSERT_TRUE(writeValue(file, "S", "k", "2"));
    const auto modeBits = QFileDevice::Permissions(0x7077); // owner, group, other
    EXPECT_EQ(QFile::permissions(file) & modeBits, perms & modeBits);
}

namespace {

// Limits the size of files this process may write, as a full disk would.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved{};
};

} // namespace

TEST(PrivateProfile, FullDiskFailsTheWriteAndKeepsTheOldFile)
{
    TempDir dir;
    const QByteArray before = "[Main]\r\nSkin=classic\r\n";
    const QString file = dir.write("Main.ini", before);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    bool written = true;
    {
        FileSizeLimit limit(1024);
        written = writeValue(file, "Main", "Skin", QString(8000, 'x'));
    }
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
    EXPECT_EQ(ReadAll(file), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Main.ini"})
        << "no temporary file is left";
}

TEST(PrivateProfileDeathTest, CrashInTheMiddleOfAWriteLeavesTheOldFile)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child runs this test again from the start and dies without cleaning up: it works in
    // the parent's folder, named through the environment, which the parent removes.
    const char* const kParentFolder = "SKINTOOL_DEATH_TEST_FOLDER";
    std::optional<TempDir> ownDir;
    QString folder = qEnvironmentVariable(kParentFolder);
    if (folder.isEmpty()) {
        ownDir.emplace();
        folder = ownDir->path();
        qputenv(kParentFolder, folder.toUtf8());
    }
    const QByteArray before = "[Main]\r\nSkin=classic\r\n";
    const QString file = folder + "/Main.ini";
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(before);
    }
    // The kernel kills the writer once the new text passes the limit: a crash mid-write.
    EXPECT_EXIT(
        {
            FileSizeLimit limit(1024);
            writeValue(file, "Main", "Skin", QString(8000, 'x'));
            std::_Exit(0);
        },
        testing::KilledBySignal(SIGXFSZ), "");
    qunsetenv(kParentFolder);
    EXPECT_EQ(ReadAll(file), before);
    EXPECT_EQ(readValue(file, "Main", "Skin"), "classic");
}

TEST(ProfileDocument, ParsesWhateverBytesAndSerializesThemBack)
{
    const QByteArray samples[] = {QByteArray(),
                                  QByteArray("no sections at all\r\nk=v"),
                                  QByteArray("[unclosed\n=\n[]\n\r\r\n"),
                                  QByteArray("\xFF\xFE[\x00", 4),
                                  QByteArray("\xFE\xFF\x00[\x00S\x00]", 8),
                                  QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF[S]\r\nk=v\r\n"),
                                  QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF"),
                                  QByteArray("\xFF\xFE[\x00S", 5),
                                  QByteArray("\xFE\xFF\x00", 3)};
    for (const QByteArray& bytes : samples)
        EXPECT_EQ(ProfileDocument::parse(bytes).serialize(), bytes) << bytes.toHex().toStdString();
}

TEST(PrivateProfile, WriteKeepsASecondUtf8MarkInTheFirstLine)
{
    TempDir dir;
    const QByteArray original("\xEF\xBB\xBF\xEF\xBB\xBF[S]\r\nk=v\r\n");
    const QString file = dir.write(QStringLiteral("marks.ini"), original);
    ASSERT_TRUE(writeValue(file, QStringLiteral("T"), QStringLiteral("x"), QStringLiteral("1")));
    EXPECT_EQ(ReadAll(file), original + "\r\n[T]\r\nx=1\r\n");
}

TEST(PrivateProfile, WriteKeepsTheLastByteOfAnOddLengthUtf16File)
{
    TempDir dir;
    const QByteArray original = utf16le(QStringLiteral("[S]\r\nk=v\r\n")) + QByteArray("\x41", 1);
    const QString file = dir.write(QStringLiteral("odd.ini"), original);
    ASSERT_TRUE(writeValue(file, QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("w")));
    EXPECT_EQ(ReadAll(file), utf16le(QStringLiteral("[S]\r\nk=w\r\n")) + QByteArray("\x41", 1));
}

TEST(PrivateProfile, WriteReplacingTheOnlyEightBitByteLetsTheSameBytesReadAsUtf8)
{
    const QByteArray original("[Fuzz]\r\nKey=V`lu\xA0 1\r[\xE2\x82\xAC\r=[\0", 28);
    ProfileDocument doc = ProfileDocument::parse(original);
    ASSERT_EQ(doc.encoding(), ProfileDocument::Encoding::Ansi);
    EXPECT_EQ(doc.sectionNames(), QStringList({QStringLiteral("Fuzz"), QString::fromLatin1("\xE2\x82\xAC")}));

    ASSERT_TRUE(doc.setValue(QStringLiteral("Fuzz"), QStringLiteral("Key"), QStringLiteral("Value 1")));
    const QByteArray written = doc.serialize();
    EXPECT_EQ(written, QByteArray("[Fuzz]\r\nKey=Value 1\r[\xE2\x82\xAC\r=[\0", 28));

    // The untouched bytes now name the section by their UTF-8 reading.
    const ProfileDocument reread = ProfileDocument::parse(written);
    EXPECT_EQ(reread.encoding(), ProfileDocument::Encoding::Utf8);
    EXPECT_EQ(reread.sectionNames(), QStringList({QStringLiteral("Fuzz"), QStringLiteral("\u20AC")}));
    EXPECT_EQ(reread.value(QStringLiteral("Fuzz"), QStringLiteral("Key")), QStringLiteral("Value 1"));
}
