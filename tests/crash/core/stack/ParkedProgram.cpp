#include "ParkedProgram.h"

#include "crash/core/stack/SymbolNames.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <algorithm>

namespace stacktest {
namespace {

// gdb names a function without debug information with its parameter list ("f(int) const"); the
// listing never does.
QString WithoutParameters(QString name)
{
    if (name.endsWith(QLatin1String(" const")))
        name.chop(6);
    if (!name.endsWith(QLatin1Char(')')))
        return name;
    int depth = 0;
    for (qsizetype i = name.size() - 1; i >= 0; --i) {
        depth += name[i] == QLatin1Char(')') ? 1 : name[i] == QLatin1Char('(') ? -1 : 0;
        if (depth == 0) // "operator()" is a name, not a parameter list
            return name.left(i).endsWith(QLatin1String("operator")) ? name : name.left(i);
    }
    return name;
}

// "F <tid> function|unit|line|module" or "G <tid> <kind> function|file|line".
void ParseLine(const QString& line, ThreadFrames& into, bool fromGdb)
{
    const QStringList head = line.section(QLatin1Char('|'), 0, 0).split(QLatin1Char(' '));
    const int fields = fromGdb ? 3 : 2;
    if (head.size() < fields)
        return;
    const qint64 tid = head[1].toLongLong();
    const QString rest = line.mid(head[0].size() + head[1].size() + 2 + (fromGdb ? head[2].size() + 1 : 0));
    const QStringList parts = rest.split(QLatin1Char('|'));
    if (parts.size() < 3)
        return;
    Frame f;
    f.function = fromGdb ? WithoutParameters(parts[0]) : parts[0];
    f.unit = fromGdb ? QString::fromStdString(crash::stack::UnitOfPath(parts[1].toStdString())) : parts[1];
    f.line = parts[2].toInt();
    if (fromGdb && parts.size() >= 6) {
        f.pc = parts[3].toULongLong(nullptr, 16);
        f.callSite = parts[4].toULongLong(nullptr, 16);
        f.functionStart = parts[5].toULongLong(nullptr, 16);
    } else if (!fromGdb) {
        f.module = parts.size() > 3 ? parts[3] : QString();
    }
    f.tailCall = fromGdb && head[2] == QLatin1String("tail");
    into[tid].push_back(f);
}

} // namespace

ParkedProgram::ParkedProgram(const QString& program, const QStringList& arguments)
{
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(program, arguments);
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && process_.waitForReadyRead(int(deadline.remainingTime()))) {
        output_ += QString::fromUtf8(process_.readAllStandardOutput());
        if (output_.contains(QLatin1String("READY\n"))) {
            ready_ = true;
            break;
        }
    }
    for (const QString& line : output_.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("F ")))
            ParseLine(line, own_, false);
}

ParkedProgram::~ParkedProgram()
{
    process_.kill();
    process_.waitForFinished(5000);
}

ThreadFrames ParkedProgram::GdbTraces(QString& error) const
{
    QProcess gdb;
    gdb.start(QStringLiteral("gdb"),
              {QStringLiteral("-batch"), QStringLiteral("-nx"), QStringLiteral("-p"), QString::number(pid()),
               QStringLiteral("-ex"),
               QStringLiteral("source ") + QStringLiteral(STACK_TEST_DIR "/GdbFrames.py")});
    ThreadFrames frames;
    if (!gdb.waitForFinished(120000)) {
        gdb.kill();
        gdb.waitForFinished(5000);
        error = QStringLiteral("gdb did not finish");
        return frames;
    }
    frames = ParseGdbFrames(QString::fromUtf8(gdb.readAllStandardOutput()));
    if (frames.empty())
        error = QString::fromUtf8(gdb.readAllStandardError());
    return frames;
}

ThreadFrames ParseGdbFrames(const QString& output, qint64* selected)
{
    ThreadFrames frames;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("G ")))
            ParseLine(line, frames, true);
        else if (selected && line.startsWith(QLatin1String("S ")))
            *selected = line.mid(2).trimmed().toLongLong();
    }
    return frames;
}

std::vector<Frame> Comparable(const std::vector<Frame>& gdbFrames)
{
    std::vector<Frame> out;
    for (const Frame& f : gdbFrames) {
        if (f.tailCall || f.function.isEmpty())
            continue;
        out.push_back(f);
        if (f.function == QLatin1String("main"))
            break; // the C library's start frames below main are left out
    }
    return out;
}

int UnmatchedFrames(const std::vector<Frame>& ours, const std::vector<Frame>& gdb,
                    const std::function<bool(const Frame& ours, const Frame& gdb)>& same)
{
    const auto match = [&same](const Frame& a, const Frame& b) {
        return same ? same(a, b) : Describe({a}) == Describe({b});
    };
    std::vector<std::vector<int>> common(ours.size() + 1, std::vector<int>(gdb.size() + 1, 0));
    for (std::size_t i = 1; i <= ours.size(); ++i)
        for (std::size_t j = 1; j <= gdb.size(); ++j)
            common[i][j] = match(ours[i - 1], gdb[j - 1]) ? common[i - 1][j - 1] + 1
                                                          : std::max(common[i - 1][j], common[i][j - 1]);
    return int(ours.size()) - common[ours.size()][gdb.size()];
}

QString Describe(const std::vector<Frame>& frames)
{
    QStringList lines;
    for (const Frame& f : frames) {
        // Aliases of one assembler symbol differ only in leading underscores ("__clone3", "clone3").
        QString name = f.function;
        while (name.startsWith(QLatin1Char('_')))
            name.remove(0, 1);
        lines << QStringLiteral("%1 at %2:%3").arg(name, f.unit).arg(f.line);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace stacktest
