#include "crash/core/handler/FaultExceptions.h"

namespace crash {
namespace {

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

const char* FaultClassNameOf(const platform::FaultRecord& fault) noexcept
{
    switch (fault.kind) {
    case platform::FaultKind::Arithmetic:
        return fault.integerDivide ? "EDivByZero" : "EZeroDivide";
    case platform::FaultKind::Illegal:
        return "EPrivilege";
    case platform::FaultKind::Abort:
        return "EAbnormalTermination";
    default:
        if (IsStackOverflow(fault))
            return "EStackOverflow";
        return fault.privileged ? "EPrivilege" : "EAccessViolation";
    }
}

void AppendFaultMessage(platform::SignalSafeText& text, const platform::FaultRecord& fault,
                        const char* module, std::size_t moduleLength) noexcept
{
    const auto where = [&] {
        text.append(" at address ").appendHex(fault.registers[6], 16).append(" in module '");
        if (moduleLength > 0)
            text.append(module, moduleLength);
        else
            text.append("???");
        text.append("'.");
    };
    switch (fault.kind) {
    case platform::FaultKind::Arithmetic:
        text.append(fault.integerDivide ? "Division by zero" : "Floating point division by zero");
        return where();
    case platform::FaultKind::Illegal:
        text.append(fault.privileged ? "Privileged instruction" : "Illegal instruction");
        return where();
    case platform::FaultKind::Abort:
        text.append("Abnormal program termination");
        return;
    default:
        break;
    }
    if (IsStackOverflow(fault)) {
        text.append("Stack overflow");
        where();
        text.append(" Access of address ").appendHex(fault.accessAddress, 16).append('.');
        return;
    }
    if (fault.privileged) {
        text.append("Privileged instruction");
        return where();
    }
    text.append("Access violation");
    where();
    text.append(fault.write ? " Write of address " : " Read of address ")
        .appendHex(fault.accessAddress, 16)
        .append('.');
    if (fault.kind == platform::FaultKind::Bus)
        text.append(" (bus error)");
}

QString FaultClassName(const platform::FaultRecord& fault)
{
    return QString::fromLatin1(FaultClassNameOf(fault));
}

QString FaultMessage(const platform::FaultRecord& fault, const QString& module)
{
    const QByteArray name = module.toUtf8();
    char buffer[512];
    platform::SignalSafeText text(buffer, sizeof buffer);
    AppendFaultMessage(text, fault, name.constData(), static_cast<std::size_t>(name.size()));
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
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
