// Settings objects of the test executable, which carries the program's own settings resource.
#include "crash/core/settings/CrashSettings.h"
#include "support/MessageBoxRecorder.h"
#include "SettingsText.h"
#include "TestModuleLoader.h"
#include "crash/core/settings/DefaultSettings.h"
#include "crash/core/settings/SettingsResource.h"
#include "crash/core/settings/SystemDescription.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSysInfo>
#include <gtest/gtest.h>

using crash::CrashSettings;

namespace {

QString ExecutableName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

// A loaded module without a settings resource (a system library).
platform::ModuleHandle ModuleWithoutSettings()
{
    for (platform::ModuleHandle m : platform::LoadedModules()) {
        if (m != platform::MainModuleHandle() && platform::FindModuleResource(m, "THALVORN").empty() &&
            platform::ModuleFileName(m).contains(QLatin1String("libQt6Core")))
            return m;
    }
    return 0;
}

class CrashSettingsTest : public ::testing::Test
{
protected:
    void TearDown() override { crash::RegisterMainSettings(nullptr); }
    testsupport::MessageBoxRecorder boxes;
};

} // namespace

TEST_F(CrashSettingsTest, ResourceInTheExecutableIsTheConvertedSettingsText)
{
    QFile file(QStringLiteral(HALVORN_PROGRAM_SETTINGS));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    tools::SettingsTextDocument document;
    QString error;
    ASSERT_TRUE(tools::ParseSettingsText(QString::fromUtf8(file.readAll()), document, error));
    const QByteArray expected = tools::WriteSettingsStream(document);
    const auto resource = platform::FindModuleResource(0, crash::SettingsResourceName);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(resource.data()), qsizetype(resource.size())),
              expected);
}

TEST_F(CrashSettingsTest, ProgramValuesAndDefaults)
{
    const CrashSettings s(0);
    ASSERT_TRUE(s.isValid());
    EXPECT_TRUE(s.Enabled());
    EXPECT_FALSE(s.NoSettings());
    EXPECT_TRUE(s.settingsInForce());
    EXPECT_FALSE(s.CheckFileCrc());
    EXPECT_EQ(s.FreezeTimeout(), 60000);
    EXPECT_EQ(s.SmtpPort(), 25); // held twice: 25, then 0
    EXPECT_EQ(s.HttpPort(), 80);
    EXPECT_EQ(s.ScrShotDepth(), 8);
    EXPECT_FALSE(s.AutoClip());
    EXPECT_TRUE(s.SaveBtnVis());
    EXPECT_EQ(s.BugRepFile(), QStringLiteral("bugreport.txt"));
    EXPECT_EQ(s.MailSubj(), QStringLiteral("KRY v10 Pelliform bug report"));
    EXPECT_EQ(s.PrepAttMsg(), QStringLiteral("Preparing attachments..."));
    EXPECT_EQ(s.MailAddr(), QStringLiteral("support@mirelune.example"));
    EXPECT_EQ(s.F1Classes(), QStringLiteral("EDBEditError"));
    EXPECT_EQ(s.F1ShowCfg(), 3);
    EXPECT_EQ(s.SendFailMsg(), QStringLiteral("Sorry, sending the bug report didn't work."));
    EXPECT_EQ(s.BugTrDescr(), QStringLiteral("error details: \r\n%errorDetails%"));
    EXPECT_EQ(s.Assistant(2), QStringLiteral("SaveAssistant|Save Assistant|ContactForm|DetailsForm"));
    EXPECT_FALSE(s.CrashOnBuffer());
    EXPECT_FALSE(s.overrunChecking());

    // Not in the resource: the default table answers.
    EXPECT_EQ(s.AutoDelay(), 60);
    EXPECT_EQ(s.MailFrom(), QString());
    EXPECT_EQ(s.VersionVar(), 0);
    EXPECT_TRUE(s.hasKey("AutoDelay"));
    // In neither place.
    EXPECT_FALSE(s.hasKey("NoSuchKey"));
    EXPECT_FALSE(s.getFlag("NoSuchKey"));
    EXPECT_EQ(s.getNumber("NoSuchKey"), 0);
    EXPECT_EQ(s.getText("NoSuchKey"), QString());
    EXPECT_EQ(s.MinDebugInfo(), QString());
    // A typed read of another kind gets nothing.
    EXPECT_EQ(s.getNumber("Enabled"), 0);
    EXPECT_FALSE(s.getFlag("SmtpPort"));
    EXPECT_TRUE(boxes.boxes().isEmpty());
}

