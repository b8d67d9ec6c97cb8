#pragma once
// Loads the provider library "ProviderManager32.dll" and binds its four entry
// points; the server provider wrapper calls them directly.
#include <windows.h>
#include <cstdint>
#include <string>
#include "Library.h"
#include "ProviderInterfaces.h"

#define PROVIDER_LIBRARY_NAME L"ProviderManager32.dll"
#define PROVIDER_ENTRY_INITIALIZE "InitializeProviders"
#define PROVIDER_ENTRY_POST_INITIALIZE "PostInitializeProviders"
#define PROVIDER_ENTRY_UNINITIALIZE "UninitializeProviders"
#define PROVIDER_ENTRY_QUERY_CONTROLLER "QueryProviderController"

extern "C" {
typedef uint32_t (WINAPI *PFN_InitializeProviders)(uint32_t side, IProviderController* host);
typedef uint32_t (WINAPI *PFN_PostInitializeProviders)();
typedef uint32_t (WINAPI *PFN_UninitializeProviders)();
typedef uint32_t (WINAPI *PFN_QueryProviderController)(IProviderController** controller);
}

class LibProviderManager : public QvCommon::Library::Wrapper {
public:
    ~LibProviderManager() override;
    bool BindEntryPoints(bool bind, DWORD* error) override;

    // Loads "<folder>\ProviderManager32.dll" (the loader's search order for
    // an empty folder) and binds the entry points.
    bool Initialize(const std::wstring& folder);
    bool Uninitialize();
    bool IsBound() const { return m_bound; }

    PFN_InitializeProviders InitializeProviders = nullptr;
    PFN_PostInitializeProviders PostInitializeProviders = nullptr;
    PFN_UninitializeProviders UninitializeProviders = nullptr;
    PFN_QueryProviderController QueryProviderController = nullptr;

private:
    bool m_bound = false;
};
