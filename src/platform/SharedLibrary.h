#pragma once
// A library opened while the program runs, for what only some uses need: the program's start does
// not pay for loading it and its dependencies. Once opened it stays loaded until the process ends
// (libraries that register exit handlers must not be unloaded under them).

#include <QString>

namespace platform {

class SharedLibrary
{
public:
    // Opens the library by its file name (found the way the loader finds dependencies) and binds all
    // of its symbols now, so a missing one fails here and not at a later call. Empty with `error`
    // set when it cannot be loaded.
    static SharedLibrary open(const char* fileName, QString* error);

    bool isLoaded() const { return m_handle != nullptr; }
    // The address of an exported function or variable; null when the library has no such symbol.
    void* symbol(const char* name) const;
    // Points `function` at the library's function `name`; false (and null) when it has none.
    template <typename Function> bool bind(Function*& function, const char* name)
    {
        function = reinterpret_cast<Function*>(symbol(name));
        if (!function && m_firstMissing.isEmpty())
            m_firstMissing = QString::fromLatin1(name);
        return function != nullptr;
    }
    // "<file> has no function <name>" for the first function bind() did not find.
    QString missingFunctionText() const;

private:
    void* m_handle = nullptr;
    QString m_fileName;
    QString m_firstMissing;
};

// A table of a library's functions, bound at the first call from whichever thread and kept for
// the process: `bindAll(library, table)` binds every entry and answers whether all were found.
// Null when the library cannot be loaded or lacks one of them; `error`, when given, then says which
// (the loader's reason or the first function missing). Each call site (each `bindAll`) has a
// table of its own.
template <typename Table, typename BindAll>
const Table* BoundOnce(const char* fileName, BindAll bindAll, QString* error = nullptr)
{
    static QString failure; // written once, by the call that binds
    static const Table* const bound = [&]() -> const Table* {
        SharedLibrary library = SharedLibrary::open(fileName, &failure);
        static Table table;
        if (!library.isLoaded())
            return nullptr;
        if (bindAll(library, table))
            return &table;
        failure = library.missingFunctionText();
        return nullptr;
    }();
    if (!bound && error)
        *error = failure;
    return bound;
}

} // namespace platform
