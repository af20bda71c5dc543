// Layout of the text (addresses 16 hex digits):
//   public <function>                 or "sub_<address>" without a name
//   loc_<address>:                    a jump target; the function start adds "  ; function entry point"
//                                     from column 31
//   <address> <mark><line> <instruction>
//                                     mark ">" at the address asked for, else blank; the source line
//                                     (zero-padded) where it changes, else blanks
//     dd loc_<target>  ; case jump table
//                                     the entries of a switch jump table after its indirect jump
//     on <type> do loc_<landing pad>  the catch clauses of the call range starting at the line above
//     else loc_<landing pad>           catch (...)
//   ; ---------------------------------------------------------
//                                     between separate code areas (a gap in the listed code)
//   [...]                             where LimitDisAsm cut lines away
// A jump table is recognised in the form the compiler emits for a switch: "cmp r, N" and a
// conditional jump guarding "lea base, [rip+table]" ... "jmp r", the table holding N+1 32-bit
// offsets from its own start.

#include "crash/core/stack/Disassembly.h"

#include "crash/core/stack/CapstoneLibrary.h"
#include "crash/core/stack/ExceptionHandlers.h"
#include "crash/core/stack/ProcessModules.h"
#include "platform/GuardedMemory.h"

#include <QStringList>
#include <map>
#include <set>
#include <vector>

namespace crash::stack {
namespace {

constexpr std::uint64_t MaxFunctionBytes = 64 * 1024;
constexpr std::uint64_t WindowWithoutSymbols = 96;
constexpr std::uint64_t MaxJumpTableEntries = 1024;

QString Hex(std::uint64_t v)
{
    return QStringLiteral("%1").arg(v, 16, 16, QLatin1Char('0'));
}

QString Label(std::uint64_t v)
{
    return QStringLiteral("loc_") + Hex(v);
}

struct Instruction
{
    std::uint64_t address = 0;
    QString mnemonic;
    QString operands;
    int line = 0;
    std::optional<std::uint64_t> target; // direct branch or call
    bool isCall = false;
    std::vector<std::uint64_t> table; // jump-table targets after an indirect jmp
};

// The jump table used by the indirect jmp at `index`, from the instructions before it.
std::vector<std::uint64_t> JumpTable(const std::vector<cs_insn>& insns, std::size_t index)
{
    std::optional<std::uint64_t> table;
    std::optional<std::uint64_t> bound;
    for (std::size_t back = 1; back <= 16 && back <= index; ++back) {
        const cs_insn& insn = insns[index - back];
        const cs_x86& x86 = insn.detail->x86;
        if (!table && insn.id == X86_INS_LEA && x86.op_count == 2 && x86.operands[1].type == X86_OP_MEM &&
            x86.operands[1].mem.base == X86_REG_RIP)
            table = insn.address + insn.size + std::uint64_t(x86.operands[1].mem.disp);
        if (!bound && insn.id == X86_INS_CMP && x86.op_count == 2 && x86.operands[1].type == X86_OP_IMM &&
            x86.operands[1].imm >= 0 && std::uint64_t(x86.operands[1].imm) < MaxJumpTableEntries)
            bound = std::uint64_t(x86.operands[1].imm) + 1;
    }
    std::vector<std::uint64_t> targets;
    if (!table || !bound)
        return targets;
    for (std::uint64_t i = 0; i < *bound; ++i) {
        std::int32_t offset = 0;
        if (platform::ReadOwnMemory(*table + 4 * i, &offset, 4) != 4)
            break;
        targets.push_back(*table + std::uint64_t(std::int64_t(offset)));
    }
    return targets;
}

class Composer
{
public:
    Composer(std::uint64_t address, bool symbolic) : address_(address), symbolic_(symbolic) {}

