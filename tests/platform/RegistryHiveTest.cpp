#include "platform/RegistryHive.h"
#include "demo-product/HiveWriter.h"
#include "platform/Registry.h"
#include "platform/WinePrefix.h"
#include "support/ScopedPrefix.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

// Text exactly as Wine 8 writes it, including the details that trip parsers up.
const char kSystemReg[] = R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1] 1796629034
#time=1dd861dc71d5b56
"InstallLocation"="C:\\Program Files (x86)\\Orlix\\Mirelune"
"MajorVersion"=dword:0000000b
"Quote"="say \"hi\""
"Accent"="Oc\x00e9an"
"Short"="caf\xe9"
"Path"=str(2):"%SystemRoot%\\system32"
@="the default"
"Blob"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\
  18,19,1a
"Qword"=hex(b):05,00,00,00,00,00,00,00
"Multi"=str(7):"one\0two\0"

[Software\\Classes\\.txt] 1796629034
@="txtfile"
)";

} // namespace

TEST(RegistryHive, ParsesWineTextFormat)
{
    const RegistryHive hive = RegistryHive::parse(kSystemReg);
    EXPECT_EQ(hive.arch(), "win64");
    const QString key = "software\\WOW6432NODE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1";
    ASSERT_TRUE(hive.hasKey(key)) << "key lookups ignore case";
    EXPECT_TRUE(hive.hasKey("Software\\Wow6432Node")) << "parents of written keys exist";

    const RegistryValue* location = hive.value(key, "installlocation");
    ASSERT_NE(location, nullptr);
    EXPECT_EQ(location->type, REG_SZ);
    EXPECT_EQ(location->text(), "C:\\Program Files (x86)\\Orlix\\Mirelune");
    EXPECT_EQ(location->data.size(), (location->text().size() + 1) * 2) << "UTF-16 with its terminating zero";

    EXPECT_EQ(hive.value(key, "MajorVersion")->type, REG_DWORD);
    EXPECT_EQ(hive.value(key, "MajorVersion")->data, QByteArray("\x0b\0\0\0", 4));
    EXPECT_EQ(hive.value(key, "Quote")->text(), "say \"hi\"");
    EXPECT_EQ(hive.value(key, "Accent")->text(), QString::fromUtf8("Océan"));
    EXPECT_EQ(hive.value(key, "Short")->text(), QString::fromUtf8("café"));
    EXPECT_EQ(hive.value(key, "Path")->type, REG_EXPAND_SZ);
    EXPECT_EQ(hive.value(key, "Path")->text(), "%SystemRoot%\\system32");
    EXPECT_EQ(hive.value(key, "")->text(), "the default");

    const RegistryValue* blob = hive.value(key, "Blob");
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(blob->type, REG_BINARY);
    ASSERT_EQ(blob->data.size(), 26) << "the continuation line belongs to the value";
    EXPECT_EQ(uchar(blob->data[25]), 0x1a);
    EXPECT_EQ(hive.value(key, "Qword")->type, REG_QWORD);
    EXPECT_EQ(hive.value(key, "Multi")->type, REG_MULTI_SZ);

    QStringList children = hive.subKeys("Software");
    children.sort();
    EXPECT_EQ(children, QStringList({"Classes", "Wow6432Node"}));
}

TEST(RegistryHive, WriterAndParserAgreeOnEscapes)
{
    const QString tricky = QString::fromUtf8("a\\b\"c\x01 é1 ü z \n end");
    demo::HiveWriter writer;
    writer.key("Software\\Test").string("v", tricky).expandString("e", "%PATH%");
    const RegistryHive hive = RegistryHive::parse(writer.text());
    ASSERT_NE(hive.value("Software\\Test", "v"), nullptr);
    EXPECT_EQ(hive.value("Software\\Test", "v")->text(), tricky);
}

