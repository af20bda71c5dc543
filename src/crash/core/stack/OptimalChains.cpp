#include "crash/core/stack/OptimalChains.h"

#include "crash/core/stack/TailCallReach.h"

#include <algorithm>
#include <array>

namespace crash::stack {
namespace {

constexpr std::uint64_t KnownMark = 1ull << 61;
constexpr std::uint64_t HitKnown = 7ull << 60;
constexpr std::uint64_t HitGuess = 5ull << 60;
constexpr std::uint64_t KnownTarget = 1ull << 28;
constexpr std::uint64_t Approved = 1ull << 14;
constexpr std::uint64_t BothLines = 1ull << 9;
constexpr std::uint64_t CallerLine = 1ull << 6;
constexpr std::uint64_t CallerSymbols = 1ull << 3;

struct Node
{
    std::uint64_t function = 0; // start of the function holding the item; 0 unknown
    bool hasLine = false;
    bool approved = false;
    std::optional<std::uint64_t> target; // the call's target, jumps followed
};

struct UpLink
{
    std::size_t higher = 0;
    std::uint64_t weight = 0;
};

// The links inside one segment [low, high] of the items.
struct SegmentLinks
{
    std::vector<std::vector<UpLink>> known; // per lower item (index - low): its known-target links
    std::vector<bool> sure;                 // per lower item: some call above reaches it for sure
    std::vector<std::size_t> guessers;      // items whose call target is unknown, ascending
};

class ChainLinks
{
public:
    ChainLinks(FunctionCache& functions, const std::vector<StackItem>& items)
        : reach_(functions.code()), nodes_(items.size())
    {
        CodeView& code = functions.code();
        for (std::size_t i = 0; i < items.size(); ++i) {
            const StackItem& item = items[i];
            const std::uint64_t inside = item.activation ? item.address : item.address - 1;
            Node& node = nodes_[i];
            node.function = code.FunctionStart(inside);
            node.hasLine = code.HasLine(inside);
            const CodeFunction* function = functions.Find(inside);
            node.approved = function != nullptr && function->approved && (item.activation || item.call);
            if (item.call && item.call->target)
                node.target = FollowJumps(code, *item.call->target);
        }
    }

    SegmentLinks Links(std::size_t low, std::size_t high)
    {
        SegmentLinks links;
        links.known.resize(high - low + 1);
        links.sure.assign(high - low + 1, false);
        for (std::size_t j = low + 1; j <= high; ++j) {
            if (!nodes_[j].target) {
                links.guessers.push_back(j);
                continue;
            }
            for (std::size_t i = low; i < j; ++i) {
                if (nodes_[i].function == 0 || !reach_.Reaches(*nodes_[j].target, nodes_[i].function))
                    continue;
                links.known[i - low].push_back({j, Weight(nodes_[i], nodes_[j])});
                links.sure[i - low] = true;
            }
        }
        return links;
    }

private:
    static std::uint64_t Weight(const Node& lower, const Node& higher)
    {
        std::uint64_t weight = KnownTarget + (lower.approved ? Approved : 0);
        if (higher.hasLine)
            weight += lower.hasLine ? BothLines : CallerLine;
        else if (higher.function != 0)
            weight += CallerSymbols;
        return weight;
    }