TEST_F(CrashSettingsTest, DefaultTableHasEveryKeyOnceInTableOrder)
{
    const auto table = crash::DefaultSettings();
    ASSERT_EQ(table.size(), 137u);
    EXPECT_STREQ(table.front().name, "Enabled");
    EXPECT_STREQ(table.back().name, "VersionVar");
    QSet<QString> names;
    for (const auto& entry : table)
        names.insert(QString::fromLatin1(entry.name));
    EXPECT_EQ(names.size(), 137);
    EXPECT_EQ(crash::FindDefaultSetting("FreezeTimeout")->numberValue, 60);
    EXPECT_TRUE(crash::FindDefaultSetting("NoSettings")->flagValue);
    EXPECT_EQ(crash::FindDefaultSetting("CrashOnBuffer"), nullptr);
}

TEST_F(CrashSettingsTest, TextsComeBackExpandedButFrozenMsgDoesNot)
{
    CrashSettings s(0);
    EXPECT_EQ(s.TitleBar(), ExecutableName());
    EXPECT_EQ(s.BitFaultMsg(), QStringLiteral("The file \"%1\" seems to be corrupt!").arg(ExecutableName()));

    ASSERT_TRUE(s.setExceptMsg(QStringLiteral("Error in %appname% (%bugReport%)")));
    EXPECT_EQ(s.ExceptMsg(), QStringLiteral("Error in %1 (%bugReport%)").arg(ExecutableName()));
    ASSERT_TRUE(s.setFrozenMsg(QStringLiteral("%appname% froze%LF%")));
    EXPECT_EQ(s.FrozenMsg(), QStringLiteral("%appname% froze%LF%"));
    EXPECT_EQ(s.getText("FrozenMsg"), QStringLiteral("%appname% froze%LF%"));
    EXPECT_EQ(s.getRawText("ExceptMsg"), QStringLiteral("Error in %appname% (%bugReport%)"));
}

TEST_F(CrashSettingsTest, PlaceholdersOfAPlainSettingsObject)
{
    const CrashSettings s(0);
    auto expand = [&](const char* text) { return s.expandPlaceholders(QString::fromUtf8(text)); };

    EXPECT_EQ(expand("%appname%|%modname%|%APPNAME%"),
              ExecutableName() + QLatin1Char('|') + ExecutableName() + QLatin1Char('|') + ExecutableName());
    EXPECT_EQ(expand("a%LF%b"), QStringLiteral("a\r\nb"));
    EXPECT_EQ(expand("%computerName%"), QSysInfo::machineHostName());
    EXPECT_EQ(expand("%os%"), crash::OperatingSystemDescription());
    // Exception placeholders have nothing to say outside an exception.
    EXPECT_EQ(expand("%exceptClass% %exceptMsg% %errorDetails% %bugReport%"),
              QStringLiteral("%exceptClass% %exceptMsg% %errorDetails% %bugReport%"));
    // Stray percent signs and unknown names stay; a closing "%" may open the next placeholder.
    EXPECT_EQ(expand("100% %appname% %unknown% 50%"),
              QStringLiteral("100% ") + ExecutableName() + QStringLiteral(" %unknown% 50%"));
    EXPECT_EQ(expand("%%appname%%"), QLatin1Char('%') + ExecutableName() + QLatin1Char('%'));

    const QString date = expand("%date%");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d$")).match(date).hasMatch())
        << date.toStdString();
    const QString dateTime = expand("%datetime%");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d, \\d\\d:\\d\\d:\\d\\d, \\d{1,3}ms$"))
                    .match(dateTime)
                    .hasMatch())
        << dateTime.toStdString();
    EXPECT_TRUE(dateTime.startsWith(date) ||
                date != QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
}