TEST(RegistryHive, DamagedFilesNeverCrashAndKeepWhatIsReadable)
{
    EXPECT_EQ(RegistryHive::parse("").keyCount(), 0);
    EXPECT_EQ(RegistryHive::parse("REGEDIT4\n[Software\\\\X]\n\"a\"=\"b\"\n").keyCount(), 0)
        << "not a Wine hive";
    EXPECT_EQ(RegistryHive::load("/nonexistent/system.reg").keyCount(), 0);

    // Cut off at every length: whatever is complete is kept, nothing reads past the end.
    const QByteArray full(kSystemReg);
    for (int cut = 0; cut <= full.size(); ++cut)
        RegistryHive::parse(full.left(cut));
    const RegistryHive truncated = RegistryHive::parse(full.left(full.indexOf("\"Quote\"") + 12));
    EXPECT_NE(
        truncated.value("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1",
                        "InstallLocation"),
        nullptr);

    const QByteArray garbled = "WINE REGISTRY Version 2\n"
                               "[Broken\\\\Key 123\n"
                               "\"lost\"=\"value\"\n"
                               "[Good] 1\n"
                               "\"n\"=dword:zz\n"
                               "\"h\"=hex:0g\n"
                               "\"u\"=\"unterminated\n"
                               "garbage line\n"
                               "\"ok\"=\"yes\"\n";
    const RegistryHive hive = RegistryHive::parse(garbled);
    EXPECT_FALSE(hive.hasKey("Broken\\Key 123"));
    EXPECT_EQ(hive.value("Good", "n"), nullptr);
    EXPECT_EQ(hive.value("Good", "h"), nullptr);
    EXPECT_EQ(hive.value("Good", "u"), nullptr);
    ASSERT_NE(hive.value("Good", "ok"), nullptr);
    EXPECT_EQ(hive.value("Good", "ok")->text(), "yes");
}

