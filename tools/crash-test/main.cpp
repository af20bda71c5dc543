// crash-test [--settings FILE] [--windows] CASE [N]
// Shows a window and, 300 ms later, raises CASE from a timer's event handler N times, 200 ms apart
// (default once); then quits normally. Exit codes: 0 after a normal quit, 2 after the crash
// reporter restarted the program, 3 after it closed it, 64 for a wrong command line.
#include "CrashCases.h"
#include "SettingsText.h"
#include "app/TApplication.h"
#include "crash/core/intercept/CrashReporter.h"
#include "crash/core/settings/CrashSettings.h"
#include "crash/send/SendProcedure.h"
#include "crash/ui/CrashWindows.h"
#include "crash/ui/DialogProcess.h"
#include "platform/SanitizerFaultSignals.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTimer>
#include <cstdio>

// The crash reporter, not a sanitizer, handles the faults this program raises.
PLATFORM_FAULT_SIGNALS_BELONG_TO_THE_PROGRAM()

namespace {

constexpr int kUsageError = 64;

void PrintHelp()
{
    std::printf("Usage: crash-test [--settings FILE] [--windows] CASE [N]\n\n"
                "Shows a window and, 300 ms later, raises CASE from a timer's event handler N times,\n"
                "200 ms apart (default 1), then quits normally.\n\n"
                "  --settings FILE  use the crash reporter settings written in FILE (the readable\n"
                "                   settings format) instead of the ones built in\n"
                "  --windows        show the crash reporter's dialog, progress window and screenshot\n"
                "                   and deliver reports, as the skin tool does (without it nothing\n"
                "                   is shown or sent)\n"
                "  --help           show this text\n\nCases:\n");
    for (const auto& c : crashtest::Cases())
        std::printf("  %-32s %s\n", c.name, c.description);
    std::printf("\nExit codes: 0 after a normal quit, 2 after a restart, 3 when the crash reporter\n"
                "closed the program, 64 for a wrong command line.\n");
}

int UsageError(const QString& why)
{
    std::fprintf(stderr, "crash-test: %s\nTry 'crash-test --help'.\n", why.toLocal8Bit().constData());
    return kUsageError;
}

bool CompileSettings(const QString& file, QByteArray& stream, QString& error)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(file, in.errorString());
        return false;
    }
    tools::SettingsTextDocument document;
    QString why;
    if (!tools::ParseSettingsText(QString::fromUtf8(in.readAll()), document, why)) {
        error = QStringLiteral("%1: %2").arg(file, why);
        return false;
    }
    stream = tools::WriteSettingsStream(document);
    return true;
}

// The reporter's windows and delivery, as the skin tool registers them.
void RegisterWindowsAndDelivery()
{
    crash::send::RegisterReportDelivery();
    crash::ui::RegisterCrashWindows();
}

// A second copy started by a frozen or fatally faulted run to show its dialog: the report and
// its settings come in the request file.
int RunDialogProcess(int argc, char** argv)
{
    crash::RegisterMainSettings(std::make_shared<crash::CrashSettings>(0));
    app::TApplication application(argc, argv);
    app::TApplication::loadWindowFonts();
    RegisterWindowsAndDelivery();
    return crash::ui::RunDialogProcessIfAsked(argc, argv, crash::ui::DefaultDialogActions()).value_or(1);
}

} // namespace

int main(int argc, char** argv)
{
    if (crash::ui::IsDialogProcessStart(argc, argv))
        return RunDialogProcess(argc, argv);
    QString settingsFile;
    bool windows = false;
    QStringList positional;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            PrintHelp();
            return 0;
        }
        if (arg == QLatin1String("--settings")) {
            if (++i >= argc)
                return UsageError(QStringLiteral("--settings needs a file"));
            settingsFile = QString::fromLocal8Bit(argv[i]);
        } else if (arg == QLatin1String("--windows")) {
            windows = true;
        } else if (arg.startsWith(QLatin1String("--"))) {
            return UsageError(QStringLiteral("unknown option %1").arg(arg));
        } else {
            positional << arg;
        }
    }
    if (positional.isEmpty() || positional.size() > 2)
        return UsageError(QStringLiteral("give one CASE and at most one N"));
    const crashtest::CrashCase* chosen = crashtest::FindCase(positional[0]);
    if (!chosen)
        return UsageError(QStringLiteral("unknown case '%1'").arg(positional[0]));
    int count = 1;
    if (positional.size() == 2) {
        bool ok = false;
        count = positional[1].toInt(&ok);
        if (!ok || count < 1 || count > 1000)
            return UsageError(QStringLiteral("N must be a number from 1 to 1000"));
    }

    crash::ReporterStartOptions options;
    if (!settingsFile.isEmpty()) {
        QString error;
        if (!CompileSettings(settingsFile, options.settingsOverride, error))
            return UsageError(error);
    }
    crash::StartCrashReporter(options);

    // The tool's application object: it hands exceptions escaping event handlers to the reporter.
    app::TApplication application(argc, argv);
    if (windows) {
        app::TApplication::loadWindowFonts();
        RegisterWindowsAndDelivery();
    }
    QLabel window(QStringLiteral("crash-test: %1").arg(QLatin1String(chosen->name)));
    window.resize(320, 80);
    window.show();

    if (positional[0] == QLatin1String(crashtest::kOutsideHandlerCase)) {
        chosen->raise(1);
        return 0;
    }
    const bool freeze = positional[0] == QLatin1String(crashtest::kFreezeCase);
    int raised = 0;
    QTimer timer;
    timer.setInterval(200);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (raised >= (freeze ? 1 : count)) {
            timer.stop();
            QApplication::quit();
            return;
        }
        ++raised;
        chosen->raise(freeze ? count : 1);
    });
    QTimer::singleShot(300, [&] {
        timer.start();
        ++raised;
        chosen->raise(freeze ? count : 1);
    });
    return application.exec();
}
