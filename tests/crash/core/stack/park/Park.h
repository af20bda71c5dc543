#pragma once
// The parked-threads program: each thread walks a distinct call chain across several files and
// parks at its end; a tracer thread then traces them all and prints the frames.

#include <cstdint>

namespace park {

extern volatile int sink; // touched after calls so none of them becomes a tail call

void ParkHere();

void AlphaOuter(int n);          // ParkChainA -> ParkChainB -> ParkChainC
void AlphaWithInline();          // an always-inline step before parking
int Recurse(int depth);          // ParkChainB, recursion
void CallThroughPointer();       // ParkChainC, indirect call
void GammaInner(int n);
void BetaMiddle(int n);

struct Worker
{
    void Run(int n);
};

} // namespace park
