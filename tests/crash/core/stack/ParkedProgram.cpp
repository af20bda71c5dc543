#include "ParkedProgram.h"

#include "crash/core/stack/SymbolNames.h"

#include <QDeadlineTimer>
#include <QFileInfo>

namespace stacktest {
namespace {

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
    f.function = parts[0];
    if (fromGdb && f.function.endsWith(QLatin1String("(void)"))) // gdb's spelling of some members
        f.function.chop(6);
    f.unit = fromGdb ? QString::fromStdString(crash::stack::UnitOfPath(parts[1].toStdString())) : parts[1];
    f.line = parts[2].toInt();
    f.module = parts.size() > 3 ? parts[3] : QString();
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
    gdb.start(QStringLiteral("gdb"), {QStringLiteral("-batch"), QStringLiteral("-nx"), QStringLiteral("-p"),
                                      QString::number(pid()), QStringLiteral("-ex"),
                                      QStringLiteral("source ") + QStringLiteral(STACK_TEST_DIR "/GdbFrames.py")});
    ThreadFrames frames;
    if (!gdb.waitForFinished(120000)) {
        gdb.kill();
        gdb.waitForFinished(5000);
        error = QStringLiteral("gdb did not finish");
        return frames;
    }
    const QString out = QString::fromUtf8(gdb.readAllStandardOutput());
    for (const QString& line : out.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("G ")))
            ParseLine(line, frames, true);
    if (frames.empty())
        error = QString::fromUtf8(gdb.readAllStandardError());
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

QString Describe(const std::vector<Frame>& frames)
{
    QStringList lines;
    for (const Frame& f : frames)
    {
        // Aliases of one assembler symbol differ only in leading underscores ("__clone3", "clone3").
        QString name = f.function;
        while (name.startsWith(QLatin1Char('_')))
            name.remove(0, 1);
        lines << QStringLiteral("%1 at %2:%3").arg(name, f.unit).arg(f.line);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace stacktest
