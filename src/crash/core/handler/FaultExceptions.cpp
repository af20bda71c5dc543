#include "crash/core/handler/FaultExceptions.h"

namespace crash {
namespace {

QString Hex(std::uint64_t value)
{
    return QStringLiteral("%1").arg(value, 16, 16, QLatin1Char('0')).toUpper();
}

constexpr std::uint64_t kStackReach = 64 * 1024;

} // namespace

stack::CpuContext ContextOf(const platform::FaultRecord& fault)
{
    const auto& r = fault.registers;
    stack::CpuContext c;
    c.rax = r[0], c.rbx = r[1], c.rcx = r[2], c.rdx = r[3], c.rsi = r[4], c.rdi = r[5], c.rip = r[6];
    c.rsp = r[7], c.rbp = r[8], c.r8 = r[9], c.r9 = r[10], c.r10 = r[11], c.r11 = r[12], c.r12 = r[13];
    c.r13 = r[14], c.r14 = r[15], c.r15 = r[16];
    return c;
}

stack::CpuContext EExternal::context() const
{
    return ContextOf(m_fault);
}

bool IsStackOverflow(const platform::FaultRecord& fault)
{
    if (fault.kind != platform::FaultKind::Access && fault.kind != platform::FaultKind::Bus)
        return false;
    const std::uint64_t sp = fault.registers[7];
    const std::uint64_t at = fault.accessAddress;
    return at != 0 && at + kStackReach >= sp && at <= sp + 4096;
}

QString FaultClassName(const platform::FaultRecord& fault)
{
    switch (fault.kind) {
    case platform::FaultKind::Arithmetic:
        return fault.integerDivide ? QStringLiteral("EDivByZero") : QStringLiteral("EZeroDivide");
    case platform::FaultKind::Illegal:
        return QStringLiteral("EPrivilege");
    case platform::FaultKind::Abort:
        return QStringLiteral("EAbnormalTermination");
    default:
        if (IsStackOverflow(fault))
            return QStringLiteral("EStackOverflow");
        return fault.privileged ? QStringLiteral("EPrivilege") : QStringLiteral("EAccessViolation");
    }
}

QString FaultMessage(const platform::FaultRecord& fault, const QString& module)
{
    const QString where = QStringLiteral(" at address %1 in module '%2'.")
                              .arg(Hex(fault.registers[6]), module.isEmpty() ? QStringLiteral("???") : module);
    switch (fault.kind) {
    case platform::FaultKind::Arithmetic:
        return (fault.integerDivide ? QStringLiteral("Division by zero") : QStringLiteral("Floating point division by zero")) +
               where;
    case platform::FaultKind::Illegal:
        return (fault.privileged ? QStringLiteral("Privileged instruction") : QStringLiteral("Illegal instruction")) +
               where;
    case platform::FaultKind::Abort:
        return QStringLiteral("Abnormal program termination");
    default:
        break;
    }
    if (IsStackOverflow(fault))
        return QStringLiteral("Stack overflow") + where + QStringLiteral(" Access of address %1.").arg(Hex(fault.accessAddress));
    if (fault.privileged)
        return QStringLiteral("Privileged instruction") + where;
    return QStringLiteral("Access violation") + where +
           (fault.write ? QStringLiteral(" Write of address %1.") : QStringLiteral(" Read of address %1."))
               .arg(Hex(fault.accessAddress)) +
           (fault.kind == platform::FaultKind::Bus ? QStringLiteral(" (bus error)") : QString());
}

void ThrowFaultException(const platform::FaultRecord& fault, const QString& module)
{
    const QString message = FaultMessage(fault, module);
    const QString name = FaultClassName(fault);
    if (name == QLatin1String("EStackOverflow"))
        throw EStackOverflow(fault, message);
    if (name == QLatin1String("EDivByZero"))
        throw EDivByZero(fault, message);
    if (name == QLatin1String("EZeroDivide"))
        throw EZeroDivide(fault, message);
    if (name == QLatin1String("EPrivilege"))
        throw EPrivilege(fault, message);
    throw EAccessViolation(fault, message);
}

} // namespace crash