    QString Compose(std::uint64_t start, std::uint64_t end, const QString& name, int limitLines)
    {
        std::vector<std::uint8_t> code(end - start);
        code.resize(platform::ReadOwnMemory(start, code.data(), code.size()));
        if (code.empty() || address_ < start || address_ >= start + code.size())
            return {};
        Decode(start, code);
        if (instructions_.empty())
            return {};
        std::set<std::uint64_t> labels{start};
        for (const Instruction& i : instructions_) {
            if (i.target && !i.isCall && *i.target >= start && *i.target < start + code.size())
                labels.insert(*i.target);
            labels.insert(i.table.begin(), i.table.end());
        }
        std::map<std::uint64_t, QStringList> handlers; // by the first instruction they cover
        for (const CatchClause& c : CatchClausesOf(start)) {
            labels.insert(c.landingPad);
            const QString line = c.catchAll ? QStringLiteral("  else ") + Label(c.landingPad)
                                            : QStringLiteral("  on ") + c.type + QStringLiteral(" do ") + Label(c.landingPad);
            QStringList& lines = handlers[c.rangeStart];
            if (!lines.contains(line))
                lines << line;
        }
        const auto [first, last] = Window(limitLines);
        int lineWidth = 0;
        for (const Instruction& i : instructions_)
            lineWidth = std::max<int>(lineWidth, i.line > 0 ? QString::number(i.line).size() : 0);

        QStringList out{QStringLiteral("public ") + name};
        if (first > 0)
            out << QStringLiteral("[...]");
        int previousLine = -1;
        std::uint64_t expected = instructions_[first].address;
        for (std::size_t k = first; k <= last; ++k) {
            const Instruction& i = instructions_[k];
            if (i.address != expected)
                out << QStringLiteral("; ---------------------------------------------------------");
            expected = i.address + 1;
            if (k + 1 < instructions_.size())
                expected = instructions_[k + 1].address;
            if (labels.count(i.address)) {
                QString label = Label(i.address) + QLatin1Char(':');
                if (i.address == start)
                    label = label.leftJustified(30) + QStringLiteral("  ; function entry point");
                out << label;
            }
            QString lineField(lineWidth, QLatin1Char(' '));
            if (i.line > 0 && i.line != previousLine)
                lineField = QStringLiteral("%1").arg(i.line, lineWidth, 10, QLatin1Char('0'));
            previousLine = i.line > 0 ? i.line : previousLine;
            const QChar mark = k == Containing() ? QLatin1Char('>') : QLatin1Char(' ');
            QString text = Hex(i.address) + QLatin1Char(' ') + mark + lineField + QLatin1Char(' ') + i.mnemonic;
            const QString operands = Operands(i, labels);
            if (!operands.isEmpty())
                text += QLatin1Char(' ') + operands;
            out << text;
            if (auto h = handlers.find(i.address); h != handlers.end())
                out << h->second;
            for (std::size_t e = 0; e < i.table.size(); ++e)
                out << QStringLiteral("  dd ") + Label(i.table[e]) +
                           (e == 0 ? QStringLiteral("  ; case jump table") : QString());
        }
        if (last + 1 < instructions_.size())
            out << QStringLiteral("[...]");
        return out.join(QStringLiteral("\r\n"));
    }

private:
    void Decode(std::uint64_t start, const std::vector<std::uint8_t>& code)
    {
        const CapstoneLibrary* capstone = Capstone();
        csh handle = 0;
        if (!capstone || capstone->open(CS_ARCH_X86, CS_MODE_64, &handle) != CS_ERR_OK)
            return;
        capstone->option(handle, CS_OPT_DETAIL, CS_OPT_ON);
        capstone->option(handle, CS_OPT_SKIPDATA, CS_OPT_ON); // padding and data between code areas
        cs_insn* insns = nullptr;
        const std::size_t count = capstone->disasm(handle, code.data(), code.size(), start, 0, &insns);
        const std::vector<cs_insn> view(insns, insns + count);
        ProcessModules& modules = Modules();
        for (std::size_t k = 0; k < count; ++k) {
            const cs_insn& insn = insns[k];
            Instruction i;
            i.address = insn.address;
            i.mnemonic = QString::fromLatin1(insn.mnemonic);
            i.operands = QString::fromLatin1(insn.op_str);
            if (insn.id != 0 && insn.detail != nullptr) {
                const cs_x86& x86 = insn.detail->x86;
                i.isCall = insn.id == X86_INS_CALL;
                const bool branch = capstone->insn_group(handle, &insn, CS_GRP_JUMP) || i.isCall;
                if (branch && x86.op_count == 1 && x86.operands[0].type == X86_OP_IMM)
                    i.target = std::uint64_t(x86.operands[0].imm);
                if (insn.id == X86_INS_JMP && x86.op_count == 1 && x86.operands[0].type == X86_OP_REG)
                    i.table = JumpTable(view, k);
            }
            const ResolvedAddress r = modules.Resolve(i.address);
            if (!r.frames.empty())
                i.line = r.frames.front().line;
            instructions_.push_back(std::move(i));
        }
        if (count > 0)
            capstone->free(insns, count);
        capstone->close(&handle);
    }