// Names compare by upper-casing each UTF-16 unit on its own; lower-casing "\u0130" would give two
// units and shift every position after it.
TEST(RegistryHive, NamesWhoseCaseMappingChangesLengthKeepTheirSpellingAndValues)
{
    const QByteArray text = QStringLiteral("WINE REGISTRY Version 2\n"
                                           "[a\\\\\u0130] 1\n\"v\"=\"1\"\n"
                                           "[a\\\\\u0130\\\\Stra\u00DFe] 1\n\"\u0130d\"=\"2\"\n"
                                           "[a\\\\b] 1\n")
                                .toUtf8();
    const RegistryHive hive = RegistryHive::parse(text);
    QStringList children = hive.subKeys(QStringLiteral("a"));
    children.sort();
    EXPECT_EQ(children, QStringList({QStringLiteral("b"), QStringLiteral("\u0130")}));
    EXPECT_EQ(hive.subKeys(QStringLiteral("A\\\u0130")), QStringList({QStringLiteral("Stra\u00DFe")}));
    const RegistryValue* v = hive.value(QStringLiteral("a\\\u0130"), QStringLiteral("V"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->text(), QStringLiteral("1"));
    const RegistryValue* nested = hive.value(QStringLiteral("A\\\u0130\\STRA\u00DFE"), QStringLiteral("\u0130D"));
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(nested->text(), QStringLiteral("2"));
    // Only the unit-by-unit mapping counts: "i" is not "\u0130", nor "ss" the sharp s.
    EXPECT_FALSE(hive.hasKey(QStringLiteral("a\\i")));
    EXPECT_FALSE(hive.hasKey(QStringLiteral("a\\\u0130\\Strasse")));
}

// A key path with an empty part ("a\\\\b" in the file's escaping) names no key Windows could have;
// its header counts as damaged, so no nameless subkey is ever reported.
TEST(RegistryHive, KeyPathsWithEmptyPartsAreLeftOut)
{
    const RegistryHive hive = RegistryHive::parse("WINE REGISTRY Version 2\n"
                                                  "[a\\\\\\\\b] 1\n\"v\"=\"1\"\n"
                                                  "[a\\\\c] 1\n\"w\"=\"2\"\n");
    EXPECT_EQ(hive.subKeys(QStringLiteral("a")), QStringList({QStringLiteral("c")}));
    EXPECT_EQ(hive.keyCount(), 1);
    EXPECT_EQ(hive.value(QStringLiteral("a\\\\b"), QStringLiteral("v")), nullptr);
}

TEST(Registry, ThirtyTwoBitViewAndTypedReads)
{
    EXPECT_EQ(RedirectTo32BitView("\\SOFTWARE\\Microsoft\\X", true), "SOFTWARE\\Wow6432Node\\Microsoft\\X");
    EXPECT_EQ(RedirectTo32BitView("\\SOFTWARE\\Microsoft\\X", false), "SOFTWARE\\Microsoft\\X");
    EXPECT_EQ(RedirectTo32BitView("System\\CurrentControlSet", true), "System\\CurrentControlSet");
    EXPECT_EQ(RedirectTo32BitView("Software\\Wow6432Node\\A", true), "Software\\Wow6432Node\\A");
    EXPECT_EQ(RedirectTo32BitView("SoftwareX\\A", true), "SoftwareX\\A");

    testsupport::TempDir prefix;
    testsupport::ScopedPrefix inPrefix(prefix.path());
    prefix.write("system.reg", kSystemReg);
    const QString path = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1";
    EXPECT_FALSE(RegistryKey::open(RootKey::LocalMachine, path, KEY_READ)) << "only in the 32-bit view";
    auto key = RegistryKey::open(RootKey::LocalMachine, path, KEY_READ | KEY_WOW64_32KEY);
    ASSERT_TRUE(key);
    QString text;
    uint32_t number = 0;
    EXPECT_EQ(key->readString("InstallLocation", text), RegStatus::Ok);
    EXPECT_EQ(key->readString("Path", text), RegStatus::Ok) << "expandable strings read as strings";
    EXPECT_EQ(key->readString("MajorVersion", text), RegStatus::WrongType);
    EXPECT_EQ(key->readDword("MajorVersion", number), RegStatus::Ok);
    EXPECT_EQ(number, 11u);
    EXPECT_EQ(key->readDword("InstallLocation", number), RegStatus::WrongType);
    EXPECT_EQ(key->readString("Missing", text), RegStatus::NotFound);
    EXPECT_FALSE(RegistryKey::open(RootKey::CurrentUser, "Software", KEY_READ)) << "no user.reg";
}

// Parsed hives are kept per file; every way the file can change must still show at the next open.
TEST(Registry, AChangedHiveFileShowsAtTheNextOpen)
{
    testsupport::TempDir prefix;
    qputenv("WINEPREFIX", prefix.path().toUtf8());
    auto hiveWith = [](const char* location) {
        return QByteArray("WINE REGISTRY Version 2\n#arch=win32\n\n[Software\\\\Vendor] 1\n\"Where\"=\"") +
               location + "\"\n";
    };
    auto where = []() {
        QString text;
        const auto key = RegistryKey::open(RootKey::LocalMachine, "Software\\Vendor");
        if (key)
            key->readString("Where", text);
        return text;
    };
    const QString file = prefix.write("system.reg", hiveWith("A"));
    EXPECT_EQ(where(), "A");
    EXPECT_EQ(where(), "A");

    // Rewritten in place at once, same size.
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(hiveWith("B"));
    }
    EXPECT_EQ(where(), "B");

    // Replaced by a renamed new file, as Wine saves it, with the old modification time.
    const QString fresh = prefix.write("system.reg.new", hiveWith("C"));
    QFile(fresh).setFileTime(QFileInfo(file).lastModified(), QFileDevice::FileModificationTime);
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QFile::rename(fresh, file));
    EXPECT_EQ(where(), "C");

    // Gone: no keys any more.
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_EQ(where(), QString());
    prefix.write("system.reg", hiveWith("D"));
    EXPECT_EQ(where(), "D");
    qunsetenv("WINEPREFIX");
}
