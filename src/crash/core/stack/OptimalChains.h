#pragma once
// The chain of calls through the stack items, from anchor to anchor ("RealizeOptimalLinkChains").
//
// Links: an item lower on the stack (the callee side) links to a higher item (its caller) when the
// higher item's call reaches the lower item's function (a known target, through tail jumps too),
// or when the higher item's call is indirect (target unknown). An item that some higher call
// reaches for sure takes no link through an indirect call: a guess beside a certainty is how chains
// of stale return addresses (an earlier call's leftovers) would attach.
//
// Between two consecutive anchors a (lower) and b the best path from a to b wins. Its score is a
// 64-bit number: the hop into b counts 7 * 2^60 with a known target and 5 * 2^60 without; every
// other link adds 2^28 for a known target, 2^14 more when the called function is approved (decoded
// cleanly, FunctionCache.h), and 2^9 / 2^6 / 2^3 for line information at both ends / at the caller
// only / at neither but with symbols at the caller. A link with unknown target adds 1 and clears
// bit 61, so a path sure at every step beats any path with a guess in it. Items between a and b off
// the best path are dropped; when no path joins a and b, all of them are.
//
// The links are kept for both directions at once, so a path scored from b back to a would be the
// same path: each pair is scored once, each link once (dynamic programming over the stack order).
// Each item keeps two bests, with and without a guess on the way, as clearing bit 61 can reorder
// them. Above the highest anchor there is no goal: the chain from it with the highest sum of link
// weights wins, the longer one on a tie.

#include "crash/core/stack/StackScanner.h"

namespace crash::stack {

// `items` in stack order, anchors marked strong, the first one an anchor. Returns the anchors and
// the candidates on the chosen chains, in order. Cancelled: the anchors and what was chosen so far.
std::vector<StackItem> RealizeOptimalLinkChains(FunctionCache& functions, const std::vector<StackItem>& items,
                                                const std::atomic<bool>* cancel);

} // namespace crash::stack
