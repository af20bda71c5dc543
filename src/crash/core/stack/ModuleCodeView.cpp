#include "crash/core/stack/ModuleCodeView.h"

#include "platform/GuardedMemory.h"

namespace crash::stack {

std::uint64_t ModuleCodeView::FunctionStart(std::uint64_t address)
{
    const ResolvedAddress& r = Resolve(address);
    return r.frames.empty() || r.frames.back().functionStart == 0
               ? 0
               : r.frames.back().functionStart + r.moduleBias;
}

FunctionPart ModuleCodeView::PartOf(std::uint64_t address)
{
    const ResolvedAddress& r = Resolve(address);
    if (r.frames.empty() || r.frames.back().functionStart == 0)
        return {};
    const SymbolFrame& f = r.frames.back();
    FunctionPart part{f.functionStart + r.moduleBias, 0, 0};
    if (f.partStart != 0 && f.functionEnd > f.partStart) {
        part.start = f.partStart + r.moduleBias;
        part.end = f.functionEnd + r.moduleBias;
    }
    return part;
}

bool ModuleCodeView::HasLine(std::uint64_t address)
{
    const ResolvedAddress& r = Resolve(address);
    return !r.frames.empty() && r.frames.front().line > 0;
}

std::size_t ModuleCodeView::ReadCode(std::uint64_t address, std::uint8_t* buffer, std::size_t size)
{
    return platform::ReadOwnMemory(address, buffer, size);
}

const ResolvedAddress& ModuleCodeView::Resolve(std::uint64_t address)
{
    auto it = cache_.find(address);
    if (it == cache_.end())
        it = cache_.emplace(address, modules_.Resolve(address)).first;
    return it->second;
}

} // namespace crash::stack
