#include "crash/core/stack/SymbolTable.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace crash::stack {
namespace {

constexpr char Magic[4] = {'M', 'S', 'Y', 'T'};
constexpr std::uint32_t Version = 1;
constexpr std::uint32_t MaxUnpacked = 256u << 20; // far above any real program's table

class Writer
{
public:
    void U32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(std::uint8_t(v >> (8 * i)));
    }
    void U64(std::uint64_t v)
    {
        U32(std::uint32_t(v));
        U32(std::uint32_t(v >> 32));
    }
    std::vector<std::uint8_t> bytes;
};

class Reader
{
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
    bool U32(std::uint32_t& v)
    {
        if (data_.size() - pos_ < 4)
            return false;
        v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t(data_[pos_ + i]) << (8 * i);
        pos_ += 4;
        return true;
    }
    bool U64(std::uint64_t& v)
    {
        std::uint32_t lo = 0, hi = 0;
        if (!U32(lo) || !U32(hi))
            return false;
        v = lo | (std::uint64_t(hi) << 32);
        return true;
    }
    bool Text(std::string& s)
    {
        std::uint32_t n = 0;
        if (!U32(n) || data_.size() - pos_ < n)
            return false;
        s.assign(reinterpret_cast<const char*>(data_.data() + pos_), n);
        pos_ += n;
        return true;
    }
    // A count of records of `recordSize` bytes that cannot be larger than what is left.
    bool Count(std::uint32_t& n, std::size_t recordSize)
    {
        return U32(n) && std::size_t(n) <= (data_.size() - pos_) / recordSize;
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

std::optional<SymbolTable> Parse(std::span<const std::uint8_t> raw)
{
    Reader r(raw);
    SymbolTable t;
    std::uint32_t names = 0, functions = 0, inlines = 0, lines = 0;
    if (!r.Count(names, 4))
        return std::nullopt;
    t.names.resize(names);
    for (auto& n : t.names)
        if (!r.Text(n))
            return std::nullopt;
    if (!r.Count(functions, 36))
        return std::nullopt;
    t.functions.resize(functions);
    for (auto& f : t.functions) {
        if (!r.U64(f.start) || !r.U32(f.size) || !r.U32(f.name) || !r.U32(f.firstLine) ||
            !r.U32(f.inlineBegin) || !r.U32(f.inlineCount) || !r.U64(f.entry))
            return std::nullopt;
    }
    if (!r.Count(inlines, 32))
        return std::nullopt;
    t.inlines.resize(inlines);
    for (auto& i : t.inlines) {
        if (!r.U64(i.start) || !r.U32(i.size) || !r.U32(i.name) || !r.U32(i.depth) || !r.U32(i.callUnit) ||
            !r.U32(i.callLine) || !r.U32(i.firstLine))
            return std::nullopt;
        if (i.name >= names || i.callUnit >= names)
            return std::nullopt;
    }
    if (!r.Count(lines, 16))
        return std::nullopt;
    t.lines.resize(lines);
    for (auto& l : t.lines) {
        if (!r.U64(l.address) || !r.U32(l.unit) || !r.U32(l.line) || l.unit >= names)
            return std::nullopt;
    }
    for (std::size_t k = 0; k < t.functions.size(); ++k) {
        const auto& f = t.functions[k];
        if (f.name >= names || f.inlineBegin > inlines || f.inlineCount > inlines - f.inlineBegin)
            return std::nullopt;
        if (k > 0 && f.start < t.functions[k - 1].start)
            return std::nullopt;
    }
    for (std::size_t k = 1; k < t.lines.size(); ++k)
        if (t.lines[k].address < t.lines[k - 1].address)
            return std::nullopt;
    return t;
}

} // namespace

std::vector<std::uint8_t> SymbolTable::Pack() const
{
    Writer w;
    w.U32(std::uint32_t(names.size()));
    for (const auto& n : names) {
        w.U32(std::uint32_t(n.size()));
        w.bytes.insert(w.bytes.end(), n.begin(), n.end());
    }
    w.U32(std::uint32_t(functions.size()));
    for (const auto& f : functions) {
        w.U64(f.start);
        w.U32(f.size);
        w.U32(f.name);
        w.U32(f.firstLine);
        w.U32(f.inlineBegin);
        w.U32(f.inlineCount);
        w.U64(f.entry);
    }
    w.U32(std::uint32_t(inlines.size()));
    for (const auto& i : inlines) {
        w.U64(i.start);
        w.U32(i.size);
        w.U32(i.name);
        w.U32(i.depth);
        w.U32(i.callUnit);
        w.U32(i.callLine);
        w.U32(i.firstLine);
    }
    w.U32(std::uint32_t(lines.size()));
    for (const auto& l : lines) {
        w.U64(l.address);
        w.U32(l.unit);
        w.U32(l.line);
    }
    uLongf packedSize = compressBound(uLong(w.bytes.size()));
    std::vector<std::uint8_t> out(12 + packedSize);
    std::memcpy(out.data(), Magic, 4);
    Writer head;
    head.U32(Version);
    head.U32(std::uint32_t(w.bytes.size()));
    std::copy(head.bytes.begin(), head.bytes.end(), out.begin() + 4);
    if (compress2(out.data() + 12, &packedSize, w.bytes.data(), uLong(w.bytes.size()), Z_BEST_COMPRESSION) !=
        Z_OK)
        return {};
    out.resize(12 + packedSize);
    return out;
}

std::optional<SymbolTable> SymbolTable::Unpack(std::span<const std::uint8_t> packed)
{
    if (packed.size() < 12 || std::memcmp(packed.data(), Magic, 4) != 0)
        return std::nullopt;
    Reader head(packed.subspan(4, 8));
    std::uint32_t version = 0, rawSize = 0;
    head.U32(version);
    head.U32(rawSize);
    if (version != Version || rawSize > MaxUnpacked)
        return std::nullopt;
    std::vector<std::uint8_t> raw(rawSize);
    uLongf done = rawSize;
    if (uncompress(raw.data(), &done, packed.data() + 12, uLong(packed.size() - 12)) != Z_OK ||
        done != rawSize)
        return std::nullopt;
    return Parse(raw);
}

bool SymbolTable::Lookup(std::uint64_t address, std::vector<SymbolFrame>& frames) const
{
    auto f = std::upper_bound(functions.begin(), functions.end(), address,
                              [](std::uint64_t a, const Function& fn) { return a < fn.start; });
    if (f == functions.begin())
        return false;
    --f;
    if (address - f->start >= f->size)
        return false;

    std::vector<const Inline*> chain;
    for (std::uint32_t k = 0; k < f->inlineCount; ++k) {
        const Inline& in = inlines[f->inlineBegin + k];
        if (address >= in.start && address - in.start < in.size)
            chain.push_back(&in);
    }
    std::stable_sort(chain.begin(), chain.end(),
                     [](const Inline* a, const Inline* b) { return a->depth > b->depth; });

    std::string unit;
    int line = 0;
    auto l = std::upper_bound(lines.begin(), lines.end(), address,
                              [](std::uint64_t a, const Line& row) { return a < row.address; });
    if (l != lines.begin() && (l - 1)->line != 0) {
        unit = names[(l - 1)->unit];
        line = int((l - 1)->line);
    }
    for (const Inline* in : chain) {
        frames.push_back(
            {names[in->name], unit, line, int(in->firstLine), f->entry, true, f->start + f->size, f->start});
        unit = names[in->callUnit];
        line = int(in->callLine);
    }
    frames.push_back(
        {names[f->name], unit, line, int(f->firstLine), f->entry, false, f->start + f->size, f->start});
    return true;
}

} // namespace crash::stack
