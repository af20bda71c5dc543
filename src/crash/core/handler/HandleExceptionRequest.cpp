#include "crash/core/handler/HandleExceptionRequest.h"

namespace crash {

std::exception_ptr NestedExceptionOf(const std::exception_ptr& error)
{
    if (!error)
        return nullptr;
    try {
        std::rethrow_exception(error);
    } catch (const std::nested_exception& nested) {
        return nested.nested_ptr();
    } catch (...) {
    }
    return nullptr;
}

} // namespace crash
