// Any bytes as a settings resource, as they are and behind a valid prefix: the parser must never
// read outside the data, and whatever it keeps must survive the password step.
#include "crash/core/settings/SettingsResource.h"
#include "platform/MessageBox.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        platform::SetMessageBoxHandler(
            [](const platform::MessageBoxRequest& r) { return platform::DefaultAnswer(r.buttons); });
        return true;
    }();
    (void)quiet;

    const auto* bytes = reinterpret_cast<const std::byte*>(data);
    auto parsed = crash::ParseSettingsResource({bytes, size});
    crash::DecipherSettingsPasswords(parsed.properties);

    static constexpr char prefix[] = "TPF0\x08THalvorn\x07Halvorn";
    std::vector<std::byte> prefixed(sizeof prefix - 1 + size);
    std::memcpy(prefixed.data(), prefix, sizeof prefix - 1);
    if (size)
        std::memcpy(prefixed.data() + sizeof prefix - 1, data, size);
    auto behind = crash::ParseSettingsResource(prefixed);
    crash::DecipherSettingsPasswords(behind.properties);
    for (std::size_t i = 0; i < behind.properties.count(); ++i) {
        if (behind.properties.at(i).name.empty())
            __builtin_trap(); // an empty name is the end marker, never a property
    }
    return 0;
}