TEST_F(CrashSettingsTest, VersionPlaceholdersFallBackToTheDeclaredVersion)
{
    const CrashSettings s(0);
    const QString before = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion(QString());
    EXPECT_EQ(s.expandPlaceholders(QStringLiteral("%appversion%/%modversion%")), QStringLiteral("?/?"));
    QCoreApplication::setApplicationVersion(QStringLiteral("3.1.4"));
    EXPECT_EQ(s.expandPlaceholders(QStringLiteral("%appversion%")), QStringLiteral("3.1.4"));
    QCoreApplication::setApplicationVersion(before);
}

TEST_F(CrashSettingsTest, SpecialFolderPlaceholdersUseTheXdgFolders)
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/tmp/halvorn-data-home/");
    const CrashSettings s(0);
    EXPECT_EQ(s.expandPlaceholders(QStringLiteral("%userappdata%")),
              QStringLiteral("/tmp/halvorn-data-home"));
    const QString desktop = s.expandPlaceholders(QStringLiteral("%desktop%"));
    EXPECT_FALSE(desktop.isEmpty());
    EXPECT_FALSE(desktop.endsWith(QLatin1Char('/')));
    EXPECT_FALSE(s.expandPlaceholders(QStringLiteral("%commonappdata%")).endsWith(QLatin1Char('/')));
    if (saved.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", saved);
}

TEST_F(CrashSettingsTest, SetsStayWithTheObjectAndRespectTheKind)
{
    CrashSettings s(0);
    EXPECT_TRUE(s.setSmtpPort(2525));
    EXPECT_EQ(s.SmtpPort(), 2525);
    EXPECT_TRUE(s.setAutoDelay(5)); // default-only key
    EXPECT_EQ(s.AutoDelay(), 5);
    EXPECT_TRUE(s.setText("BrandNewKey", QStringLiteral("x")));
    EXPECT_EQ(s.getText("BrandNewKey"), QStringLiteral("x"));
    EXPECT_TRUE(s.setUnsigned("BigNumber", 0xFFFFFFFFu));
    EXPECT_EQ(s.getUnsigned("BigNumber"), 0xFFFFFFFFu);

    EXPECT_FALSE(s.setFlag("SmtpPort", true)); // a number in the resource
    EXPECT_FALSE(s.setNumber("MailFrom", 1));  // a text in the default table
    EXPECT_TRUE(s.setText("BrandNewKey2", {}));
    EXPECT_FALSE(s.setFlag("BrandNewKey2", true)); // a text since the line above
    EXPECT_EQ(s.SmtpPort(), 2525);

    const CrashSettings fresh(0);
    EXPECT_EQ(fresh.SmtpPort(), 25);
    EXPECT_EQ(fresh.AutoDelay(), 60);
    EXPECT_FALSE(fresh.hasKey("BrandNewKey"));
}

TEST_F(CrashSettingsTest, ModuleWithoutSettingsReadsThroughTheMainSettings)
{
    const platform::ModuleHandle other = ModuleWithoutSettings();
    ASSERT_NE(other, 0u);
    CrashSettings s(other);
    EXPECT_FALSE(s.isValid());
    EXPECT_FALSE(s.settingsInForce());
    EXPECT_FALSE(s.setSmtpPort(1));
    EXPECT_FALSE(s.setPluginEnabled(QStringLiteral("x"), true));

    // No main settings registered: the default table.
    EXPECT_TRUE(s.isMainSettings());
    EXPECT_EQ(s.SmtpPort(), 0);
    EXPECT_TRUE(s.NoSettings());

    crash::RegisterMainSettings(std::make_shared<CrashSettings>(0));
    EXPECT_FALSE(s.isMainSettings());
    EXPECT_EQ(s.SmtpPort(), 25);
    EXPECT_EQ(s.MailAddr(), QStringLiteral("support@mirelune.example"));
    EXPECT_EQ(s.AutoDelay(), 60); // the main settings' default
    EXPECT_EQ(crash::SettingsForModule(0), crash::MainSettings());
}

