#include "platform/FaultSignals.h"

#include "platform/EmergencyOutput.h"
#include "platform/ImportSlots.h"
#include "platform/SignalSafeText.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <ucontext.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
std::atomic<FaultCallback> g_callback{nullptr};

FaultKind KindOf(int signal)
{
    switch (signal) {
    case SIGBUS:
        return FaultKind::Bus;
    case SIGFPE:
        return FaultKind::Arithmetic;
    case SIGILL:
        return FaultKind::Illegal;
    case SIGABRT:
        return FaultKind::Abort;
    default:
        return FaultKind::Access;
    }
}

void CopyRegisters(const ucontext_t* uc, std::uint64_t* out)
{
    const greg_t* g = uc->uc_mcontext.gregs;
    const int order[17] = {REG_RAX, REG_RBX, REG_RCX, REG_RDX, REG_RSI, REG_RDI, REG_RIP, REG_RSP, REG_RBP,
                           REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
    for (int i = 0; i < 17; ++i)
        out[i] = static_cast<std::uint64_t>(g[order[i]]);
}

void OnSignal(int signal, siginfo_t* info, void* context)
{
    FaultRecord fault;
    fault.kind = KindOf(signal);
    fault.signal = signal;
    fault.code = info ? info->si_code : 0;
    fault.sentByProcess = !info || info->si_code <= 0;
    fault.accessAddress = info ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0;
    fault.integerDivide = signal == SIGFPE && (fault.code == FPE_INTDIV || fault.code == FPE_INTOVF);
    fault.privileged = (signal == SIGILL && (fault.code == ILL_PRVOPC || fault.code == ILL_PRVREG)) ||
                       (signal == SIGSEGV && fault.code == SI_KERNEL);
    fault.threadId = CurrentKernelThreadId();
    if (context) {
        CopyRegisters(static_cast<const ucontext_t*>(context), fault.registers);
        // Page-fault error code: bit 1 set for a write access.
        fault.write = (static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_ERR] & 2) != 0;
    }
    if (FaultCallback callback = g_callback.load())
        callback(fault);
    // Not taken over: the default action ends the process with the usual status (and core file).
    struct sigaction dfl
    {
    };
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signal, &dfl, nullptr);
    if (fault.sentByProcess)
        raise(signal);
    // A processor fault repeats when the handler returns and now meets the default action.
}

int CollectRanges(dl_phdr_info* info, size_t, void* data)
{
    auto* ranges = static_cast<CodeRanges*>(data);
    const char* name = info->dlpi_name ? info->dlpi_name : "";
    CodeRanges::Range* target = nullptr;
    int* count = nullptr;
    if (name[0] == '\0' && ranges->executableCount == 0) {
        target = ranges->executable;
        count = &ranges->executableCount;
    } else if (std::strstr(name, "/ld-linux") || std::strstr(name, "/ld.so")) {
        target = ranges->loader;
        count = &ranges->loaderCount;
    } else if (std::strstr(name, "/libc.so")) {
        target = ranges->cLibrary;
        count = &ranges->cLibraryCount;
    }
    if (!target)
        return 0;
    for (int i = 0; i < info->dlpi_phnum && *count < CodeRanges::kMax; ++i) {
        const auto& ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X))
            target[(*count)++] = {info->dlpi_addr + ph.p_vaddr, info->dlpi_addr + ph.p_vaddr + ph.p_memsz};
    }
    return 0;
}

} // namespace

bool InstallFaultHandlers(FaultCallback callback)
{
    g_callback = callback;
    bool ok = true;
    for (int signal : kSignals) {
        struct sigaction action
        {
        };
        action.sa_sigaction = OnSignal;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        ok = sigaction(signal, &action, nullptr) == 0 && ok;
    }
    return ok;
}

void RemoveFaultHandlers()
{
    for (int signal : kSignals) {
        struct sigaction dfl
        {
        };
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(signal, &dfl, nullptr);
    }
    g_callback = nullptr;
}

