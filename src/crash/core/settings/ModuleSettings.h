#pragma once
// The parsed settings of one module (the executable or a shared library with its own settings
// resource), kept in the process-wide store's list and shared by every settings object of that
// module. The property list is never changed once the record is in the list, so readers take no lock.

#include "crash/core/settings/SettingsProperty.h"
#include "platform/ModuleHandle.h"

#include <QString>

namespace crash {

struct ModuleSettings
{
    int refCount = 0; // guarded by the store's list lock
    platform::ModuleHandle module = 0;
    QString moduleFile; // with the handle, tells a reloaded module from the one that was there before
    SettingsPropertyList properties;
    ModuleSettings* next = nullptr;
};

} // namespace crash
