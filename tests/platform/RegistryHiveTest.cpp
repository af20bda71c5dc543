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