void UnblockSignal(int signal) noexcept
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

std::int64_t CurrentKernelThreadId() noexcept
{
    return static_cast<std::int64_t>(syscall(SYS_gettid));
}

namespace {

// How many entries the dynamic symbol table has, from its GNU hash table: one past the highest
// symbol that a hash chain reaches (symbols below the table's first hashed one come first).
std::uint32_t SymbolCount(const std::uint32_t* gnuHash)
{
    const std::uint32_t buckets = gnuHash[0], firstHashed = gnuHash[1], bloomWords = gnuHash[2];
    const auto* bucket =
        reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const ElfW(Addr)*>(gnuHash + 4) + bloomWords);
    const std::uint32_t* chain = bucket + buckets;
    std::uint32_t last = 0;
    for (std::uint32_t i = 0; i < buckets; ++i)
        last = std::max(last, bucket[i]);
    if (last < firstHashed)
        return firstHashed;
    while ((chain[last - firstHashed] & 1) == 0)
        ++last;
    return last + 1;
}

struct AllocatorSearch
{
    CodeRanges* ranges;
    std::uintptr_t entries[CodeRanges::kMaxAllocator];
    int count;
};

// The C library's symbol table, walked once, gives each malloc-family entry's size (asking the
// loader for each one's symbol scans that table once per function).
int CollectAllocatorSizes(dl_phdr_info* info, size_t, void* data)
{
    auto* search = static_cast<AllocatorSearch*>(data);
    if (!info->dlpi_name || !std::strstr(info->dlpi_name, "/libc.so"))
        return 0;
    const ElfW(Dyn)* dynamic = nullptr;
    for (int i = 0; i < info->dlpi_phnum; ++i)
        if (info->dlpi_phdr[i].p_type == PT_DYNAMIC)
            dynamic = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
    const ElfW(Sym)* symbols = nullptr;
    const std::uint32_t* gnuHash = nullptr;
    // The loader has relocated these entries in place on this platform; an unrelocated one is
    // still an offset from the module's base.
    const auto address = [&](ElfW(Addr) value) {
        return value >= info->dlpi_addr ? value : info->dlpi_addr + value;
    };
    for (const ElfW(Dyn)* d = dynamic; d && d->d_tag != DT_NULL; ++d) {
        if (d->d_tag == DT_SYMTAB)
            symbols = reinterpret_cast<const ElfW(Sym)*>(address(d->d_un.d_ptr));
        else if (d->d_tag == DT_GNU_HASH)
            gnuHash = reinterpret_cast<const std::uint32_t*>(address(d->d_un.d_ptr));
    }
    if (!symbols || !gnuHash)
        return 1;
    CodeRanges& ranges = *search->ranges;
    const std::uint32_t count = SymbolCount(gnuHash);
    for (std::uint32_t i = 0; i < count && ranges.allocatorCount < CodeRanges::kMaxAllocator; ++i) {
        const ElfW(Sym)& symbol = symbols[i];
        if (ELF64_ST_TYPE(symbol.st_info) != STT_FUNC || symbol.st_size == 0 || symbol.st_shndx == SHN_UNDEF)
            continue;
        const std::uintptr_t begin = info->dlpi_addr + symbol.st_value;
        // A routine has several names in the table (malloc and __libc_malloc): it is taken once.
        bool wanted = false;
        for (int e = 0; e < search->count; ++e)
            if (search->entries[e] == begin) {
                search->entries[e] = 0;
                wanted = true;
            }
        if (wanted)
            ranges.allocator[ranges.allocatorCount++] = {begin, begin + symbol.st_size};
    }
    return 1;
}

// The malloc family's code in the C library itself (not an interposed allocator's).
void CollectAllocator(CodeRanges& ranges)
{
    void* libc = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (!libc)
        return;
    AllocatorSearch search{&ranges, {}, 0};
    for (const char* name :
         {"malloc", "free", "calloc", "realloc", "reallocarray", "memalign", "posix_memalign",
          "aligned_alloc", "valloc", "pvalloc", "malloc_trim", "malloc_usable_size"})
        if (void* function = dlsym(libc, name); function && search.count < CodeRanges::kMaxAllocator)
            search.entries[search.count++] = reinterpret_cast<std::uintptr_t>(function);
    dlclose(libc);
    dl_iterate_phdr(CollectAllocatorSizes, &search);
}

} // namespace

