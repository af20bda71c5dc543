// The "disassembling" text of a function with a switch jump table and a call.

#include "crash/core/stack/Disassembly.h"

#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>
#include <stdexcept>

namespace crash::stack {
namespace {

volatile int disassemblySink = 0;

[[gnu::noinline]] int CalledFromSwitch(int v)
{
    disassemblySink = disassemblySink + v;
    return disassemblySink;
}

[[gnu::noinline]] int SwitchOnValue(int v)
{
    switch (v) {
    case 0: disassemblySink = 11; break;
    case 1: disassemblySink = 23; break;
    case 2: disassemblySink = 37; break;
    case 3: disassemblySink = 41; break;
    case 4: disassemblySink = 59; break;
    case 5: disassemblySink = 67; break;
    case 6: disassemblySink = 71; break;
    case 7: disassemblySink = 83; break;
    default: return CalledFromSwitch(v);
    }
    return disassemblySink * 3;
}

std::uint64_t Start()
{
    return reinterpret_cast<std::uint64_t>(&SwitchOnValue);
}

QString Hex(std::uint64_t v)
{
    return QStringLiteral("%1").arg(v, 16, 16, QLatin1Char('0'));
}

TEST(Disassembly, FunctionWithJumpTableAndMarkedAddress)
{
    ASSERT_EQ(SwitchOnValue(3), 123);
    const QStringList lines = DisassembleFunction(Start(), false, 0).split(QStringLiteral("\r\n"));
    ASSERT_GT(lines.size(), 10);
    EXPECT_EQ(lines[0], QStringLiteral("public crash::stack::(anonymous namespace)::SwitchOnValue"));
    EXPECT_EQ(lines[1], (QStringLiteral("loc_") + Hex(Start()) + QLatin1Char(':')).leftJustified(30) +
                            QStringLiteral("  ; function entry point"));
    ASSERT_TRUE(lines[2].startsWith(Hex(Start())));
    EXPECT_EQ(lines[2][17], QLatin1Char('>'));
    EXPECT_EQ(lines.filter(QStringLiteral("  ; case jump table")).size(), 1);
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^  dd loc_[0-9a-f]{16}"))).size(), 8);
    // Every jump-table target has its label.
    for (const QString& entry : lines.filter(QStringLiteral("  dd loc_")))
        EXPECT_TRUE(lines.contains(entry.mid(5, 20) + QLatin1Char(':'))) << entry.toStdString();
    // Exactly one marked line.
    int marked = 0;
    for (const QString& line : lines)
        marked += line.size() > 17 && line[16] == QLatin1Char(' ') && line[17] == QLatin1Char('>') ? 1 : 0;
    EXPECT_EQ(marked, 1);
}

TEST(Disassembly, SymbolicLayoutNamesCallTargets)
{
    const QString symbolic = DisassembleFunction(Start(), true, 0);
    const QString raw = DisassembleFunction(Start(), false, 0);
    EXPECT_TRUE(symbolic.contains(QLatin1String("CalledFromSwitch"))) << symbolic.toStdString();
    EXPECT_FALSE(raw.contains(QLatin1String("CalledFromSwitch")));
}

TEST(Disassembly, LimitKeepsLinesAroundTheAddressAndMarksCuts)
{
    const QStringList all = DisassembleFunction(Start() + 4, false, 0).split(QStringLiteral("\r\n"));
    const QStringList limited = DisassembleFunction(Start() + 4, false, 2).split(QStringLiteral("\r\n"));
    EXPECT_LT(limited.size(), all.size());
    EXPECT_EQ(limited.back(), QStringLiteral("[...]"));
}

[[gnu::noinline]] int MayThrow(int v)
{
    if (v > 100)
        throw std::runtime_error("too big");
    return CalledFromSwitch(v);
}
int (*volatile mayThrow)(int) = &MayThrow; // opaque to the optimiser: the call can throw

[[gnu::noinline]] int CatchesAround(int v)
{
    try {
        return mayThrow(v) + 1;
    } catch (const std::out_of_range&) {
        return -1;
    } catch (const std::runtime_error&) {
        return -2;
    } catch (...) {
        return -3;
    }
}

TEST(Disassembly, CatchClausesNameTheirTypesAndLandingPads)
{
    ASSERT_EQ(CatchesAround(200), -2);
    const QStringList lines =
        DisassembleFunction(reinterpret_cast<std::uint64_t>(&CatchesAround), false, 0).split(QStringLiteral("\r\n"));
    const QStringList on = lines.filter(QRegularExpression(QStringLiteral("^  on ")));
    EXPECT_TRUE(on.filter(QStringLiteral("  on std::out_of_range do loc_")).size() >= 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(on.filter(QStringLiteral("  on std::runtime_error do loc_")).size() >= 1);
    const QStringList otherwise = lines.filter(QRegularExpression(QStringLiteral("^  else loc_[0-9a-f]{16}$")));
    EXPECT_GE(otherwise.size(), 1);
}

TEST(Disassembly, UnreadableCodeGivesNoText)
{
    EXPECT_TRUE(DisassembleFunction(0x10, false, 0).isEmpty());
}

} // namespace
} // namespace crash::stack
