#include "crash/core/report/ContextSections.h"

#include <QStringList>
#include <utility>

namespace crash {
namespace {

QString Hex(std::uint64_t value, int digits)
{
    return QString::number(value, 16).rightJustified(digits, QLatin1Char('0'));
}

} // namespace

QString FormatCpuRegisters(const stack::CpuContext& c)
{
    const std::pair<const char*, std::uint64_t> registers[] = {
        {"rax", c.rax}, {"rbx", c.rbx}, {"rcx", c.rcx}, {"rdx", c.rdx}, {"rsi", c.rsi}, {"rdi", c.rdi},
        {"rip", c.rip}, {"rsp", c.rsp}, {"rbp", c.rbp}, {"r8", c.r8},   {"r9", c.r9},   {"r10", c.r10},
        {"r11", c.r11}, {"r12", c.r12}, {"r13", c.r13}, {"r14", c.r14}, {"r15", c.r15}};
    QStringList lines;
    for (const auto& [name, value] : registers)
        lines.append(QString::fromLatin1(name).leftJustified(3) + QLatin1String(" = ") + Hex(value, 16));
    return lines.join(QLatin1String("\r\n"));
}

QString FormatStackDump(std::uint64_t address, const QByteArray& bytes)
{
    QStringList lines;
    const qsizetype available = bytes.size();
    for (int line = 0; line < StackDumpLines && qsizetype(line) * 16 < available; ++line) {
        const qsizetype first = qsizetype(line) * 16;
        QString hex, chars;
        for (int i = 0; i < 16; ++i) {
            const bool present = first + i < available;
            if (i == 8)
                hex += present ? QLatin1String("- ") : QLatin1String("  ");
            if (!present) {
                hex += QLatin1String("   ");
                continue;
            }
            const auto byte = static_cast<unsigned char>(bytes[first + i]);
            hex += Hex(byte, 2) + QLatin1Char(' ');
            chars += byte >= 32 && byte <= 126 ? QChar(byte) : QChar(u'.');
        }
        lines.append(Hex(address + std::uint64_t(first), 16) + QLatin1String("  ") + hex + QLatin1Char(' ') +
                     chars);
    }
    return lines.join(QLatin1String("\r\n"));
}

} // namespace crash