    TailCallReach reach_;
    std::vector<Node> nodes_;
};

bool Cancelled(const std::atomic<bool>* cancel)
{
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// The items strictly between anchors `low` and `high` on the best path joining them; empty when
// none joins them. Two bests per item: [1] sure at every step (bit 61 kept), [0] with a guess.
std::vector<std::size_t> BestPathBetween(ChainLinks& chain, std::size_t low, std::size_t high,
                                         const std::atomic<bool>* cancel)
{
    const SegmentLinks links = chain.Links(low, high);
    const std::size_t n = high - low + 1;
    struct Best
    {
        std::uint64_t score = 0; // 0: no path to the goal
        std::size_t next = 0;
        int nextState = 0;
    };
    std::vector<std::array<Best, 2>> best(n);
    for (std::size_t r = n - 1; r-- > 0;) {
        if (Cancelled(cancel))
            return {};
        auto offer = [&](int state, std::uint64_t score, std::size_t next, int nextState) {
            if (score > best[r][state].score)
                best[r][state] = {score, next, nextState};
        };
        for (const UpLink& link : links.known[r]) {
            const std::size_t j = link.higher - low;
            if (link.higher == high) {
                offer(1, HitKnown, j, 1);
                continue;
            }
            for (int s = 0; s < 2; ++s)
                if (best[j][s].score != 0)
                    offer(s, best[j][s].score + link.weight, j, s);
        }
        if (links.sure[r])
            continue;
        for (std::size_t higher : links.guessers) {
            if (higher <= low + r)
                continue;
            const std::size_t j = higher - low;
            if (higher == high) {
                offer(0, HitGuess, j, 0);
                continue;
            }
            for (int s = 0; s < 2; ++s)
                if (best[j][s].score != 0)
                    offer(0, (best[j][s].score & ~KnownMark) + 1, j, s);
        }
    }
    int state = best[0][1].score >= best[0][0].score ? 1 : 0;
    std::vector<std::size_t> path;
    for (std::size_t r = 0; best[r][state].score != 0;) {
        const Best& step = best[r][state];
        if (step.next == n - 1)
            break;
        path.push_back(low + step.next);
        r = step.next;
        state = step.nextState;
    }
    return path;
}

// The best chain upwards from the highest anchor `low`, ending anywhere.
std::vector<std::size_t> BestOpenChain(ChainLinks& chain, std::size_t low, std::size_t last,
                                       const std::atomic<bool>* cancel)
{
    const SegmentLinks links = chain.Links(low, last);
    const std::size_t n = last - low + 1;
    std::vector<std::optional<std::uint64_t>> best(n);
    std::vector<std::size_t> previous(n, 0);
    best[0] = 0;
    auto offer = [&](std::size_t from, std::size_t to, std::uint64_t weight) {
        if (!best[to] || *best[from] + weight > *best[to]) {
            best[to] = *best[from] + weight;
            previous[to] = from;
        }
    };
    for (std::size_t r = 0; r < n; ++r) {
        if (Cancelled(cancel))
            return {};
        if (!best[r])
            continue;
        for (const UpLink& link : links.known[r])
            offer(r, link.higher - low, link.weight);
        if (links.sure[r])
            continue;
        for (std::size_t higher : links.guessers)
            if (higher > low + r)
                offer(r, higher - low, 1);
    }
    std::size_t end = 0;
    for (std::size_t r = 1; r < n; ++r)
        if (best[r] && *best[r] >= *best[end])
            end = r;
    std::vector<std::size_t> chainIndexes;
    for (std::size_t r = end; r != 0; r = previous[r])
        chainIndexes.push_back(low + r);
    std::reverse(chainIndexes.begin(), chainIndexes.end());
    return chainIndexes;
}

} // namespace

std::vector<StackItem> RealizeOptimalLinkChains(FunctionCache& functions, const std::vector<StackItem>& items,
                                                const std::atomic<bool>* cancel)
{
    std::vector<StackItem> chosen;
    if (items.empty())
        return chosen;
    ChainLinks chain(functions, items);
    std::size_t anchor = 0;
    chosen.push_back(items[0]);
    for (std::size_t next = 1; next < items.size(); ++next) {
        if (!items[next].strong)
            continue;
        if (next > anchor + 1)
            for (std::size_t i : BestPathBetween(chain, anchor, next, cancel))
                chosen.push_back(items[i]);
        chosen.push_back(items[next]);
        anchor = next;
    }
    if (anchor + 1 < items.size())
        for (std::size_t i : BestOpenChain(chain, anchor, items.size() - 1, cancel))
            chosen.push_back(items[i]);
    return chosen;
}

} // namespace crash::stack
