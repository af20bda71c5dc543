// Any bytes as a registry hive: the parser must neither crash nor read out of bounds, and every
// key it reports must be answerable.
#include "platform/RegistryHive.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const platform::RegistryHive hive =
        platform::RegistryHive::parse(QByteArray("WINE REGISTRY Version 2\n") + text);
    for (const QString& child : hive.subKeys(QString()))
        for (const platform::RegistryValue& v : hive.values(child))
            (void)v.text();
    platform::RegistryHive::parse(text);
    return 0;
}
