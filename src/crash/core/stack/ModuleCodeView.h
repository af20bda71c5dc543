#pragma once
// The code of this process as the stack scan sees it: modules and symbols from ProcessModules,
// bytes through the guarded reader. Symbol answers are kept for the life of the view (one trace).

#include "crash/core/stack/CodeView.h"
#include "crash/core/stack/ProcessModules.h"

#include <unordered_map>

namespace crash::stack {

class ModuleCodeView : public CodeView
{
public:
    explicit ModuleCodeView(ProcessModules& modules) : modules_(modules) {}

    bool IsCode(std::uint64_t address) override { return modules_.IsCode(address); }
    std::uint64_t FunctionStart(std::uint64_t address) override;
    FunctionPart PartOf(std::uint64_t address) override;
    bool HasLine(std::uint64_t address) override;
    std::size_t ReadCode(std::uint64_t address, std::uint8_t* buffer, std::size_t size) override;

    const ResolvedAddress& Resolve(std::uint64_t address);

private:
    ProcessModules& modules_;
    std::unordered_map<std::uint64_t, ResolvedAddress> cache_;
};

} // namespace crash::stack
