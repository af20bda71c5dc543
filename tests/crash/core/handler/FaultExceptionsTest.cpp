#include "crash/core/handler/FaultExceptions.h"

#include <gtest/gtest.h>

using namespace crash;
using platform::FaultKind;
using platform::FaultRecord;

namespace {

FaultRecord Fault(FaultKind kind, std::uint64_t rip, std::uintptr_t access, std::uint64_t rsp = 0x7ffd00000000)
{
    FaultRecord f;
    f.kind = kind;
    f.accessAddress = access;
    f.registers[6] = rip;
    f.registers[7] = rsp;
    return f;
}

} // namespace

TEST(FaultExceptions, NullWriteIsAnAccessViolationNamingAddressModuleAndTarget)
{
    FaultRecord f = Fault(FaultKind::Access, 0x401234, 0);
    f.write = true;
    EXPECT_EQ(FaultClassName(f), "EAccessViolation");
    EXPECT_EQ(FaultMessage(f, "crash-test"), "Access violation at address 0000000000401234 in module 'crash-test'. "
                                             "Write of address 0000000000000000.");
    f.write = false;
    EXPECT_TRUE(FaultMessage(f, "").contains("in module '\?\?\?'. Read of address"));
}

TEST(FaultExceptions, AnAccessJustBelowTheStackPointerIsAStackOverflow)
{
    const std::uint64_t sp = 0x7ffd00010000;
    EXPECT_EQ(FaultClassName(Fault(FaultKind::Access, 0x401000, sp - 64, sp)), "EStackOverflow");
    EXPECT_EQ(FaultClassName(Fault(FaultKind::Access, 0x401000, sp - 4096 * 8, sp)), "EStackOverflow");
    EXPECT_EQ(FaultClassName(Fault(FaultKind::Access, 0x401000, 0x10, sp)), "EAccessViolation");
    EXPECT_EQ(FaultClassName(Fault(FaultKind::Access, 0x401000, sp - 1024 * 1024, sp)), "EAccessViolation");
}

TEST(FaultExceptions, ArithmeticAndInstructionFaultsGetTheirClasses)
{
    FaultRecord integer = Fault(FaultKind::Arithmetic, 0x401000, 0x401000);
    integer.integerDivide = true;
    EXPECT_EQ(FaultClassName(integer), "EDivByZero");
    EXPECT_TRUE(FaultMessage(integer, "m").startsWith("Division by zero at address 0000000000401000 in module 'm'"));
    EXPECT_EQ(FaultClassName(Fault(FaultKind::Arithmetic, 0x401000, 0x401000)), "EZeroDivide");
    FaultRecord privileged = Fault(FaultKind::Illegal, 0x401000, 0x401000);
    privileged.privileged = true;
    EXPECT_EQ(FaultClassName(privileged), "EPrivilege");
    EXPECT_TRUE(FaultMessage(privileged, "m").startsWith("Privileged instruction"));
}

TEST(FaultExceptions, TheThrownClassMatchesTheNameAndKeepsTheRegisters)
{
    FaultRecord f = Fault(FaultKind::Arithmetic, 0x402000, 0x402000);
    f.integerDivide = true;
    f.registers[0] = 0x1111;
    try {
        ThrowFaultException(f, "m");
        FAIL() << "nothing thrown";
    } catch (const EDivByZero& e) {
        EXPECT_EQ(e.className(), "EDivByZero");
        EXPECT_EQ(e.context().rax, 0x1111u);
        EXPECT_EQ(e.address(), 0x402000u);
    }
}
