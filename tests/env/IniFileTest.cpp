#include "env/PSafeIniFile.h"
#include "env/TIniFile.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <gtest/gtest.h>

using testsupport::ReadAll;
using testsupport::TempDir;

namespace {

bool isReadOnly(const QString& path)
{
    return !(QFile::permissions(path) &
             (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther));
}

// Sets the process-wide locale for one test.
class DefaultLocale
{
public:
    explicit DefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~DefaultLocale() { QLocale::setDefault(m_saved); }

private:
    QLocale m_saved;
};

class CurrentFolder
{
public:
    explicit CurrentFolder(const QString& path) : m_saved(QDir::currentPath()) { QDir::setCurrent(path); }
    ~CurrentFolder() { QDir::setCurrent(m_saved); }

private:
    QString m_saved;
};

} // namespace

TEST(TIniFile, TypedValuesRoundTripThroughTheFile)
{
    TempDir dir;
    const QString path = dir.file("own.ini");
    {
        env::TIniFile ini(path);
        ini.WriteString("validate", "skinname", "Night Sky");
        ini.WriteInteger("Colors", "Back", -17);
        ini.WriteBool("Colors", "Flag", true);
        ini.WriteBinaryStream("Data", "Blob", QByteArray("\x00\x01\xFE", 3));
        ini.WriteString("Colors", "Long", QString(5000, 'q'));
    }
    const env::TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("VALIDATE", "SkinName", "-"), "Night Sky");
    EXPECT_EQ(ini.ReadInteger("Colors", "Back", 0), -17);
    EXPECT_TRUE(ini.ReadBool("Colors", "Flag", false));
    EXPECT_TRUE(ini.ReadBool("Colors", "Missing", true));
    EXPECT_EQ(ini.ReadBinaryStream("Data", "Blob"), QByteArray("\x00\x01\xFE", 3));
    EXPECT_EQ(ini.ReadString("Colors", "Long", {}).size(), 5000) << "long values are not cut";
    EXPECT_EQ(ini.ReadSections(), QStringList({"validate", "Colors", "Data"}));
    EXPECT_EQ(ini.ReadSection("colors"), QStringList({"Back", "Flag", "Long"}));
    EXPECT_EQ(ini.ReadSectionValues("validate"), QStringList{"skinname=Night Sky"});
    EXPECT_TRUE(ini.ValueExists("Colors", "flag"));
    EXPECT_FALSE(ini.ValueExists("Colors", "nope"));
    EXPECT_TRUE(ini.SectionExists("DATA"));
    EXPECT_FALSE(ini.SectionExists("Other"));
}

TEST(TIniFile, FailedWriteRaisesUnableToWriteWithThePath)
{
    TempDir dir;
    const QString path = dir.file("missing-folder/own.ini");
    env::TIniFile ini(path);
    try {
        ini.WriteString("S", "k", "v");
        FAIL() << "no exception";
    } catch (const env::EIniFileException& e) {
        EXPECT_EQ(e.message(), "Unable to write to " + path);
        EXPECT_EQ(e.className(), "EIniFileException");
    }
    const QString readOnly = dir.write("ro.ini", "[S]\nk=1\n");
    QFile::setPermissions(readOnly, QFile::ReadOwner);
    env::TIniFile ro(readOnly);
    EXPECT_THROW(ro.EraseSection("S"), env::EIniFileException);
    EXPECT_THROW(ro.WriteInteger("S", "k", 2), env::EIniFileException);
    EXPECT_NO_THROW(ro.DeleteKey("S", "k")) << "removing a key reports nothing";
    EXPECT_EQ(ReadAll(readOnly), QByteArray("[S]\nk=1\n"));
}

TEST(TIniFile, ReadIntegerTakesHexadecimalAndFallsBackToDefault)
{
    TempDir dir;
    const QString path =
        dir.write("n.ini", "[N]\na=0x1F\nb=0X10\nc=12\nd=abc\ne=\nf=0x\ng=$ff\nh=0xFFFFFFFF\n"
                           "i=2147483648\nj=-2147483648\nk=0x1FFFFFFFF\nl=12 \nm=1.5\n");
    const env::TIniFile ini(path);
    const auto read = [&](const char* key) { return ini.ReadInteger("N", key, -99); };
    EXPECT_EQ(read("a"), 31);
    EXPECT_EQ(read("b"), 16);
    EXPECT_EQ(read("c"), 12);
    EXPECT_EQ(read("d"), -99);
    EXPECT_EQ(read("e"), -99);
    EXPECT_EQ(read("f"), -99);
    EXPECT_EQ(read("g"), 255);
    EXPECT_EQ(read("h"), -1) << "hexadecimal fills all 32 bits";
    EXPECT_EQ(read("i"), -99) << "decimal overflow";
    EXPECT_EQ(read("j"), INT32_MIN);
    EXPECT_EQ(read("k"), -99);
    EXPECT_EQ(read("l"), 12) << "the profile functions trim the value";
    EXPECT_EQ(read("m"), -99);
    EXPECT_EQ(read("absent"), -99);
}

TEST(PSafeIniFile, BareNameIsBoundToTheCurrentFolder)
{
    TempDir dir;
    CurrentFolder here(dir.path());
    {
        env::PSafeIniFile::TIniFile ini("Settings.ini");
        EXPECT_EQ(ini.FileName(), "./Settings.ini");
        ini.WriteString("S", "k", "v");
    }
    EXPECT_EQ(ReadAll(dir.file("Settings.ini")), QByteArray("[S]\r\nk=v\r\n"));
}