TEST_F(CrashSettingsTest, ModulesWithoutTheirOwnEntrySeeWhatWasSetOnTheMainSettings)
{
    auto main = std::make_shared<CrashSettings>(0);
    crash::RegisterMainSettings(main);
    ASSERT_TRUE(main->setSmtpPort(2525));
    ASSERT_TRUE(main->setText("MailSubj", QStringLiteral("Set at run time")));
    ASSERT_TRUE(main->setNumber("AutoDelay", 7));
    ASSERT_TRUE(main->setText("MailAddr", QStringLiteral("crashes@mirelune.example")));

    // A module without settings of its own, in this module's code.
    CrashSettings other(ModuleWithoutSettings());
    ASSERT_FALSE(other.isMainSettings());
    EXPECT_EQ(other.SmtpPort(), 2525);
    EXPECT_EQ(other.MailSubj(), QStringLiteral("Set at run time"));
    EXPECT_EQ(other.AutoDelay(), 7);

    // A library with its own copy of the reporter's code: its own entries win, the rest come from
    // the main settings object.
    crashtest::TestModule library;
    ASSERT_TRUE(library.load()) << qPrintable(library.library.errorString());
    EXPECT_EQ(library.number("SmtpPort"), 587);
    EXPECT_EQ(library.number("AutoDelay"), 7);
    EXPECT_EQ(library.readText("MailAddr"), QStringLiteral("crashes@mirelune.example"));

    // Once the main settings are gone, nobody reads through them any more.
    crash::RegisterMainSettings(nullptr);
    main.reset();
    EXPECT_EQ(library.number("AutoDelay"), 60);
}

TEST_F(CrashSettingsTest, PluginsEnableInFrontAndDisableEveryOccurrence)
{
    CrashSettings s(0);
    EXPECT_TRUE(s.pluginEnabled(QStringLiteral("processes")));
    EXPECT_FALSE(s.pluginEnabled(QStringLiteral("process")));
    EXPECT_FALSE(s.pluginEnabled(QString()));

    EXPECT_TRUE(s.setPluginEnabled(QStringLiteral("processes"), false));
    EXPECT_EQ(s.Plugins(), QStringLiteral("modules|hardware"));
    EXPECT_TRUE(s.setPluginEnabled(QStringLiteral("processes"), true));
    EXPECT_EQ(s.Plugins(), QStringLiteral("processes|modules|hardware"));
    EXPECT_TRUE(s.setPluginEnabled(QStringLiteral("modules"), true)); // already there: unchanged
    EXPECT_EQ(s.Plugins(), QStringLiteral("processes|modules|hardware"));

    ASSERT_TRUE(s.setPlugins(QStringLiteral("a|a|b|a")));
    EXPECT_TRUE(s.setPluginEnabled(QStringLiteral("a"), false));
    EXPECT_EQ(s.Plugins(), QStringLiteral("b"));
    EXPECT_TRUE(s.setPluginEnabled(QStringLiteral("b"), false));
    EXPECT_EQ(s.Plugins(), QString());
    EXPECT_TRUE(s.setPluginEnabled(QStringLiteral("c"), true));
    EXPECT_EQ(s.Plugins(), QStringLiteral("c"));
    EXPECT_FALSE(s.setPluginEnabled(QStringLiteral("c|d"), true));
}

TEST_F(CrashSettingsTest, AdditionalFieldsAndAttachmentsAreBuiltOnce)
{
    auto s = std::make_unique<CrashSettings>(0);
    ASSERT_TRUE(s->setAddFields(QStringLiteral("Program=%appname%|Build = 42 |no equals|=nameless|Empty=")));
    ASSERT_TRUE(s->setAddAttachs(
        QStringLiteral("/tmp/a.log>a.txt>logs.zip>log1|/tmp/b.log|>only-name|%desktop%/c.ini>c.ini")));

    const auto fields = s->additionalFields();
    EXPECT_EQ(fields->items(),
              (QList<std::pair<QString, QString>>{{QStringLiteral("Program"), ExecutableName()},
                                                  {QStringLiteral("Build"), QStringLiteral("42")}}));
    const auto attachments = s->additionalAttachments();
    const auto items = attachments->items();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0].file, QStringLiteral("/tmp/a.log"));
    EXPECT_EQ(items[0].sendAs, QStringLiteral("a.txt"));
    EXPECT_EQ(items[0].zip, QStringLiteral("logs.zip"));
    EXPECT_EQ(items[0].field, QStringLiteral("log1"));
    EXPECT_EQ(items[1].file, QStringLiteral("/tmp/b.log"));
    EXPECT_EQ(items[1].sendAs, QString());
    EXPECT_FALSE(items[2].file.startsWith(QLatin1Char('%')));

    ASSERT_TRUE(s->setAddFields(QStringLiteral("Other=1")));
    EXPECT_EQ(s->additionalFields(), fields); // built once
    EXPECT_EQ(s->additionalAttachments(), attachments);
    EXPECT_EQ(fields->owner(), s.get());
    s.reset();
    EXPECT_EQ(fields->owner(), nullptr);
    EXPECT_EQ(attachments->owner(), nullptr);
}

