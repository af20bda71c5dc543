#pragma once
// How names reach the listing: a unit is the source file's name without folder and extension, a
// function is the demangled C++ name without its parameter list and without compiler clone suffixes.

#include <string>
#include <string_view>

namespace crash::stack {

std::string UnitOfPath(std::string_view path);

// Demangles `name` when it is a mangled C++ name, then drops the parameter list and any
// " [clone .constprop.0]"-style suffix ("ns::C::f(int) const" -> "ns::C::f").
std::string FunctionDisplayName(std::string_view name);

} // namespace crash::stack
