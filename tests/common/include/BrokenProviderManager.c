// Stand-ins for ProviderManager32.dll that the loader and the server wrapper
// must refuse, each built into a folder of its own:
// PROVIDERS_NO_QUERY lacks QueryProviderController;
// PROVIDERS_INIT_FAILS has all four, but InitializeProviders fails.
#include <windows.h>
#include <stdint.h>

__declspec(dllexport) uint32_t WINAPI InitializeProviders(uint32_t side, void* host) {
    (void)side, (void)host;
#ifdef PROVIDERS_INIT_FAILS
    return 0x10000001;
#endif
    return 0;
}

__declspec(dllexport) uint32_t WINAPI PostInitializeProviders(void) { return 0; }

__declspec(dllexport) uint32_t WINAPI UninitializeProviders(void) { return 0; }

#ifndef PROVIDERS_NO_QUERY
__declspec(dllexport) uint32_t WINAPI QueryProviderController(void** controller) {
    *controller = 0;
    return 0x10000005;
}
#endif
