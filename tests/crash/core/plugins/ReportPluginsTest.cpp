#include "crash/core/plugins/ReportPlugins.h"

#include <gtest/gtest.h>

using crash::EnabledReportPlugins;
using crash::RegisterReportPlugin;
using crash::ReportPlugin;
using crash::UnregisterReportPlugin;

namespace {

ReportPlugin Plugin(const char* name, const char* description, bool ownSection = true)
{
    const QString text = QString::fromLatin1(description);
    return {QString::fromLatin1(name), text, [text](const crash::ExceptionReport*) { return text; },
            ownSection};
}

QStringList Names(const std::vector<ReportPlugin>& plugins)
{
    QStringList names;
    for (const ReportPlugin& p : plugins)
        names.append(p.name);
    return names;
}

} // namespace

TEST(ReportPlugins, LookupIgnoresCaseFollowsTheSettingAndSkipsUnknownNames)
{
    RegisterReportPlugin(Plugin("Alpha", "a"));
    RegisterReportPlugin(Plugin("beta", "b", false));
    const auto enabled = EnabledReportPlugins(QStringLiteral("BETA|no such plugin||alpha"));
    EXPECT_EQ(Names(enabled), (QStringList{QStringLiteral("beta"), QStringLiteral("Alpha")}));
    ASSERT_EQ(enabled.size(), 2u);
    EXPECT_FALSE(enabled[0].ownSection);
    EXPECT_EQ(enabled[1].produce(nullptr), QStringLiteral("a"));
    EXPECT_TRUE(EnabledReportPlugins(QStringLiteral("gamma")).empty());
    EXPECT_TRUE(EnabledReportPlugins(QString()).empty());
    UnregisterReportPlugin(QStringLiteral("alpha"));
    UnregisterReportPlugin(QStringLiteral("Beta"));
    EXPECT_TRUE(EnabledReportPlugins(QStringLiteral("alpha|beta")).empty());
}

TEST(ReportPlugins, FirstRecordOfANameWinsUntilItIsUnregistered)
{
    RegisterReportPlugin(Plugin("dup", "first"));
    RegisterReportPlugin(Plugin("DUP", "second"));
    auto enabled = EnabledReportPlugins(QStringLiteral("Dup"));
    ASSERT_EQ(enabled.size(), 1u);
    EXPECT_EQ(enabled[0].description, QStringLiteral("first"));

    UnregisterReportPlugin(QStringLiteral("dUp"));
    enabled = EnabledReportPlugins(QStringLiteral("dup"));
    ASSERT_EQ(enabled.size(), 1u);
    EXPECT_EQ(enabled[0].description, QStringLiteral("second"));
    UnregisterReportPlugin(QStringLiteral("dup"));
    EXPECT_TRUE(EnabledReportPlugins(QStringLiteral("dup")).empty());
    UnregisterReportPlugin(QStringLiteral("dup")); // nothing left: no effect
}

TEST(ReportPlugins, BuiltInsStayUntilTheLastUserLeavesAndSpareAProgramsOwnPlugin)
{
    RegisterReportPlugin(Plugin("Hardware", "the program's own"));
    crash::RegisterBuiltInPlugins();
    crash::RegisterBuiltInPlugins();

    const auto enabled = EnabledReportPlugins(QStringLiteral("processes|modules"));
    ASSERT_EQ(enabled.size(), 2u);
    EXPECT_EQ(enabled[0].description, QStringLiteral("list of running processes"));
    EXPECT_EQ(enabled[1].description, QStringLiteral("list of loaded modules"));
    EXPECT_TRUE(enabled[0].ownSection && enabled[1].ownSection);
    // Registered first, the program's "Hardware" shadows the built-in one.
    EXPECT_EQ(EnabledReportPlugins(QStringLiteral("hardware"))[0].description,
              QStringLiteral("the program's own"));

    crash::UnregisterBuiltInPlugins();
    EXPECT_EQ(EnabledReportPlugins(QStringLiteral("modules|processes")).size(), 2u);
    crash::UnregisterBuiltInPlugins();
    EXPECT_TRUE(EnabledReportPlugins(QStringLiteral("modules|processes")).empty());
    const auto left = EnabledReportPlugins(QStringLiteral("hardware"));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].description, QStringLiteral("the program's own"));
    UnregisterReportPlugin(QStringLiteral("hardware"));
}

TEST(ReportPlugins, BuiltInHardwareIsListedWhenNoProgramPluginShadowsIt)
{
    crash::RegisterBuiltInPlugins();
    const auto enabled = EnabledReportPlugins(QStringLiteral("modules|processes|hardware"));
    EXPECT_EQ(Names(enabled), (QStringList{QStringLiteral("modules"), QStringLiteral("processes"),
                                           QStringLiteral("hardware")}));
    EXPECT_EQ(enabled[2].description, QStringLiteral("list of installed hardware"));
    crash::UnregisterBuiltInPlugins();
}
