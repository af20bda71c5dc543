// bench_report: the time from a fault in a 20-thread process to its complete report saved (median
// of several), with eu-stack -p on the same process for comparison; then, in fresh processes, what
// starting the crash reporter adds to a program's start: milliseconds and resident kilobytes.
#include "SettingsText.h"
#include "crash/core/intercept/CrashReporter.h"
#include "platform/UnhandledException.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int* volatile g_null = nullptr;

[[gnu::noinline]] void WriteNull()
{
    *g_null = 1;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

long ResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

QByteArray SettingsStream(const QString& reportFile)
{
    QFile file(QStringLiteral(HALVORN_PROGRAM_SETTINGS));
    file.open(QIODevice::ReadOnly);
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QStringLiteral("object Halvorn: THalvorn\n"),
                 QStringLiteral("object Halvorn: THalvorn\n  BugRepFile = '%1'\n  GnShowCfg = 4\n  NoDupExcepts = False\n"
                                "  BugRepFileSize = 0\n")
                     .arg(reportFile));
    tools::SettingsTextDocument document;
    QString error;
    tools::ParseSettingsText(text, document, error);
    return tools::WriteSettingsStream(document);
}

// Child mode: start-up cost of the reporter, measured in a fresh process.
int MeasureStartup()
{
    const long before = ResidentKb();
    QElapsedTimer timer;
    timer.start();
    crash::ReporterStartOptions options;
    options.settingsOverride = SettingsStream(QStringLiteral("/nonexistent/bugreport.txt"));
    crash::StartCrashReporter(options);
    const qint64 ns = timer.nsecsElapsed();
    std::printf("%lld %ld\n", static_cast<long long>(ns), ResidentKb() - before);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && QByteArray(argv[1]) == "--startup")
        return MeasureStartup();

    QTemporaryDir dir;
    crash::ReporterStartOptions options;
    options.settingsOverride = SettingsStream(dir.filePath(QStringLiteral("bugreport.txt")));
    crash::StartCrashReporter(options);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    // Nineteen threads besides this one, parked.
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    std::vector<std::thread> threads;
    for (int i = 0; i < 19; ++i)
        threads.emplace_back([&] {
            std::unique_lock guard(lock);
            wake.wait(guard, [&] { return stop; });
        });

    constexpr int kRuns = 9;
    std::vector<double> reportMs;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer timer;
        timer.start();
        try {
            platform::ExceptionFrame frame;
            WriteNull();
        } catch (...) {
            platform::HandleApplicationException(std::current_exception());
        }
        reportMs.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::vector<double> euStackMs;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer timer;
        timer.start();
        QProcess eu;
        eu.start(QStringLiteral("eu-stack"), {QStringLiteral("-p"), QString::number(getpid())});
        eu.waitForFinished(30000);
        euStackMs.push_back(timer.nsecsElapsed() / 1e6);
    }
    {
        std::lock_guard guard(lock);
        stop = true;
    }
    wake.notify_all();
    for (auto& t : threads)
        t.join();

    QFile report(dir.filePath(QStringLiteral("bugreport.txt")));
    report.open(QIODevice::ReadOnly);
    const int saved = static_cast<int>(
        QString::fromUtf8(report.readAll()).count(QRegularExpression(QStringLiteral("(^|\n)date/time"))));
    std::printf("fault to complete report saved, 20 threads: median %.1f ms over %d runs (%d reports saved)\n",
                Median(reportMs), kRuns, saved);
    std::printf("eu-stack -p on the same process:            median %.1f ms\n", Median(euStackMs));

    std::vector<double> startMs, startKb;
    for (int i = 0; i < 7; ++i) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--startup")});
        child.waitForFinished(30000);
        const QList<QByteArray> parts = child.readAllStandardOutput().trimmed().split(' ');
        if (parts.size() != 2)
            continue;
        startMs.push_back(parts[0].toDouble() / 1e6);
        startKb.push_back(parts[1].toDouble());
    }
    std::printf("reporter start-up: median %.2f ms, %.0f KB more resident (targets: <= 5 ms, <= 3072 KB)\n",
                Median(startMs), Median(startKb));
    return 0;
}
