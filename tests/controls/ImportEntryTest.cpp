#include "controls/RdScrollBarHook.h"
#include "importlibs/ImportLibs.h"
#include "platform/ModuleHandle.h"

#include <gtest/gtest.h>
#include <string>

using namespace controls;

namespace {

int ReplacementValue()
{
    return 7;
}
int ReplacementLazy()
{
    return 8;
}
int ReplacementScrollInfo(int value)
{
    return -value;
}

void* Address(auto function)
{
    return reinterpret_cast<void*>(function);
}

platform::ModuleHandle Consumer()
{
    return platform::ModuleOfAddress(Address(&ConsumerValue));
}

// Puts a redirected import back when a test ends early, so later tests meet the libraries intact.
struct Redirection
{
    platform::ModuleHandle module;
    const char* function;
    const char* library;
    void* previous = nullptr;

    Redirection(platform::ModuleHandle m, const char* f, const char* l, void* replacement)
        : module(m), function(f), library(l), previous(ReplaceImportEntry(m, f, l, replacement))
    {
    }
    // The result of putting the previous content back.
    void* Restore()
    {
        void* result = previous ? ReplaceImportEntry(module, function, library, previous) : nullptr;
        previous = nullptr;
        return result;
    }
    ~Redirection() { Restore(); }
};

} // namespace

TEST(ImportEntry, BothSlotsOfAFunctionImportedTwiceAreRewrittenAndPutBack)
{
    ASSERT_NE(Consumer(), 0u);
    ASSERT_EQ(ConsumerValue(), 42); // binds the jump slot
    const ValueFunction original = ConsumerValueAddress();
    testing::internal::CaptureStderr();
    {
        Redirection hook(Consumer(), "ProviderValue", "comctl32.dll", Address(&ReplacementValue));
        EXPECT_EQ(hook.previous, Address(original)) << "the slots held the provider's function";
        EXPECT_EQ(ConsumerValue(), 7) << "calls are redirected";
        EXPECT_EQ(ConsumerValueAddress(), &ReplacementValue) << "and so is the taken address";
        EXPECT_EQ(hook.Restore(), Address(&ReplacementValue));
    }
    EXPECT_EQ(ConsumerValue(), 42);
    EXPECT_EQ(ConsumerValueAddress(), original);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(ImportEntry, NamesIgnoreCaseAndAnUnboundSlotIsRewrittenToo)
{
    {
        Redirection hook(Consumer(), "PROVIDERlazy", "COMCTL32.DLL", Address(&ReplacementLazy));
        ASSERT_NE(hook.previous, nullptr);
        EXPECT_EQ(ConsumerLazy(), 8);
    }
    EXPECT_EQ(ConsumerLazy(), 43) << "the restored slot still reaches the provider";
}

TEST(ImportEntry, NothingChangesWithoutThatImportOrWithoutAnImage)
{
    const platform::ModuleHandle provider = platform::ModuleOfAddress(Address(ConsumerValueAddress()));
    ASSERT_NE(provider, 0u);
    ASSERT_NE(provider, Consumer());
    int local = 0;
    std::string notAnImage(4096, 'x');
    testing::internal::CaptureStderr();
    void* replacement = Address(&ReplacementValue);
    EXPECT_EQ(ReplaceImportEntry(Consumer(), "NoSuchFunction", "comctl32.dll", replacement), nullptr);
    EXPECT_EQ(ReplaceImportEntry(Consumer(), "ProviderValue", "libc.so.6", replacement), nullptr);
    EXPECT_EQ(ReplaceImportEntry(Consumer(), "ProviderValu", "comctl32.dll", replacement), nullptr);
    EXPECT_EQ(ReplaceImportEntry(provider, "ProviderValue", "comctl32.dll", replacement), nullptr)
        << "the provider defines the function, it does not import it";
    EXPECT_EQ(ReplaceImportEntry(platform::ModuleHandle(16), "ProviderValue", "comctl32.dll", replacement),
              nullptr);
    EXPECT_EQ(ReplaceImportEntry(reinterpret_cast<platform::ModuleHandle>(&local), "ProviderValue",
                                 "comctl32.dll", replacement),
              nullptr);
    EXPECT_EQ(ReplaceImportEntry(reinterpret_cast<platform::ModuleHandle>(notAnImage.data()), "ProviderValue",
                                 "comctl32.dll", replacement),
              nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ConsumerValue(), 42);
    EXPECT_EQ(ConsumerLazy(), 43);
}

TEST(ImportEntry, ModuleZeroIsTheExecutable)
{
    ASSERT_EQ(ConsumerValue(), 42);
    {
        Redirection hook(0, "ConsumerValue", "libimportconsumer.so", Address(&ReplacementValue));
        ASSERT_NE(hook.previous, nullptr);
        EXPECT_EQ(ConsumerValue(), 7) << "the executable's own calls are redirected";
        EXPECT_EQ(ConsumerValueAddress()(), 42) << "the library's imports are not";
    }
    EXPECT_EQ(ConsumerValue(), 42);
}

TEST(ImportEntry, ShutdownPutsARecordedFlatScrollBarSlotBack)
{
    testing::internal::CaptureStderr();
    FinalizeRdScrollBar();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(ConsumerSetScrollInfo(5), 6);
    const ScrollInfoFunction original = ConsumerSetScrollInfoAddress();

    Redirection hook(Consumer(), "FlatSB_SetScrollInfo", "comctl32.dll", Address(&ReplacementScrollInfo));
    ASSERT_EQ(ConsumerSetScrollInfo(5), -5);
    RecordFlatScrollBarRedirection(Consumer(), hook.previous);
    FinalizeRdScrollBar();
    hook.previous = nullptr;
    EXPECT_EQ(ConsumerSetScrollInfo(5), 6);
    EXPECT_EQ(ConsumerSetScrollInfoAddress(), original);

    // The record is used once.
    Redirection again(Consumer(), "FlatSB_SetScrollInfo", "comctl32.dll", Address(&ReplacementScrollInfo));
    FinalizeRdScrollBar();
    EXPECT_EQ(ConsumerSetScrollInfo(5), -5);
}
