#include "crash/core/report/ReportHeader.h"

#include "crash/core/report/ReportFormat.h"
#include "crash/core/settings/SystemDescription.h"
#include "platform/AddressSpace.h"
#include "platform/ModuleHandle.h"
#include "platform/ProcessInfo.h"
#include "platform/Registry.h"
#include "platform/SystemFacts.h"
#include "platform/UserAccount.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QStorageInfo>
#include <QThread>
#include <chrono>
#include <cmath>
#include <functional>

#ifndef SKINTOOL_VERSION
#define SKINTOOL_VERSION ""
#endif

namespace crash {
namespace {

std::atomic<std::int64_t> g_startMs{
    std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count()};

std::int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString DecimalSeparator()
{
    return QLocale::system().decimalPoint();
}

QString UserName()
{
    const QString name = platform::LoginName();
    if (name.isEmpty())
        return {};
    return platform::IsAdministrator() ? name + QLatin1String("  <admin>") : name;
}

QString RegisteredOwner()
{
    const auto key = platform::RegistryKey::open(
        platform::RootKey::LocalMachine, QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion"));
    if (!key)
        return {};
    QString owner, organization;
    key->readString(QStringLiteral("RegisteredOwner"), owner);
    key->readString(QStringLiteral("RegisteredOrganization"), organization);
    if (!organization.trimmed().isEmpty())
        owner += QLatin1String(" / ") + organization;
    return owner;
}

QString PhysicalMemory()
{
    const platform::PhysicalMemory memory = platform::ReadPhysicalMemory();
    if (memory.totalBytes == 0)
        return {};
    auto mb = [](std::uint64_t bytes) { return QString::number((bytes + 512 * 1024) / (1024 * 1024)); };
    return mb(memory.availableBytes) + QLatin1Char('/') + mb(memory.totalBytes) +
           QLatin1String(" MB (free/total)");
}

QString DiskFree(const QStorageInfo& storage)
{
    if (!storage.isValid())
        return {};
    return QLatin1Char('(') + storage.rootPath() + QLatin1String(") ") +
           FormatSize(std::uint64_t(std::max<qint64>(storage.bytesAvailable(), 0)), DecimalSeparator());
}

QString FreeDiskSpace()
{
    const QStorageInfo root(QDir::rootPath());
    QString text = DiskFree(root);
    const QStorageInfo program(QFileInfo(platform::ModuleFileName(0)).absolutePath());
    if (program.isValid() && program.rootPath() != root.rootPath())
        text += QLatin1Char(' ') + DiskFree(program);
    return text;
}

QString DisplayMode()
{
    // Screens belong to the GUI thread; elsewhere their data may be changing under us.
    auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!gui)
        return {};
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QSize size = screen->size();
    return QString::number(size.width()) + QLatin1Char('x') + QString::number(size.height()) +
           QLatin1String(", ") + QString::number(screen->depth()) + QLatin1String(" bit");
}

QString CommandLine()
{
    const QStringList arguments = platform::CommandLineArguments();
    if (arguments.size() < 2)
        return {};
    QStringList quoted;
    for (const QString& argument : arguments)
        quoted.append(argument.contains(QLatin1Char(' ')) || argument.isEmpty()
                          ? QLatin1Char('"') + argument + QLatin1Char('"')
                          : argument);
    return quoted.join(QLatin1Char(' '));
}

// The module holding this code, when it is not the executable (a library carrying the reporter).
platform::ModuleHandle ReporterModule()
{
    const platform::ModuleHandle own = platform::ModuleOfAddress(reinterpret_cast<const void*>(&NowMs));
    return own == platform::MainModuleHandle() ? 0 : own;
}

QString FileTime(const QString& path)
{
    const QDateTime modified = QFileInfo(path).lastModified();
    return modified.isValid() ? modified.toString(QStringLiteral("yyyy-MM-dd hh:mm")) + QLatin1String("\r\n")
                              : QString();
}

QString Version(const ExceptionReport& report)
{
    QString version = report.versionText();
    if (version.isEmpty())
        version = QCoreApplication::applicationVersion();
    if (version.isEmpty())
        version = QStringLiteral(SKINTOOL_VERSION);
    return version;
}

QString CompiledWith()
{
#if defined(__clang__)
    return QStringLiteral("Clang " __clang_version__).trimmed();
#elif defined(__GNUC__)
    return QStringLiteral("GCC " __VERSION__);
#else
    return QStringLiteral("unknown C++ compiler");
#endif
}

QString ExceptionMessage(const ExceptionReport& report)
{
    if (report.isFreeze())
        return report.exceptionMessage();
    const QString message = OneLine(report.exceptionMessage()).trimmed();
    return message == report.exceptionClass() ? QString() : message;
}

} // namespace

void NoteReporterStart()
{
    g_startMs = NowMs();
}

int HeaderNameWidth(const ReportFields& header)
{
    int width = 0;
    for (const auto& item : header.items())
        width = std::max(width, int(item.first.size()));
    return width + 1;
}

void FillReportHeader(ExceptionReport& report, ReportSources& sources)
{
    ReportFields& header = report.header();
    auto set = [&](const QString& name, const std::function<QString()>& produce) {
        try {
            header.setField(name, produce());
        } catch (...) {
            // A field that cannot be computed is left out.
        }
    };
    auto field = [&](const char* name, const std::function<QString()>& produce) {
        set(QLatin1String(name), produce);
    };

    const platform::ModuleHandle module = ReporterModule();
    const QString executable = platform::ModuleFileName(0);
    const std::vector<platform::AddressRegion> memory = platform::ReadAddressSpace();

    field("date/time", [&] { return FormatReportTime(report.created()); });
    field("computer name", [] { return platform::HostName(); });
    field("wts client name", [] { return platform::RemoteClientName(); });
    field("user name", [] { return UserName(); });
    field("registered owner", [] { return RegisteredOwner(); });
    field("operating system",
          [] { return OperatingSystemDescription() + QLatin1String(" build ") + OperatingSystemBuild(); });
    field("system language", [] { return QLocale::languageToString(QLocale::system().language()); });
    field("system up time", [] {
        const double seconds = platform::SystemUpTimeSeconds();
        return seconds < 0 ? QString() : FormatDuration(std::int64_t(seconds));
    });
    field("program up time", [] { return FormatProgramUpTime(NowMs() - g_startMs.load()); });
    try {
        const platform::Processors processors = platform::ReadProcessors();
        const int count = std::min(processors.count, 16);
        const QString name = processors.name.simplified();
        if (count > 1)
            set(QStringLiteral("processors"),
                [&] { return QString::number(count) + QLatin1String("x ") + name; });
        else
            set(QStringLiteral("processor"), [&] { return name; });
    } catch (...) {
    }
    field("physical memory", [] { return PhysicalMemory(); });
    field("free disk space", [] { return FreeDiskSpace(); });
    field("display mode", [] { return DisplayMode(); });
    field("process id", [] { return HexId(platform::CurrentProcessId()); });
    field("allocated memory",
          [&] { return FormatSize(platform::AllocatedMemory(memory), DecimalSeparator()); });
    field("largest free block",
          [&] { return FormatSize(platform::LargestFreeBlock(memory), DecimalSeparator()); });
    field("command line", [] { return CommandLine(); });
    field("executable", [&] { return QFileInfo(executable).fileName(); });
    if (module != 0) {
        field("current module", [&] { return QFileInfo(platform::ModuleFileName(module)).fileName(); });
        field("module date/time", [&] { return FileTime(platform::ModuleFileName(module)); });
    } else {
        field("exec. date/time", [&] { return FileTime(executable); });
    }
    field("version", [&] { return Version(report); });
    field("compiled with", [] { return CompiledWith(); });
    field("Halvorn version", [] { return QStringLiteral("4.0.14"); });
    try {
        for (const ReportPlugin& plugin : sources.enabledPlugins(report.Plugins())) {
            if (!plugin.ownSection && plugin.produce)
                set(plugin.name, [&] { return plugin.produce(&report); });
        }
    } catch (...) {
    }
    field("callstack crc", [] { return QStringLiteral("will be calculated soon"); });
    field("exception number", [&] { return QString::number(report.exceptionNumber()); });
    if (!report.isFreeze())
        field("exception class", [&] { return report.exceptionClass(); });
    field("exception message", [&] { return ExceptionMessage(report); });

    // Later additions (AddFields, the assistants' fields) go in front of the last field before
    // "callstack crc".
    const auto items = header.items();
    for (int i = 0; i < int(items.size()); ++i) {
        if (items[i].first == QLatin1String("callstack crc")) {
            header.setAddIndex(std::max(i - 1, 1));
            break;
        }
    }
    try {
        if (const auto additional = report.additionalFields()) {
            for (const auto& item : additional->items())
                set(item.first, [&item] { return item.second; });
        }
    } catch (...) {
    }
}

} // namespace crash
