// The three sections as a crash on this machine would produce them.
#include "crash/core/plugins/HardwarePlugin.h"
#include "crash/core/plugins/ReportPlugins.h"
#include "platform/ProcessInfo.h"
#include "platform/SysfsDevices.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QString Section(const char* name)
{
    const auto plugins = crash::EnabledReportPlugins(QString::fromLatin1(name));
    return plugins.size() == 1 ? plugins[0].produce(nullptr) : QStringLiteral("<not registered>");
}

} // namespace

TEST(PluginsOnThisMachine, SectionsHoldThisProcessAndLibc)
{
    crash::RegisterBuiltInPlugins();
    const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString modules = Section("modules");
    const QString processes = Section("processes");
    const QString hardware = Section("hardware");
    crash::UnregisterBuiltInPlugins();

    const QStringList moduleLines = modules.split(QStringLiteral("\r\n"));
    EXPECT_EQ(moduleLines.filter(QRegularExpression(QStringLiteral("^[0-9a-f]{16} libc\\.so\\.6 +6 +/"))).size(), 1)
        << modules.toStdString();
    EXPECT_EQ(moduleLines.filter(QRegularExpression(QStringLiteral("^[0-9a-f]{16} ") + executable + " ")).size(), 1)
        << modules.toStdString();

    const QString ownPid = QString::number(platform::CurrentProcessId(), 16);
    const QRegularExpression ownLine(QStringLiteral("^0*") + ownPid + " " + executable + " +(\\d+ +)?(normal|below normal|high|idle|realtime) +/");
    EXPECT_EQ(processes.split(QStringLiteral("\r\n")).filter(ownLine).size(), 1) << processes.toStdString();

    if (platform::SysfsDevices().devices().empty()) {
        EXPECT_EQ(hardware, QString()); // a container that shows no devices
    } else {
        EXPECT_TRUE(hardware.startsWith(QStringLiteral("+ "))) << hardware.toStdString();
        EXPECT_TRUE(hardware.contains(QStringLiteral("\r\n  - "))) << hardware.toStdString();
    }
}
