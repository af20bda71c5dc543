#pragma once
// Processor faults as exceptions: EAccessViolation, EStackOverflow, EDivByZero, EZeroDivide and
// EPrivilege, all derived from EExternal, which keeps the registers of the fault. The messages name
// the faulting address and its module and, for an access, the accessed address.

#include "crash/core/stack/StackTrace.h"
#include "platform/Exception.h"
#include "platform/FaultSignals.h"
#include "platform/SignalSafeText.h"

#include <QString>

namespace crash {

class EExternal : public platform::Exception
{
public:
    EExternal(const platform::FaultRecord& fault, QString message)
        : Exception(std::move(message)), m_fault(fault)
    {
    }
    const platform::FaultRecord& fault() const { return m_fault; }
    stack::CpuContext context() const;
    std::uintptr_t address() const { return static_cast<std::uintptr_t>(m_fault.registers[6]); }
    QString className() const override { return QStringLiteral("EExternal"); }

private:
    platform::FaultRecord m_fault;
};

#define CRASH_FAULT_CLASS(name)                                                                              \
    class name : public EExternal                                                                            \
    {                                                                                                        \
    public:                                                                                                  \
        using EExternal::EExternal;                                                                          \
        QString className() const override { return QStringLiteral(#name); }                                 \
    };
CRASH_FAULT_CLASS(EAccessViolation)
CRASH_FAULT_CLASS(EStackOverflow)
CRASH_FAULT_CLASS(EDivByZero)
CRASH_FAULT_CLASS(EZeroDivide)
CRASH_FAULT_CLASS(EPrivilege)
#undef CRASH_FAULT_CLASS

stack::CpuContext ContextOf(const platform::FaultRecord& fault);

// An access close to the stack pointer: the thread ran out of stack.
bool IsStackOverflow(const platform::FaultRecord& fault);
QString FaultClassName(const platform::FaultRecord& fault);
const char* FaultClassNameOf(const platform::FaultRecord& fault) noexcept;
// `module` is the file name of the module holding the faulting instruction ("" when unknown).
QString FaultMessage(const platform::FaultRecord& fault, const QString& module);
// The same message built without allocating, for the report written when the allocator is unusable.
void AppendFaultMessage(platform::SignalSafeText& text, const platform::FaultRecord& fault,
                        const char* module, std::size_t moduleLength) noexcept;

// Throws the exception class that fits the fault.
[[noreturn]] void ThrowFaultException(const platform::FaultRecord& fault, const QString& module);

} // namespace crash
