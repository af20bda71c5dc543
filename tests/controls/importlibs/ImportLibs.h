#pragma once
// Two small shared libraries for the import-slot tests: the provider (file "comctl32.dll") defines
// the functions, the consumer imports them through its procedure linkage table and, for
// ProviderValue and FlatSB_SetScrollInfo, also by taking their addresses, so those functions have
// two slots each.

#ifdef __cplusplus
extern "C" {
#endif

int ProviderValue(void);
int ProviderLazy(void);
int FlatSB_SetScrollInfo(int value);

typedef int (*ValueFunction)(void);
typedef int (*ScrollInfoFunction)(int);

int ConsumerValue(void);
ValueFunction ConsumerValueAddress(void);
int ConsumerLazy(void);
int ConsumerSetScrollInfo(int value);
ScrollInfoFunction ConsumerSetScrollInfoAddress(void);

#ifdef __cplusplus
}
#endif
