#pragma once
// The texts of the "cpu registers" and "stack dump" sections.

#include "crash/core/stack/StackTrace.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace crash {

// "rax = 0000000000000000" ... in the order rax rbx rcx rdx rsi rdi rip rsp rbp r8..r15.
QString FormatCpuRegisters(const stack::CpuContext& context);

// Up to 20 lines of 16 bytes from `address`; `bytes` holds what could be read there (fewer bytes
// when readable memory ends early). Missing bytes of the last line are left blank.
QString FormatStackDump(std::uint64_t address, const QByteArray& bytes);

inline constexpr int StackDumpLines = 20;

} // namespace crash
