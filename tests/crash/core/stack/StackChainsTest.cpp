// Deep checks, frame-pointer frames and chain realisation on a made-up code image: which return
// addresses count, which frame-pointer frames hold up, which path between anchors wins.

#include "FakeCode.h"
#include "crash/core/stack/FramePointerChain.h"
#include "crash/core/stack/FunctionCache.h"
#include "crash/core/stack/OptimalChains.h"

#include <gtest/gtest.h>

namespace crash::stack {
namespace {

using stacktest::Asm;

// A calls nothing; B, E and G call A; C calls B; D calls C; Z calls E. B also calls through rax.
// "Bad" does not decode from its start (0x06 is no instruction in 64-bit code).
struct Program
{
    Program()
    {
        Asm a(A), b(0x2000), c(0x3000), d(0x4000), e(0x5000), z(0x6000), bad(0x7000), g(0x8000);
        a.Nops(4);
        a.Ret();
        b.Nops(3);
        rB = b.Call(A);
        rBIndirect = b.CallRax();
        b.Ret();
        rC = c.Call(0x2000);
        c.Ret();
        rD = d.Call(0x3000);
        d.Ret();
        rE = e.Call(A);
        rLookalike = e.CallLookalike();
        e.Ret();
        rZ = z.Call(0x5000);
        z.Ret();
        bad.Nops(4);
        bad.bytes.push_back(0x06);
        rBad = bad.Call(A);
        bad.Ret();
        rG = g.Call(A);
        g.Ret();
        for (const Asm* f : {&a, &b, &c, &d, &e, &z, &bad, &g})
            code.Add(*f);
    }
    static constexpr std::uint64_t A = 0x1000;
    std::uint64_t rB = 0, rBIndirect = 0, rC = 0, rD = 0, rE = 0, rLookalike = 0, rZ = 0, rBad = 0, rG = 0;
    stacktest::FakeCode code;
};

StackItem Top()
{
    return {Program::A + 2, 0, true, true, std::nullopt};
}

std::vector<std::uint64_t> Addresses(const std::vector<StackItem>& items)
{
    std::vector<std::uint64_t> out;
    for (const StackItem& i : items)
        out.push_back(i.address);
    return out;
}

TEST(StackChains, CallsAreLocatedInApprovedFunctionsAndLookalikesAreNot)
{
    Program p;
    FunctionCache functions(p.code);
    const CallLocation real = functions.LocateCall(p.rB);
    ASSERT_TRUE(real.call);
    EXPECT_TRUE(real.approved);
    EXPECT_EQ(real.call->address, p.rB - 5);
    EXPECT_EQ(real.call->target, Program::A);
    const CallLocation indirect = functions.LocateCall(p.rBIndirect);
    ASSERT_TRUE(indirect.call);
    EXPECT_FALSE(indirect.call->target);

    EXPECT_TRUE(CallBefore(p.code, p.rLookalike)); // the bytes alone would pass
    const CallLocation lookalike = functions.LocateCall(p.rLookalike);
    EXPECT_FALSE(lookalike.call);
    EXPECT_TRUE(lookalike.approved);

    const CallLocation undecodable = functions.LocateCall(p.rBad); // the byte check decides
    ASSERT_TRUE(undecodable.call);
    EXPECT_FALSE(undecodable.approved);

    std::vector<StackItem> items{
        Top(), {p.rLookalike, 8, false, false, std::nullopt}, {p.rB, 16, false, false, std::nullopt}};
    ConfirmCalls(functions, items, nullptr, {});
    EXPECT_EQ(Addresses(items), (std::vector<std::uint64_t>{Program::A + 2, p.rB}));
}

// A stack copy at 0x7ff000 with frame pointers at +0x20, +0x60 and +0xa0.
struct FrameStack
{
    explicit FrameStack(const Program& p)
    {
        capture.accessible = true;
        capture.context.rsp = Base;
        capture.stack.resize(0x100);
        Put(Fp0, Fp1);
        Put(Fp0 + 8, p.rB);
        Put(Fp1, Fp2);
        Put(Fp1 + 8, p.rC);
        Put(Fp2, 0);
        Put(Fp2 + 8, p.rD);
    }
    void Put(std::uint64_t address, std::uint64_t value)
    {
        std::memcpy(capture.stack.data() + (address - Base), &value, 8);
    }
    static constexpr std::uint64_t Base = 0x7ff000, Fp0 = Base + 0x20, Fp1 = Base + 0x60, Fp2 = Base + 0xa0;
    ThreadCapture capture;
};

TEST(StackChains, FramePointerChainIsFollowedWhileEachFrameHoldsUp)
{
    Program p;
    FunctionCache functions(p.code);
    FrameStack s(p);
    const auto frames = WalkFramePointers(functions, s.capture, FrameStack::Fp0, FrameStack::Base);
    EXPECT_EQ(Addresses(frames), (std::vector<std::uint64_t>{p.rB, p.rC, p.rD}));
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].slot, FrameStack::Fp1 + 8);
    EXPECT_TRUE(frames[1].strong && frames[1].call);
    // Frames below the given slot are known to the caller already.
    EXPECT_EQ(Addresses(WalkFramePointers(functions, s.capture, FrameStack::Fp0, FrameStack::Fp1)),
              (std::vector<std::uint64_t>{p.rC, p.rD}));
    // No frame pointer at all: misaligned, outside the copy.
    EXPECT_TRUE(WalkFramePointers(functions, s.capture, FrameStack::Fp0 + 4, FrameStack::Base).empty());
    EXPECT_TRUE(WalkFramePointers(functions, s.capture, FrameStack::Base + 0x100, FrameStack::Base).empty());

