#include "ImportLibs.h"

int ConsumerValue(void)
{
    return ProviderValue();
}

ValueFunction ConsumerValueAddress(void)
{
    return &ProviderValue;
}

// Nothing else calls ProviderLazy, so its slot stays unbound until the first call.
int ConsumerLazy(void)
{
    return ProviderLazy();
}

int ConsumerSetScrollInfo(int value)
{
    return FlatSB_SetScrollInfo(value);
}

ScrollInfoFunction ConsumerSetScrollInfoAddress(void)
{
    return &FlatSB_SetScrollInfo;
}
