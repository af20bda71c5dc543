#pragma once
// The C++ exception handlers of a function, from its entry in .gcc_except_table: for each call
// range with a landing pad, the types its catch clauses take ("" for catch (...)).

#include <QString>
#include <cstdint>
#include <vector>

namespace crash::stack {

struct CatchClause
{
    std::uint64_t rangeStart = 0; // first instruction the handler covers
    std::uint64_t landingPad = 0;
    QString type;                 // demangled; "EUnknown" when it cannot be named; empty: catch-all
    bool catchAll = false;
};

// Read from the loaded image through guarded reads; empty when the function has no handlers or
// its tables cannot be read.
std::vector<CatchClause> CatchClausesOf(std::uint64_t functionAddress);

} // namespace crash::stack
