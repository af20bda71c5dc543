// The "modules", "processes" and "hardware" sections of a report, against the command-line tools
// that list the same things: `ps -eo pid,ni,comm,args`, `lspci -mm` and `cat /proc/self/maps`,
// run back to back. 500 extra sleeping processes make the process list a realistic size. Prints
// the median of 11 runs of each and their ratio (target: at most 0.5).
//
//   cmake --preset bench && cmake --build build-bench --target bench_plugins && build-bench/bin/bench_plugins
//
// The sleepers belong to one shell that ends them when told to, and on its own within a second
// when this program goes away, however it ends; each sleeps 120 s at most in any case.
#include "crash/core/plugins/HardwarePlugin.h"
#include "crash/core/plugins/ModulesPlugin.h"
#include "crash/core/plugins/ProcessesPlugin.h"
#include "platform/ProcessInfo.h"
#include "platform/ProcessTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int kSleepers = 500;
constexpr int kRuns = 11;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A sleep time no other run uses, so the sleepers can be counted.
QString SleeperMark()
{
    return QStringLiteral("119.%1").arg(platform::CurrentProcessId() % 100000);
}

int CountSleepers(const QString& mark)
{
    int count = 0;
    for (const platform::ProcessStatus& p : platform::ProcessTable().snapshot())
        if (p.argsHead.size() == 2 && p.argsHead[1] == mark)
            ++count;
    return count;
}

class Sleepers
{
public:
    explicit Sleepers(const QString& mark)
    {
        const QString script =
            QStringLiteral("pids=; i=0\n"
                           "while [ $i -lt %1 ]; do sleep %2 & pids=\"$pids $!\"; i=$((i+1)); done\n"
                           "trap 'kill $pids 2>/dev/null; exit 0' TERM INT\n"
                           "echo ready\n"
                           "while kill -0 $PPID 2>/dev/null; do sleep 1; done\n"
                           "kill $pids 2>/dev/null\n")
                .arg(kSleepers)
                .arg(mark);
        m_shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), script});
        m_shell.waitForStarted(5000);
        QElapsedTimer waited;
        waited.start();
        while (!m_shell.readAllStandardOutput().contains("ready") && waited.elapsed() < 60000 &&
               m_shell.state() == QProcess::Running)
            m_shell.waitForReadyRead(1000);
    }
    ~Sleepers()
    {
        m_shell.terminate();
        if (!m_shell.waitForFinished(5000))
            m_shell.kill(); // the sleepers then end within 120 s on their own
        m_shell.waitForFinished(5000);
    }

private:
    QProcess m_shell;
};

struct PluginTimes
{
    double modules = 0, processes = 0, hardware = 0;
    double total() const { return modules + processes + hardware; }
};

PluginTimes TimePlugins(qsizetype& characters)
{
    PluginTimes times;
    QElapsedTimer timer;
    timer.start();
    characters = crash::ModulesPlugin::systemText().size();
    times.modules = timer.nsecsElapsed() / 1e6;
    timer.restart();
    characters += crash::ProcessesPlugin::systemText().size();
    times.processes = timer.nsecsElapsed() / 1e6;
    timer.restart();
    characters += crash::HardwarePlugin::systemText().size();
    times.hardware = timer.nsecsElapsed() / 1e6;
    return times;
}

double TimeTools(qsizetype& bytes)
{
    const std::pair<const char*, QStringList> commands[] = {
        {"ps", {QStringLiteral("-eo"), QStringLiteral("pid,ni,comm,args")}},
        {"lspci", {QStringLiteral("-mm")}},
        {"cat", {QStringLiteral("/proc/self/maps")}},
    };
    bytes = 0;
    QElapsedTimer timer;
    timer.start();
    for (const auto& [program, args] : commands) {
        QProcess tool;
        tool.start(QString::fromLatin1(program), args);
        tool.waitForFinished(30000);
        bytes += tool.readAllStandardOutput().size();
    }
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    for (const char* tool : {"ps", "lspci", "cat", "sh"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::fprintf(stderr, "bench_plugins: %s is not installed (scripts/install-deps.sh --tests)\n",
                         tool);
            return 1;
        }
    }

    const QString mark = SleeperMark();
    std::vector<double> ours, theirs, modules, processes, hardware;
    qsizetype characters = 0, bytes = 0;
    int started = 0;
    {
        Sleepers sleepers(mark);
        // "ready" comes when every sleeper is forked; some may not have become "sleep" yet.
        QElapsedTimer waited;
        waited.start();
        while ((started = CountSleepers(mark)) < kSleepers && waited.elapsed() < 30000)
            QThread::msleep(50);
        TimePlugins(characters); // warm the file caches for both sides
        TimeTools(bytes);
        for (int run = 0; run < kRuns; ++run) {
            const PluginTimes times = TimePlugins(characters);
            ours.push_back(times.total());
            modules.push_back(times.modules);
            processes.push_back(times.processes);
            hardware.push_back(times.hardware);
            theirs.push_back(TimeTools(bytes));
        }
    }
    int left = CountSleepers(mark);
    for (int i = 0; i < 50 && left > 0; ++i) {
        QThread::msleep(100);
        left = CountSleepers(mark);
    }

    const double ourMedian = Median(ours), theirMedian = Median(theirs);
    std::printf("sleeping processes started: %d, left afterwards: %d\n", started, left);
    std::printf("plugins (modules + processes + hardware): %.2f ms median of %d (%lld characters)\n",
                ourMedian, kRuns, static_cast<long long>(characters));
    std::printf("  modules %.2f ms, processes %.2f ms, hardware %.2f ms (medians)\n", Median(modules),
                Median(processes), Median(hardware));
    std::printf(
        "ps -eo pid,ni,comm,args + lspci -mm + cat /proc/self/maps: %.2f ms median of %d (%lld bytes)\n",
        theirMedian, kRuns, static_cast<long long>(bytes));
    std::printf("ratio: %.3f (target <= 0.5)\n", ourMedian / theirMedian);
    return left == 0 && started == kSleepers ? 0 : 1;
}