TEST_F(CrashSettingsTest, AssistantsAreFoundByNameAndLoseTheScreenshotPageWithoutOne)
{
    CrashSettings s(0);
    auto send = s.findAssistant(QStringLiteral("SendAssistant"));
    ASSERT_TRUE(send.has_value());
    EXPECT_EQ(send->title, QStringLiteral("Send Assistant"));
    EXPECT_EQ(send->pages, (QStringList{QStringLiteral("ContactForm"), QStringLiteral("DetailsForm"),
                                        QStringLiteral("ScrShotForm")}));
    EXPECT_EQ(s.findAssistant(QStringLiteral("SendAssistant"), false)->pages.size(), 2);
    EXPECT_EQ(s.findAssistant(QStringLiteral("PrintAssistant"))->title, QStringLiteral("Print Assistant"));
    EXPECT_FALSE(s.findAssistant(QStringLiteral("Nope")).has_value());

    ASSERT_TRUE(s.setScrShotDepth(0));
    EXPECT_EQ(s.findAssistant(QStringLiteral("SendAssistant"))->pages.size(), 2);

    // Definitions end at the first gap.
    ASSERT_TRUE(s.setText("Assistant5", QStringLiteral("Hidden|Hidden|ContactForm")));
    EXPECT_FALSE(s.findAssistant(QStringLiteral("Hidden")).has_value());
    ASSERT_TRUE(s.setText("Assistant4", QStringLiteral("Fourth|Fourth %appname%|DetailsForm")));
    EXPECT_EQ(s.findAssistant(QStringLiteral("Fourth"))->title, QStringLiteral("Fourth ") + ExecutableName());
    EXPECT_TRUE(s.findAssistant(QStringLiteral("Hidden")).has_value());
}

TEST_F(CrashSettingsTest, FormCacheRestoresFieldsByName)
{
    CrashSettings s(0);
    s.fillFormCache({{QStringLiteral("ContactEmail"), false, QStringLiteral(" me@example.org "), false},
                     {QStringLiteral("ContactName"), false, QStringLiteral("Me"), false},
                     {QStringLiteral("Remember"), true, {}, true}});
    QList<crash::FormFieldValue> fresh{{QStringLiteral("ContactEmail"), false, {}, false},
                                       {QStringLiteral("Remember"), true, {}, false},
                                       {QStringLiteral("DetailsMemo"), false, QStringLiteral("keep"), false}};
    s.readFormCache(fresh);
    EXPECT_EQ(fresh[0].text, QStringLiteral("me@example.org"));
    EXPECT_TRUE(fresh[1].checked);
    EXPECT_EQ(fresh[2].text, QStringLiteral("keep"));

    s.fillFormCache({{QStringLiteral("Remember"), true, {}, false}});
    s.readFormCache(fresh);
    EXPECT_FALSE(fresh[1].checked);
}

namespace {
const char g_versionText[] = "7.6.5-beta";
const char* g_versionPointer = g_versionText;
char* g_heapPointer = nullptr;
} // namespace

TEST_F(CrashSettingsTest, VersionVariableIsFollowedOnlyInsideTheModule)
{
    const platform::ModuleHandle self = platform::MainModuleHandle();
    const auto offset = [&](const void* p) {
        return std::int32_t(reinterpret_cast<std::uintptr_t>(p) - self);
    };
    EXPECT_EQ(crash::ReadVersionVariable(0, offset(&g_versionPointer)), QStringLiteral("7.6.5-beta"));
    EXPECT_EQ(crash::ReadVersionVariable(0, 0), QString());
    EXPECT_EQ(crash::ReadVersionVariable(0, 0x7ffffff0), QString()); // beyond the image

    std::string heap = "on the heap";
    g_heapPointer = heap.data();
    EXPECT_EQ(crash::ReadVersionVariable(0, offset(&g_heapPointer)), QString());
}
