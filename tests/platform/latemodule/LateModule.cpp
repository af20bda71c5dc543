// A module the redirection test opens only after its redirections are made.
#include <stdexcept>

extern "C" __attribute__((visibility("default"))) void late_module_throw()
{
    throw std::runtime_error("raised inside the late module");
}
