#pragma once
// Functions confirmed by disassembly ("approved"). A function part that decodes from its first
// byte to its last without a gap is taken as real code, and its call instructions are known
// exactly. A return address inside an approved function must then end one of those calls: bytes
// that merely look like a call (the tail of another instruction, an immediate holding 0xE8) no
// longer pass. Where no symbol bounds the function, or the part does not decode cleanly, the
// byte-level check of the bytes before the address is all there is.
//
// One cache per trace: parts are decoded on first use.

#include "crash/core/stack/CallInstruction.h"
#include "crash/core/stack/CodeView.h"

#include <map>
#include <vector>

namespace crash::stack {

struct CodeFunction
{
    FunctionPart part;
    bool approved = false;
    std::vector<CallSite> calls; // in address order
};

struct CallLocation
{
    std::optional<CallSite> call; // none: no call instruction ends at the address
    bool approved = false;        // found in (or rejected by) an approved function
};

class FunctionCache
{
public:
    explicit FunctionCache(CodeView& code) : code_(code) {}
    ~FunctionCache();
    FunctionCache(const FunctionCache&) = delete;
    FunctionCache& operator=(const FunctionCache&) = delete;

    CodeView& code() { return code_; }

    // The function part holding `address`; nullptr when no symbol names one.
    const CodeFunction* Find(std::uint64_t address);

    // The call instruction that ends at `returnAddress`.
    CallLocation LocateCall(std::uint64_t returnAddress);

private:
    CodeView& code_;
    std::map<std::uint64_t, CodeFunction> parts_; // by part start
    std::size_t decoder_ = 0;                     // capstone handle, opened on first use
};

} // namespace crash::stack
