#include "platform/ImportSlots.h"
#include "support/TempDir.h"

#include <QFile>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <link.h>
#include <optional>
#include <sys/mman.h>
#include <unistd.h>

using namespace platform;

#if defined(__x86_64__)

namespace {

const std::size_t kPage = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));

std::uintptr_t LibcFunction(const char* name)
{
    return reinterpret_cast<std::uintptr_t>(dlsym(RTLD_DEFAULT, name));
}

// A module image built in memory the way a loader leaves one: headers, a dynamic section with
// symbol and string tables, a general and a jump-slot relocation table, and the slots on their own
// page, then an unreadable page. Symbols: 1 getpid and 2 getppid (imported), 3 getpid (defined here, so no
// import). Slots: 0 getpid (global data), 1 getppid (global data), 2 getpid (jump slot), 3 the defined one.
struct FakeImage
{
    static constexpr std::size_t kDynamic = 0x200, kSymbols = 0x400, kStrings = 0x600, kRela = 0x800,
                                 kJumpRel = 0xA00;
    unsigned char* base = nullptr;
    std::size_t size = 4 * kPage; // the last page stays unreadable

    FakeImage()
    {
        base = static_cast<unsigned char*>(
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        Elf64_Ehdr& h = *reinterpret_cast<Elf64_Ehdr*>(base);
        std::memcpy(h.e_ident, ELFMAG, SELFMAG);
        h.e_ident[EI_CLASS] = ELFCLASS64;
        h.e_ident[EI_DATA] = ELFDATA2LSB;
        h.e_ident[EI_VERSION] = EV_CURRENT;
        h.e_type = ET_DYN;
        h.e_machine = EM_X86_64;
        h.e_phoff = sizeof(Elf64_Ehdr);
        h.e_phentsize = sizeof(Elf64_Phdr);
        h.e_phnum = 2;
        auto* ph = reinterpret_cast<Elf64_Phdr*>(base + h.e_phoff);
        ph[0] = {PT_LOAD, PF_R | PF_W, 0, 0, 0, size, size, kPage};
        ph[1] = {PT_DYNAMIC,
                 PF_R | PF_W,
                 kDynamic,
                 kDynamic,
                 kDynamic,
                 10 * sizeof(Elf64_Dyn),
                 10 * sizeof(Elf64_Dyn),
                 8};
        const Elf64_Dyn dynamic[] = {{DT_SYMTAB, {kSymbols}},
                                     {DT_STRTAB, {kStrings}},
                                     {DT_RELA, {kRela}},
                                     {DT_RELASZ, {2 * sizeof(Elf64_Rela)}},
                                     {DT_RELAENT, {sizeof(Elf64_Rela)}},
                                     {DT_JMPREL, {kJumpRel}},
                                     {DT_PLTRELSZ, {2 * sizeof(Elf64_Rela)}},
                                     {DT_PLTREL, {DT_RELA}},
                                     {DT_NULL, {0}}};
        std::memcpy(base + kDynamic, dynamic, sizeof dynamic);
        const char strings[] = "\0getpid\0getppid";
        std::memcpy(base + kStrings, strings, sizeof strings);
        auto* symbols = reinterpret_cast<Elf64_Sym*>(base + kSymbols);
        symbols[1] = {1, STT_FUNC, 0, SHN_UNDEF, 0, 0};
        symbols[2] = {8, STT_FUNC, 0, SHN_UNDEF, 0, 0};
        symbols[3] = {1, STT_FUNC, 0, 5, 0x100, 0};
        auto* rela = reinterpret_cast<Elf64_Rela*>(base + kRela);
        rela[0] = {kPage, ELF64_R_INFO(1, R_X86_64_GLOB_DAT), 0};
        rela[1] = {kPage + 8, ELF64_R_INFO(2, R_X86_64_GLOB_DAT), 0};
        auto* jumps = reinterpret_cast<Elf64_Rela*>(base + kJumpRel);
        jumps[0] = {kPage + 16, ELF64_R_INFO(1, R_X86_64_JUMP_SLOT), 0};
        jumps[1] = {kPage + 24, ELF64_R_INFO(3, R_X86_64_JUMP_SLOT), 0};
        Slot(0) = LibcFunction("getpid");
        Slot(1) = LibcFunction("getppid");
        Slot(2) = LibcFunction("getpid");
        Slot(3) = LibcFunction("getpid");
        mprotect(base + 3 * kPage, kPage, PROT_NONE);
    }
    ~FakeImage() { munmap(base, size); }

    ModuleHandle Handle() const { return reinterpret_cast<ModuleHandle>(base); }
    std::uintptr_t& Slot(int i) { return reinterpret_cast<std::uintptr_t*>(base + kPage)[i]; }
    Elf64_Dyn* Dynamic(int i) { return reinterpret_cast<Elf64_Dyn*>(base + kDynamic) + i; }
};

// Protection letters ("r--p") of the mapping that holds `address`.
std::string MapPermissions(const void* address)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {};
    const auto a = reinterpret_cast<unsigned long long>(address);
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        const QList<QByteArray> range = parts.value(0).split('-');
        if (range.size() == 2 && a >= range[0].toULongLong(nullptr, 16) &&
            a < range[1].toULongLong(nullptr, 16))
            return parts.value(1).toStdString();
    }
    return {};
}

} // namespace

