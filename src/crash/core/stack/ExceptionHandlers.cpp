// The way there: the module's PT_GNU_EH_FRAME segment (.eh_frame_hdr) has a sorted table from
// function start to FDE; the FDE's augmentation data holds the LSDA pointer in the encoding its CIE
// names ('L'); the LSDA holds the call-site table (range, landing pad, first action), the action
// chains (type filter, next) and, below its type-table base, pointers to the std::type_info objects
// caught. Every count and chain is bounded; every read is guarded.

#include "crash/core/stack/ExceptionHandlers.h"

#include "crash/core/stack/ProcessModules.h"
#include "platform/GuardedMemory.h"

#include <cstdlib>
#include <cxxabi.h>
#include <gelf.h>
#include <optional>
#include <string>

namespace crash::stack {
namespace {

constexpr std::uint8_t Omit = 0xFF;

// A cursor over this process's memory; any failed read ends the parse.
class Cursor
{
public:
    explicit Cursor(std::uint64_t at) : at_(at) {}
    std::uint64_t at() const { return at_; }
    void seek(std::uint64_t at) { at_ = at; }
    bool ok() const { return ok_; }

    template <typename T> T Fixed()
    {
        T value{};
        if (platform::ReadOwnMemory(at_, &value, sizeof value) != sizeof value)
            ok_ = false;
        at_ += sizeof value;
        return value;
    }
    std::uint64_t Uleb()
    {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64 && ok_; shift += 7) {
            const auto byte = Fixed<std::uint8_t>();
            value |= std::uint64_t(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return value;
        }
        ok_ = false;
        return value;
    }
    std::int64_t Sleb()
    {
        std::int64_t value = 0;
        int shift = 0;
        std::uint8_t byte = 0;
        do {
            byte = Fixed<std::uint8_t>();
            value |= std::int64_t(byte & 0x7F) << shift;
            shift += 7;
        } while ((byte & 0x80) && shift < 64 && ok_);
        if (shift < 64 && (byte & 0x40))
            value |= -(std::int64_t(1) << shift);
        return value;
    }
    // A pointer in DW_EH_PE encoding; `dataBase` for datarel.
    std::uint64_t Encoded(std::uint8_t encoding, std::uint64_t dataBase = 0)
    {
        const std::uint64_t fieldAddress = at_;
        std::uint64_t value = 0;
        switch (encoding & 0x0F) {
        case 0x00: value = Fixed<std::uint64_t>(); break;
        case 0x01: value = Uleb(); break;
        case 0x02: value = Fixed<std::uint16_t>(); break;
        case 0x03: value = Fixed<std::uint32_t>(); break;
        case 0x04: value = Fixed<std::uint64_t>(); break;
        case 0x09: value = std::uint64_t(Sleb()); break;
        case 0x0A: value = std::uint64_t(std::int64_t(Fixed<std::int16_t>())); break;
        case 0x0B: value = std::uint64_t(std::int64_t(Fixed<std::int32_t>())); break;
        case 0x0C: value = Fixed<std::uint64_t>(); break;
        default: ok_ = false; return 0;
        }
        if (value == 0 && (encoding & 0x70) != 0x30)
            return 0; // a null pointer stays null
        switch (encoding & 0x70) {
        case 0x00: break;
        case 0x10: value += fieldAddress; break;
        case 0x30: value += dataBase; break;
        default: ok_ = false; return 0;
        }
        if (encoding & 0x80) { // indirect: the value is where the pointer is stored
            Cursor slot(value);
            value = slot.Fixed<std::uint64_t>();
            ok_ = ok_ && slot.ok();
        }
        return value;
    }
    static std::size_t Size(std::uint8_t encoding)
    {
        switch (encoding & 0x0F) {
        case 0x02: case 0x0A: return 2;
        case 0x03: case 0x0B: return 4;
        default: return 8;
        }
    }

private:
    std::uint64_t at_;
    bool ok_ = true;
};

std::optional<std::uint64_t> EhFrameHeader(std::uint64_t address)
{
    Dwfl_Module* module = Modules().ModuleOf(address);
    Dwarf_Addr bias = 0;
    Elf* elf = module != nullptr ? dwfl_module_getelf(module, &bias) : nullptr;
    size_t count = 0;
    if (elf == nullptr || elf_getphdrnum(elf, &count) != 0)
        return std::nullopt;
    for (size_t i = 0; i < count; ++i) {
        GElf_Phdr ph;
        if (gelf_getphdr(elf, int(i), &ph) != nullptr && ph.p_type == PT_GNU_EH_FRAME)
            return ph.p_vaddr + bias;
    }
    return std::nullopt;
}

// The FDE covering `address` through the header's search table.
std::optional<std::uint64_t> FindFde(std::uint64_t header, std::uint64_t address)
{
    Cursor c(header);
    const auto version = c.Fixed<std::uint8_t>();
    const auto frameEncoding = c.Fixed<std::uint8_t>();
    const auto countEncoding = c.Fixed<std::uint8_t>();
    const auto tableEncoding = c.Fixed<std::uint8_t>();
    if (!c.ok() || version != 1 || tableEncoding != 0x3B || countEncoding == Omit)
        return std::nullopt;
    c.Encoded(frameEncoding, header);
    const std::uint64_t count = c.Encoded(countEncoding, header);
    const std::uint64_t table = c.at();
    if (!c.ok() || count == 0 || count > (1u << 24))
        return std::nullopt;
    std::uint64_t low = 0, high = count; // entries: (initial location, FDE), datarel sdata4
    while (low < high) {
        const std::uint64_t middle = low + (high - low) / 2;
        Cursor e(table + middle * 8);
        if (std::uint64_t(std::int64_t(e.Fixed<std::int32_t>())) + header <= address)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0)
        return std::nullopt;
    Cursor e(table + (low - 1) * 8 + 4);
    const std::uint64_t fde = std::uint64_t(std::int64_t(e.Fixed<std::int32_t>())) + header;
    return e.ok() ? std::optional(fde) : std::nullopt;
}

struct FdeInfo
{
    std::uint64_t start = 0;
    std::uint64_t lsda = 0;
};

std::optional<FdeInfo> ReadFde(std::uint64_t fde)
{
    Cursor c(fde);
    const auto length = c.Fixed<std::uint32_t>();
    if (length == 0 || length == 0xFFFFFFFF)
        return std::nullopt;
    const std::uint64_t ciePointerAt = c.at();
    const auto cieOffset = c.Fixed<std::uint32_t>();
    if (!c.ok() || cieOffset == 0)
        return std::nullopt;
    // The CIE: augmentation string, then the encodings its 'z' data names.
    Cursor cie(ciePointerAt - cieOffset);
    cie.Fixed<std::uint32_t>();
    cie.Fixed<std::uint32_t>();
    const auto version = cie.Fixed<std::uint8_t>();
    std::string augmentation;
    for (int i = 0; i < 16; ++i) {
        const auto ch = cie.Fixed<std::uint8_t>();
        if (ch == 0 || !cie.ok())
            break;
        augmentation += char(ch);
    }
    if (augmentation.empty() || augmentation[0] != 'z')
        return std::nullopt;
    cie.Uleb();
    cie.Sleb();
    if (version == 1)
        cie.Fixed<std::uint8_t>();
    else
        cie.Uleb();
    cie.Uleb(); // augmentation data length
    std::uint8_t lsdaEncoding = Omit, fdeEncoding = 0;
    for (char a : augmentation.substr(1)) {
        if (a == 'L')
            lsdaEncoding = cie.Fixed<std::uint8_t>();
        else if (a == 'R')
            fdeEncoding = cie.Fixed<std::uint8_t>();
        else if (a == 'P')
            cie.Encoded(cie.Fixed<std::uint8_t>());
        else if (a != 'S' && a != 'B')
            return std::nullopt;
    }
    if (!cie.ok() || lsdaEncoding == Omit)
        return std::nullopt;
    FdeInfo info;
    info.start = c.Encoded(fdeEncoding);
    c.Encoded(fdeEncoding & 0x0F); // range
    c.Uleb();
    info.lsda = c.Encoded(lsdaEncoding);
    if (!c.ok() || info.lsda == 0)
        return std::nullopt;
    return info;
}

QString TypeName(std::uint64_t typeInfo)
{
    Cursor c(typeInfo + 8); // std::type_info: vtable pointer, then the mangled name
    const std::uint64_t name = c.Fixed<std::uint64_t>();
    char text[256] = {};
    const std::size_t got = c.ok() ? platform::ReadOwnMemory(name, text, sizeof text - 1) : 0;
    if (got == 0)
        return QStringLiteral("EUnknown");
    text[got] = 0;
    if (std::string(text).size() >= sizeof text - 1)
        return QStringLiteral("EUnknown");
    int status = 0;
    char* plain = abi::__cxa_demangle(text, nullptr, nullptr, &status);
    QString result = status == 0 && plain != nullptr ? QString::fromLatin1(plain) : QString::fromLatin1(text);
    std::free(plain);
    return result;
}

} // namespace

std::vector<CatchClause> CatchClausesOf(std::uint64_t functionAddress)
{
    std::vector<CatchClause> clauses;
    const auto header = EhFrameHeader(functionAddress);
    const auto fde = header ? FindFde(*header, functionAddress) : std::nullopt;
    const auto info = fde ? ReadFde(*fde) : std::nullopt;
    if (!info)
        return clauses;
    Cursor c(info->lsda);
    const auto landingStartEncoding = c.Fixed<std::uint8_t>();
    const std::uint64_t landingBase = landingStartEncoding == Omit ? info->start : c.Encoded(landingStartEncoding);
    const auto typeEncoding = c.Fixed<std::uint8_t>();
    std::uint64_t typeBase = 0;
    if (typeEncoding != Omit) {
        const std::uint64_t offset = c.Uleb();
        typeBase = c.at() + offset;
    }
    const auto callSiteEncoding = c.Fixed<std::uint8_t>();
    const std::uint64_t callSiteLength = c.Uleb();
    const std::uint64_t actions = c.at() + callSiteLength;
    if (!c.ok() || callSiteLength > (1u << 20))
        return clauses;
    for (int site = 0; site < 4096 && c.at() < actions && c.ok(); ++site) {
        const std::uint64_t start = c.Encoded(callSiteEncoding);
        c.Encoded(callSiteEncoding); // length
        const std::uint64_t pad = c.Encoded(callSiteEncoding);
        const std::uint64_t action = c.Uleb();
        if (pad == 0 || action == 0)
            continue; // no handler, or a cleanup only
        Cursor a(actions + action - 1);
        for (int link = 0; link < 64 && a.ok(); ++link) {
            const std::int64_t filter = a.Sleb();
            const std::uint64_t nextAt = a.at();
            const std::int64_t next = a.Sleb();
            if (filter > 0 && typeEncoding != Omit) {
                Cursor t(typeBase - std::uint64_t(filter) * Cursor::Size(typeEncoding));
                const std::uint64_t typeInfo = t.Encoded(typeEncoding);
                CatchClause clause{info->start + start, landingBase + pad, {}, typeInfo == 0};
                if (typeInfo != 0)
                    clause.type = t.ok() ? TypeName(typeInfo) : QStringLiteral("EUnknown");
                clauses.push_back(clause);
            }
            if (next == 0)
                break;
            a.seek(nextAt + std::uint64_t(next));
        }
    }
    return clauses;
}

} // namespace crash::stack