CodeRanges ComputeCodeRanges()
{
    CodeRanges ranges;
    dl_iterate_phdr(CollectRanges, &ranges);
    CollectAllocator(ranges);
    return ranges;
}

bool AllocatorWasActive(const CodeRanges& ranges, std::uintptr_t rip, std::uintptr_t rsp) noexcept
{
    if (ranges.inAllocator(rip))
        return true;
    if (!ranges.inCLibrary(rip))
        return false;
    // The C library's own frames between the fault and an allocator call are few and small.
    constexpr std::size_t kWords = 512;
    std::uintptr_t words[kWords];
    for (std::size_t done = 0; done < kWords; done += 64) {
        if (!ReadProcessBytes(rsp + done * sizeof(std::uintptr_t), words + done, 64 * sizeof(std::uintptr_t)))
            return false;
        for (std::size_t i = done; i < done + 64; ++i)
            if (ranges.inAllocator(words[i]))
                return true;
    }
    return false;
}

const char* ExportedFunctionAt(std::uintptr_t base, std::uintptr_t address, std::uintptr_t& start) noexcept
{
    ElfW(Ehdr) header;
    if (!ReadProcessBytes(base, &header, sizeof header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_phentsize != sizeof(ElfW(Phdr)) ||
        header.e_phnum > 64)
        return nullptr;
    ElfW(Phdr) segments[64];
    if (!ReadProcessBytes(base + header.e_phoff, segments, header.e_phnum * sizeof(ElfW(Phdr))))
        return nullptr;
    // The load bias: the first loaded segment lies at `base`.
    std::uintptr_t bias = 0, dynamicAt = 0;
    bool first = true;
    for (int i = 0; i < header.e_phnum; ++i) {
        if (segments[i].p_type == PT_LOAD && first) {
            bias = base - (segments[i].p_vaddr & ~std::uintptr_t(0xFFF));
            first = false;
        } else if (segments[i].p_type == PT_DYNAMIC) {
            dynamicAt = segments[i].p_vaddr;
        }
    }
    if (first || !dynamicAt)
        return nullptr;
    // The loader has relocated these entries in place; an unrelocated one is an offset.
    const auto absolute = [&](ElfW(Addr) value) { return value >= bias ? value : bias + value; };
    std::uintptr_t symbolsAt = 0, namesAt = 0, hashAt = 0;
    ElfW(Dyn) entry;
    for (std::uintptr_t at = bias + dynamicAt;
         ReadProcessBytes(at, &entry, sizeof entry) && entry.d_tag != DT_NULL; at += sizeof entry) {
        if (entry.d_tag == DT_SYMTAB)
            symbolsAt = absolute(entry.d_un.d_ptr);
        else if (entry.d_tag == DT_STRTAB)
            namesAt = absolute(entry.d_un.d_ptr);
        else if (entry.d_tag == DT_GNU_HASH)
            hashAt = absolute(entry.d_un.d_ptr);
    }
    std::uint32_t hashHeader[4];
    if (!symbolsAt || !namesAt || !hashAt || !ReadProcessBytes(hashAt, hashHeader, sizeof hashHeader))
        return nullptr;
    const std::uint32_t count = SymbolCount(reinterpret_cast<const std::uint32_t*>(hashAt));
    for (std::uint32_t i = 0; i < count; ++i) {
        ElfW(Sym) symbol;
        if (!ReadProcessBytes(symbolsAt + i * sizeof symbol, &symbol, sizeof symbol))
            return nullptr;
        if (ELF64_ST_TYPE(symbol.st_info) != STT_FUNC || symbol.st_shndx == SHN_UNDEF)
            continue;
        const std::uintptr_t begin = bias + symbol.st_value;
        if (address >= begin && address < begin + symbol.st_size) {
            start = begin;
            return reinterpret_cast<const char*>(namesAt + symbol.st_name);
        }
    }
    return nullptr;
}

bool ThreadWaitsInAllocator(const CodeRanges& ranges, std::int64_t threadId) noexcept
{
    // "nr arg1 .. arg6 sp pc" while in a system call, "running" (or "-1 sp pc") otherwise.
    char path[64];
    SignalSafeText name(path, sizeof path);
    name.append("/proc/self/task/").appendDecimal(static_cast<std::uint64_t>(threadId)).append("/syscall");
    char line[256];
    const std::size_t length = ReadWholeFile(name.c_str(), line, sizeof line - 1);
    if (length == 0 || line[0] < '0' || line[0] > '9')
        return false;
    std::uintptr_t fields[9] = {};
    int count = 0;
    for (std::size_t i = 0; i < length && count < 9;) {
        while (i < length && line[i] == ' ')
            ++i;
        const bool hex = i + 1 < length && line[i] == '0' && line[i + 1] == 'x';
        i += hex ? 2 : 0;
        std::uintptr_t value = 0;
        for (; i < length && line[i] != ' ' && line[i] != '\n'; ++i) {
            const char c = line[i];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 0;
            value = value * (hex ? 16 : 10) + static_cast<std::uintptr_t>(digit);
        }
        fields[count++] = value;
        if (i < length && line[i] == '\n')
            break;
    }
    // A lock's wait: futex(word, FUTEX_WAIT, 2), the value the C library's locks wait on when
    // contended. A condition's or a read's wait may have an old return into the allocator above it.
    const bool lockWait =
        fields[0] == SYS_futex && (fields[2] & FUTEX_CMD_MASK) == FUTEX_WAIT && fields[3] == 2;
    return count == 9 && lockWait && AllocatorWasActive(ranges, fields[8], fields[7]);
}

bool InterruptedWaitInAllocator(const CodeRanges& ranges, std::uintptr_t pc, std::uintptr_t sp) noexcept
{
    // A call interrupted by a signal resumes after its instruction, or at it when it restarts.
    unsigned char around[4];
    if (pc < 2 || !ReadProcessBytes(pc - 2, around, sizeof around))
        return false;
    const bool inCall = (around[0] == 0x0F && around[1] == 0x05) || (around[2] == 0x0F && around[3] == 0x05);
    return inCall && AllocatorWasActive(ranges, pc, sp);
}

namespace {

std::atomic<TimerTick> g_tick{nullptr};

void OnTimerSignal(int, siginfo_t*, void* context)
{
    const int savedErrno = errno;
    InterruptedThread thread;
    thread.threadId = CurrentKernelThreadId();
    if (context) {
        const greg_t* g = static_cast<const ucontext_t*>(context)->uc_mcontext.gregs;
        thread.pc = static_cast<std::uintptr_t>(g[REG_RIP]);
        thread.sp = static_cast<std::uintptr_t>(g[REG_RSP]);
    }
    if (TimerTick tick = g_tick.load())
        tick(thread);
    errno = savedErrno;
}

} // namespace

void StartTimerTicks(TimerTick tick, int periodMs) noexcept
{
    g_tick = tick;
    struct sigaction action
    {
    };
    action.sa_sigaction = OnTimerSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    UnblockSignal(SIGALRM);
    itimerval period{};
    period.it_interval.tv_sec = periodMs / 1000;
    period.it_interval.tv_usec = (periodMs % 1000) * 1000;
    period.it_value = period.it_interval;
    setitimer(ITIMER_REAL, &period, nullptr);
}

void StopTimerTicks() noexcept
{
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    g_tick = nullptr;
    struct sigaction dfl
    {
    };
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(SIGALRM, &dfl, nullptr);
}

void RaiseAbort()
{
    std::abort();
}

} // namespace platform
