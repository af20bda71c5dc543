// A module the redirection test opens only after its redirections are made.
#include <pthread.h>
#include <stdexcept>

extern "C" __attribute__((visibility("default"))) void late_module_throw()
{
    throw std::runtime_error("raised inside the late module");
}

// Starts a named thread and waits for it; answers whether it ran.
extern "C" __attribute__((visibility("default"))) bool late_module_run_thread()
{
    pthread_t thread;
    bool ran = false;
    auto body = [](void* flag) -> void* {
        *static_cast<bool*>(flag) = true;
        return nullptr;
    };
    if (pthread_create(&thread, nullptr, body, &ran) != 0)
        return false;
    pthread_setname_np(thread, "late worker");
    pthread_join(thread, nullptr);
    return ran;
}