TEST(ImportSlots, RewritesEveryImportOfTheFunctionAndAnswersThePreviousContent)
{
    FakeImage image;
    const std::uintptr_t getpid = image.Slot(0), getppid = image.Slot(1);
    ASSERT_NE(getpid, 0u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReplaceImportSlots(image.Handle(), "GetPid", "LIBC.so.6", 0x1000), getpid);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(image.Slot(0), 0x1000u);
    EXPECT_EQ(image.Slot(1), getppid) << "another function";
    EXPECT_EQ(image.Slot(2), 0x1000u) << "the jump slot too";
    EXPECT_EQ(image.Slot(3), getpid) << "the image's own definition is no import";

    // The slots now point outside the library, and a module outside the loader's list has no
    // lookup of its own: nothing to rewrite.
    EXPECT_EQ(ReplaceImportSlots(image.Handle(), "getpid", "libc.so.6", getpid), 0u);
    image.Slot(0) = image.Slot(2) = getpid;
    EXPECT_EQ(ReplaceImportSlots(image.Handle(), "getpid", "libm.so.6", 0x1000), 0u);
    EXPECT_EQ(ReplaceImportSlots(image.Handle(), "getpi", "libc.so.6", 0x1000), 0u);
    EXPECT_EQ(image.Slot(0), getpid);
}

TEST(ImportSlots, ReadOnlySlotsAreWrittenAndTheirProtectionPutBack)
{
    FakeImage image;
    ASSERT_EQ(mprotect(image.base + kPage, kPage, PROT_READ), 0);
    ASSERT_EQ(MapPermissions(image.base + kPage).substr(0, 3), "r--");
    EXPECT_NE(ReplaceImportSlots(image.Handle(), "getppid", "libc.so.6", 0x2000), 0u);
    EXPECT_EQ(image.Slot(1), 0x2000u);
    EXPECT_EQ(MapPermissions(image.base + kPage).substr(0, 3), "r--");
}

TEST(ImportSlots, OneWalkServesSeveralFunctionsInsideAndOutsideAWriteScope)
{
    for (const bool scoped : {false, true}) {
        FakeImage image;
        const std::uintptr_t getpid = image.Slot(0), getppid = image.Slot(1);
        ASSERT_EQ(mprotect(image.base + kPage, kPage, PROT_READ), 0);
        std::optional<ImportSlotWriteScope> scope;
        if (scoped)
            scope.emplace();
        ImportRewrite rewrites[] = {{"getpid", "libc.so.6", 0x1000},
                                    {"getppid", "libc.so.6", 0x2000},
                                    {"getuid", "libc.so.6", 0x3000}};
        ReplaceImportSlots(image.Handle(), rewrites);
        EXPECT_EQ(rewrites[0].previous, getpid);
        EXPECT_EQ(rewrites[1].previous, getppid);
        EXPECT_EQ(rewrites[2].previous, 0u) << "not imported";
        EXPECT_EQ(image.Slot(0), 0x1000u);
        EXPECT_EQ(image.Slot(1), 0x2000u);
        EXPECT_EQ(image.Slot(2), 0x1000u);
        EXPECT_EQ(MapPermissions(image.base + kPage).substr(0, 3), "r--") << scoped;
    }
}

TEST(ImportSlots, LeadingRelativeRelocationsAreNotRead)
{
    FakeImage image;
    const std::uintptr_t getpid = image.Slot(0);
    // The linker declares the general table's first entry relative: its slot is no import.
    image.Dynamic(8)->d_tag = DT_RELACOUNT;
    image.Dynamic(8)->d_un.d_val = 1;
    image.Dynamic(9)->d_tag = DT_NULL;
    EXPECT_EQ(ReplaceImportSlots(image.Handle(), "getpid", "libc.so.6", 0x1000), getpid);
    EXPECT_EQ(image.Slot(0), getpid);
    EXPECT_EQ(image.Slot(2), 0x1000u);
}

