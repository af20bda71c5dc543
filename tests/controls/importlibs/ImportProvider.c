#include "ImportLibs.h"

int ProviderValue(void)
{
    return 42;
}

int ProviderLazy(void)
{
    return 43;
}

int FlatSB_SetScrollInfo(int value)
{
    return value + 1;
}
