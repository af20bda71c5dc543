// A small library built three times, each copy stripped and given one other symbol source: only its
// exported symbols, a linker map file, or a ".jdbg" file. STACK_LIB names the copy.

#define STACK_LIB_JOIN2(a, b) a##b
#define STACK_LIB_JOIN(a, b) STACK_LIB_JOIN2(a, b)
#define STACK_LIB_FN(name) STACK_LIB_JOIN(STACK_LIB, name)

extern "C" {

volatile int stackLibSink = 0;

// Returns an address inside itself, for looking it up.
__attribute__((visibility("default"), noinline)) void* STACK_LIB_FN(Exported)()
{
    stackLibSink = stackLibSink + 1;
    return __builtin_return_address(0) == nullptr ? nullptr : reinterpret_cast<void*>(&STACK_LIB_FN(Exported));
}

// Not exported (the library is built with hidden visibility): only a map file or .jdbg names it.
__attribute__((noinline)) int STACK_LIB_FN(Hidden)(int n)
{
    stackLibSink = stackLibSink + n * 5;
    return stackLibSink;
}

__attribute__((visibility("default"))) void* STACK_LIB_FN(HiddenAddress)()
{
    return reinterpret_cast<void*>(&STACK_LIB_FN(Hidden));
}

__attribute__((visibility("default"), noinline)) int STACK_LIB_FN(Second)(int n)
{
    stackLibSink = stackLibSink + n;
    return stackLibSink * 3;
}
}