TEST(ImportSlots, UnreadableOrForeignMemoryGivesNothing)
{
    FakeImage image;
    const std::uintptr_t getpid = image.Slot(0);
    testing::internal::CaptureStderr();
    // Header page unreadable.
    ASSERT_EQ(mprotect(image.base, kPage, PROT_NONE), 0);
    EXPECT_EQ(ReplaceImportSlots(image.Handle(), "getpid", "libc.so.6", 0x1000), 0u);
    ASSERT_EQ(mprotect(image.base, kPage, PROT_READ | PROT_WRITE), 0);
    // Wrong signature.
    image.base[1] = 'X';
    EXPECT_EQ(ReplaceImportSlots(image.Handle(), "getpid", "libc.so.6", 0x1000), 0u);
    image.base[1] = 'E';
    // Tables pointing at unreadable memory.
    image.Dynamic(0)->d_un.d_ptr = 3 * kPage + 0x100;
    image.Dynamic(2)->d_un.d_ptr = 3 * kPage + 0x100;
    image.Dynamic(5)->d_un.d_ptr = 3 * kPage + 0x100;
    EXPECT_EQ(ReplaceImportSlots(image.Handle(), "getpid", "libc.so.6", 0x1000), 0u);
    {
        ImportSlotWriteScope scope;
        EXPECT_EQ(ReplaceImportSlots(image.Handle(), "getpid", "libc.so.6", 0x1000), 0u);
    }
    // Slots unreadable.
    FakeImage second;
    ASSERT_EQ(mprotect(second.base + kPage, kPage, PROT_NONE), 0);
    EXPECT_EQ(ReplaceImportSlots(second.Handle(), "getpid", "libc.so.6", 0x1000), 0u);
    ASSERT_EQ(mprotect(second.base + kPage, kPage, PROT_READ), 0);
    EXPECT_EQ(second.Slot(0), getpid);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(image.Slot(0), getpid);
    EXPECT_EQ(image.Slot(2), getpid);

    EXPECT_EQ(ReplaceImportSlots(ModuleHandle(8), "getpid", "libc.so.6", 0x1000), 0u);
}

TEST(ImportSlots, ErrorsAreReportedAtTheirLevelAndTheWalkGoesOn)
{
    {
        // A general table with entries of a foreign size is left out; the jump slots still count.
        FakeImage image;
        image.Dynamic(4)->d_un.d_val = 16;
        testing::internal::CaptureStderr();
        EXPECT_NE(ReplaceImportSlots(image.Handle(), "getpid", "libc.so.6", 0x1000), 0u);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "RdApiHook err2:relocation entries of 16 bytes\n");
        EXPECT_NE(image.Slot(0), 0x1000u);
        EXPECT_EQ(image.Slot(2), 0x1000u);
    }
    {
        FakeImage image;
        image.Dynamic(0)->d_tag = DT_DEBUG; // no symbol table
        testing::internal::CaptureStderr();
        EXPECT_EQ(ReplaceImportSlots(image.Handle(), "getpid", "libc.so.6", 0x1000), 0u);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "RdApiHook err3:dynamic section without symbol or string table\n");
    }
    {
        // A slot in a mapping that cannot be made writable is reported and skipped.
        testsupport::TempDir dir;
        const QString path = dir.path() + QStringLiteral("/slots");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(int(kPage), '\0'));
        file.close();
        const int fd = open(QFile::encodeName(path).constData(), O_RDONLY);
        ASSERT_GE(fd, 0);
        void* shared = mmap(nullptr, kPage, PROT_READ, MAP_SHARED, fd, 0);
        close(fd);
        ASSERT_NE(shared, MAP_FAILED);
        FakeImage image;
        auto* jumps = reinterpret_cast<Elf64_Rela*>(image.base + FakeImage::kJumpRel);
        // The jump slot of getpid now lives in the read-only file mapping, holding getpid.
        jumps[0].r_offset = reinterpret_cast<std::uintptr_t>(shared) - image.Handle();
        const std::uintptr_t getpid = image.Slot(0);
        ASSERT_EQ(mprotect(shared, kPage, PROT_READ), 0);
        {
            const int rw = open(QFile::encodeName(path).constData(), O_RDWR);
            ASSERT_GE(rw, 0);
            ASSERT_EQ(pwrite(rw, &getpid, sizeof getpid, 0), ssize_t(sizeof getpid));
            close(rw);
        }
        testing::internal::CaptureStderr();
        EXPECT_EQ(ReplaceImportSlots(image.Handle(), "getpid", "libc.so.6", 0x1000), getpid)
            << "the global-data slot is still rewritten";
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(errors.rfind("RdApiHook err1:cannot make the import slot writable", 0), 0u) << errors;
        EXPECT_EQ(*static_cast<std::uintptr_t*>(shared), getpid);
        EXPECT_EQ(image.Slot(0), 0x1000u);
        munmap(shared, kPage);
    }
}

TEST(ImportSlots, ReadProcessBytesRefusesUnreadableMemory)
{
    auto* pages = static_cast<unsigned char*>(
        mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    pages[kPage - 1] = 0x5A;
    ASSERT_EQ(mprotect(pages + kPage, kPage, PROT_NONE), 0);
    unsigned char out[2] = {0, 0};
    const auto at = reinterpret_cast<std::uintptr_t>(pages);
    EXPECT_TRUE(ReadProcessBytes(at + kPage - 1, out, 1));
    EXPECT_EQ(out[0], 0x5A);
    EXPECT_FALSE(ReadProcessBytes(at + kPage - 1, out, 2)) << "straddles into the unreadable page";
    EXPECT_FALSE(ReadProcessBytes(at + kPage, out, 1));
    EXPECT_FALSE(ReadProcessBytes(0, out, 1));
    EXPECT_FALSE(ReadProcessBytes(~std::uintptr_t(0), out, 2)) << "wraps around";
    munmap(pages, 2 * kPage);
}

#endif