    QString Operands(const Instruction& i, const std::set<std::uint64_t>& labels) const
    {
        if (!symbolic_ || !i.target)
            return i.operands;
        if (!i.isCall && labels.count(*i.target))
            return Label(*i.target);
        const ResolvedAddress r = Modules().Resolve(*i.target);
        if (!r.frames.empty() && !r.frames.back().function.empty())
            return QString::fromStdString(r.frames.back().function);
        return i.operands;
    }

    // The instruction that holds the address.
    std::size_t Containing() const
    {
        std::size_t at = 0;
        while (at + 1 < instructions_.size() && instructions_[at + 1].address <= address_)
            ++at;
        return at;
    }

    // The instructions to list: all, or about `limitLines` source lines around the address.
    std::pair<std::size_t, std::size_t> Window(int limitLines) const
    {
        const std::size_t at = Containing();
        if (limitLines <= 0)
            return {0, instructions_.size() - 1};
        // Runs of one source line count as one line each.
        const auto runStart = [&](std::size_t k) {
            while (k > 0 && instructions_[k - 1].line == instructions_[k].line)
                --k;
            return k;
        };
        const auto runEnd = [&](std::size_t k) {
            while (k + 1 < instructions_.size() && instructions_[k + 1].line == instructions_[k].line)
                ++k;
            return k;
        };
        std::size_t first = runStart(at), last = runEnd(at);
        for (int lines = 1; lines < limitLines;) {
            const bool canUp = first > 0, canDown = last + 1 < instructions_.size();
            if (!canUp && !canDown)
                break;
            if (canUp) {
                first = runStart(first - 1);
                ++lines;
            }
            if (canDown && lines < limitLines) {
                last = runEnd(last + 1);
                ++lines;
            }
        }
        return {first, last};
    }

    std::uint64_t address_;
    bool symbolic_;
    std::vector<Instruction> instructions_;
};

} // namespace

QString DisassembleFunction(std::uint64_t address, bool symbolic, int limitLines)
{
    try {
        ProcessModules& modules = Modules();
        const ResolvedAddress r = modules.Resolve(address);
        std::uint64_t start = address > WindowWithoutSymbols ? address - WindowWithoutSymbols : 0;
        std::uint64_t end = address + WindowWithoutSymbols;
        QString name = QStringLiteral("sub_") + QString::number(address, 16);
        if (!r.frames.empty()) {
            const SymbolFrame& f = r.frames.back();
            if (!f.function.empty())
                name = QString::fromStdString(f.function);
            // The code part that holds the address (a cold part starts where its range starts).
            if (f.functionStart != 0 && f.functionStart + r.moduleBias <= address)
                start = f.functionStart + r.moduleBias;
            if (f.functionEnd != 0 && f.functionEnd + r.moduleBias > address)
                end = f.functionEnd + r.moduleBias;
            if (start > address || address - start > MaxFunctionBytes)
                start = address - WindowWithoutSymbols;
            end = std::min(end, start + MaxFunctionBytes);
            if (!f.function.empty() && start != f.functionStart + r.moduleBias)
                name = QString::fromStdString(f.function);
        }
        return Composer(address, symbolic).Compose(start, end, name, limitLines);
    } catch (...) {
        return QStringLiteral("Internal error in ParseFunction while composing the disassembling string...  :-(");
    }
}

} // namespace crash::stack