TEST(PSafeIniFile, MissingFolderIsCreatedBeforeAnythingIsRead)
{
    TempDir dir;
    const QString path = dir.file("Orlix/Mirelune/deeper/Main.ini");
    env::PSafeIniFile::TIniFile ini(path);
    EXPECT_TRUE(QDir(dir.file("Orlix/Mirelune/deeper")).exists());
    EXPECT_FALSE(QFile::exists(path)) << "construction reads and writes nothing";
    QDir(dir.file("Orlix")).removeRecursively();
    ini.UpdateFile();
    EXPECT_TRUE(QDir(dir.file("Orlix/Mirelune/deeper")).exists()) << "a folder removed meanwhile comes back";
    ini.WriteString("Main", "Skin", "x");
    EXPECT_EQ(ini.ReadString("Main", "Skin", {}), "x");
}

TEST(PSafeIniFile, ReleasingLeavesAReadOnlyFileWritable)
{
    TempDir dir;
    const QString path = dir.write("Main.ini", "[Main]\r\nSkin=classic\r\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup);
    {
        env::PSafeIniFile::TIniFile ini(path);
        EXPECT_FALSE(isReadOnly(path)) << "construction already clears it";
        QFile::setPermissions(path, QFile::ReadOwner);
    }
    EXPECT_FALSE(isReadOnly(path)) << "and so does the release, with nothing written";
    EXPECT_EQ(ReadAll(path), QByteArray("[Main]\r\nSkin=classic\r\n"));
}

TEST(PSafeIniFile, LongValueIsReadWholeAndFailedWritesAreSilent)
{
    TempDir dir;
    const QString value = QString(4999, 'v') + QLatin1Char('!');
    const QString path = dir.file("Update/Update.ini");
    {
        env::PSafeIniFile::TIniFile ini(path);
        ini.WriteString("Beta", "long", value);
        EXPECT_EQ(ini.ReadString("Beta", "long", {}), value) << "the buffer grows 2048, 3072, 4608, 6912";
        EXPECT_EQ(ini.ReadString("Beta", "absent", "dflt"), "dflt");
    }
    dir.write("blocker", "x");
    env::PSafeIniFile::TIniFile blocked(dir.file("blocker/inner/a.ini"));
    EXPECT_NO_THROW(blocked.WriteString("S", "k", "v"));
    EXPECT_NO_THROW(blocked.EraseSection("S"));
    EXPECT_NO_THROW(blocked.WriteDateTime("S", "d", QDateTime::currentDateTime()));
    EXPECT_EQ(blocked.ReadString("S", "k", "none"), "none");
}

TEST(PSafeIniFile, DateTimeHasOneFixedFormWhateverTheLocale)
{
    DefaultLocale german(QLocale(QLocale::German, QLocale::Germany));
    ASSERT_TRUE(QLocale().dateFormat(QLocale::ShortFormat).contains('.'))
        << "the test needs a '.' date separator";
    TempDir dir;
    const QString path = dir.file("d.ini");
    const QDateTime stamp(QDate(2025, 3, 4), QTime(13, 14, 15, 789));
    {
        env::PSafeIniFile::TIniFile ini(path);
        ini.WriteDateTime("Times", "Last", stamp);
    }
    EXPECT_EQ(ReadAll(path), QByteArray("[Times]\r\nLast=03/04/2025 13:14:15:789\r\n"));
    const env::PSafeIniFile::TIniFile ini(path);
    EXPECT_EQ(ini.ReadDateTime("Times", "Last", {}), QDateTime(QDate(2025, 3, 4), QTime(13, 14, 15)))
        << "same second, milliseconds read as 0";
}

TEST(PSafeIniFile, ReadDateTimeGivesTheDefaultForBadText)
{
    TempDir dir;
    const QString path = dir.write(
        "d.ini", "[T]\nempty=\nwords=yesterday\nmonth13=13/01/2020 10:00:00\n"
                 "badtime=01/02/2020 25:00:00\njunktime=01/02/2020 xx\n"
                 "dateonly=12/31/1999\nshortyear=1/2/30 7:08\nsuffix=01/02/2020 10:11:12 and more\n");
    const env::PSafeIniFile::TIniFile ini(path);
    const QDateTime fallback(QDate(2000, 1, 1), QTime(1, 2, 3));
    for (const char* key : {"empty", "words", "month13", "badtime", "junktime", "absent"})
        EXPECT_EQ(ini.ReadDateTime("T", key, fallback), fallback) << key;
    EXPECT_EQ(ini.ReadDateTime("T", "dateonly", fallback), QDateTime(QDate(1999, 12, 31), QTime(0, 0)));
    const int shortYear = ini.ReadDateTime("T", "shortyear", fallback).date().year();
    EXPECT_EQ(shortYear % 100, 30);
    EXPECT_LE(std::abs(shortYear - QDate::currentDate().year()), 50)
        << "two-digit years fall in the 50-year window";
    EXPECT_EQ(ini.ReadDateTime("T", "shortyear", fallback).time(), QTime(7, 8));
    EXPECT_EQ(ini.ReadDateTime("T", "suffix", fallback), QDateTime(QDate(2020, 1, 2), QTime(10, 11, 12)));
}
