#include "crash/core/stack/SymbolNames.h"

#include <cstdlib>
#include <cxxabi.h>

namespace crash::stack {

std::string UnitOfPath(std::string_view path)
{
    const auto slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    const auto dot = path.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0)
        path = path.substr(0, dot);
    return std::string(path);
}

namespace {

std::string Demangle(std::string_view name)
{
    if (name.size() < 2 || name[0] != '_' || name[1] != 'Z')
        return std::string(name);
    int status = 0;
    char* plain = abi::__cxa_demangle(std::string(name).c_str(), nullptr, nullptr, &status);
    if (plain == nullptr || status != 0) {
        std::free(plain);
        return std::string(name);
    }
    std::string result(plain);
    std::free(plain);
    return result;
}

bool EndsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// "f(int)" -> "f", matching the parenthesis that closes the parameter list.
std::string WithoutParameters(const std::string& name)
{
    int depth = 0;
    for (std::size_t i = name.size(); i-- > 0;) {
        if (name[i] == ')')
            ++depth;
        else if (name[i] == '(' && --depth == 0)
            return i == 0 ? name : name.substr(0, i);
    }
    return name;
}

// Template functions demangle with their return type in front ("std::cv_status ns::f<int>"): drop
// what stands before the last blank outside brackets, unless that blank belongs to an operator
// name ("operator new", "operator int").
std::string WithoutReturnType(const std::string& name)
{
    int depth = 0;
    std::size_t split = std::string::npos;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool inOperator = i >= 8 && name.compare(i - 8, 8, "operator") == 0;
        if ((c == '<' || c == '(' || c == '[' || c == '{') && !inOperator)
            ++depth;
        else if ((c == '>' || c == ')' || c == ']' || c == '}') && depth > 0)
            --depth;
        else if (c == ' ' && depth == 0 && !inOperator)
            split = i;
    }
    return split == std::string::npos ? name : name.substr(split + 1);
}

} // namespace

std::string FunctionDisplayName(std::string_view mangled)
{
    std::string name = Demangle(mangled);
    // Clone suffixes come from either the demangler (" [clone .cold]") or a raw symbol (".cold").
    if (auto clone = name.find(" [clone "); clone != std::string::npos)
        name.erase(clone);
    // Trailing qualifiers of a member function stand after the parameter list.
    for (bool trimmed = true; trimmed;) {
        trimmed = false;
        for (std::string_view q : {" const", " volatile", " &&", " &", " noexcept"}) {
            if (EndsWith(name, q)) {
                name.erase(name.size() - q.size());
                trimmed = true;
            }
        }
    }
    if (!name.empty() && name.back() == ')')
        name = WithoutParameters(name);
    return WithoutReturnType(name);
}


} // namespace crash::stack
