// Any bytes as a registry hive: the parser must neither crash nor read out of bounds, and every
// key it reports must open again by the path built from the reported names, with each of its
// values found again by name, unchanged.
#include "FuzzCheck.h"

#include "platform/RegistryHive.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using fuzz::check;

namespace {

void WalkEveryKey(const platform::RegistryHive& hive)
{
    std::vector<QString> pending{QString()};
    for (int visited = 0; !pending.empty() && visited < 50000; ++visited) {
        const QString path = pending.back();
        pending.pop_back();
        for (const QString& child : hive.subKeys(path)) {
            check(!child.isEmpty() && !child.contains(QLatin1Char('\\')));
            const QString full = path.isEmpty() ? child : path + QLatin1Char('\\') + child;
            check(hive.hasKey(full));
            for (const platform::RegistryValue& v : hive.values(full)) {
                const platform::RegistryValue* again = hive.value(full, v.name);
                check(again && again->type == v.type && again->data == v.data);
                (void)v.text();
            }
            pending.push_back(full);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    WalkEveryKey(platform::RegistryHive::parse(QByteArray("WINE REGISTRY Version 2\n") + text));
    WalkEveryKey(platform::RegistryHive::parse(text));
    return 0;
}