    const std::vector<std::uint64_t> firstOnly{p.rB};
    s.Put(FrameStack::Fp1 + 8, p.rLookalike); // follows no call
    EXPECT_EQ(Addresses(WalkFramePointers(functions, s.capture, FrameStack::Fp0, FrameStack::Base)),
              firstOnly);
    s.Put(FrameStack::Fp1 + 8, p.rZ); // a call, but to E, not to B, whose frame lies below
    EXPECT_EQ(Addresses(WalkFramePointers(functions, s.capture, FrameStack::Fp0, FrameStack::Base)),
              firstOnly);
    s.Put(FrameStack::Fp1 + 8, p.rC);
    s.Put(FrameStack::Fp1, FrameStack::Fp0); // the chain turns back down
    EXPECT_EQ(Addresses(WalkFramePointers(functions, s.capture, FrameStack::Fp0, FrameStack::Base)),
              (std::vector<std::uint64_t>{p.rB, p.rC}));
}

StackItem Candidate(std::uint64_t address, std::uint64_t slot)
{
    return {address, slot, false, false, std::nullopt};
}

StackItem Anchor(std::uint64_t address, std::uint64_t slot)
{
    return {address, slot, false, true, std::nullopt};
}

std::vector<std::uint64_t> Realised(Program& p, std::vector<StackItem> items)
{
    FunctionCache functions(p.code);
    ConfirmCalls(functions, items, nullptr, {});
    return Addresses(RealizeOptimalLinkChains(functions, items, nullptr));
}

TEST(StackChains, OnlyCandidatesOnAPathBetweenAnchorsStay)
{
    Program p;
    // E's call to A left rE behind, but nothing above calls E.
    EXPECT_EQ(Realised(p, {Top(), Candidate(p.rB, 8), Candidate(p.rE, 16), Anchor(p.rC, 24)}),
              (std::vector<std::uint64_t>{Program::A + 2, p.rB, p.rC}));
    // No path joins the anchors: nothing between them stays.
    EXPECT_EQ(Realised(p, {Top(), Candidate(p.rE, 8), Anchor(p.rC, 16)}),
              (std::vector<std::uint64_t>{Program::A + 2, p.rC}));
    // Above the last anchor the longest linked chain stays, the stale value does not.
    EXPECT_EQ(Realised(p, {Top(), Candidate(p.rB, 8), Candidate(p.rE, 16), Candidate(p.rC, 24),
                           Candidate(p.rD, 32)}),
              (std::vector<std::uint64_t>{Program::A + 2, p.rB, p.rC, p.rD}));
}

TEST(StackChains, PathSureAtEveryStepBeatsALongerOneWithAGuess)
{
    Program p;
    // a <- rB <- rC is sure throughout. a <- rG <- rBIndirect <- rC has one more link, but only
    // because the call through rax may have gone anywhere.
    EXPECT_EQ(Realised(p, {Top(), Candidate(p.rG, 8), Candidate(p.rB, 16), Candidate(p.rBIndirect, 24),
                           Anchor(p.rC, 32)}),
              (std::vector<std::uint64_t>{Program::A + 2, p.rB, p.rC}));
    // Without the sure path the guess is all there is, and it is taken.
    EXPECT_EQ(Realised(p, {Top(), Candidate(p.rG, 8), Candidate(p.rBIndirect, 24), Anchor(p.rC, 32)}),
              (std::vector<std::uint64_t>{Program::A + 2, p.rG, p.rBIndirect, p.rC}));
}

} // namespace
} // namespace crash::stack
