#include "LibProviderManager.h"
#include "QvLog.h"

LibProviderManager::~LibProviderManager() {
    if (m_bound) Uninitialize();
    // The base unloads a module that was loaded but never bound.
}

bool LibProviderManager::BindEntryPoints(bool bind, DWORD* error) {
    if (!bind) {
        InitializeProviders = nullptr;
        PostInitializeProviders = nullptr;
        UninitializeProviders = nullptr;
        QueryProviderController = nullptr;
        m_bound = false;
        return true;
    }
    bool resolved = true;
    InitializeProviders = Resolve<PFN_InitializeProviders>(PROVIDER_ENTRY_INITIALIZE, resolved, error);
    PostInitializeProviders = Resolve<PFN_PostInitializeProviders>(PROVIDER_ENTRY_POST_INITIALIZE, resolved, error);
    UninitializeProviders = Resolve<PFN_UninitializeProviders>(PROVIDER_ENTRY_UNINITIALIZE, resolved, error);
    QueryProviderController =
        Resolve<PFN_QueryProviderController>(PROVIDER_ENTRY_QUERY_CONTROLLER, resolved, error);
    m_bound = resolved;
    return resolved;
}

bool LibProviderManager::Initialize(const std::wstring& folder) {
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    path += PROVIDER_LIBRARY_NAME;

    DWORD error = 0;
    bool loaded = false;
    if (m_bound) error = QVLIB_ERROR_ALREADY_LOADED;
    else loaded = Load(path.c_str(), &error) && BindEntryPoints(true, &error);
    if (!loaded) {
        // A library that loaded but could not be bound stays loaded until
        // Uninitialize or destruction.
        QVLOG(QVLOG_ERROR, L"*** LibProviderManager::Initialize() - InitializeLibrary() failed. [0x%08x]", error);
        return false;
    }
    return true;
}

bool LibProviderManager::Uninitialize() {
    DWORD error = QVLIB_ERROR_NOT_LOADED;
    const bool bound = m_bound;
    const bool unloaded = bound && Unload(&error);
    // The module handle is forgotten even when FreeLibrary fails, so the
    // entry points into it must go as well.
    if (bound) BindEntryPoints(false, nullptr);
    if (!unloaded) {
        QVLOG(QVLOG_ERROR, L"*** LibProviderManager::Uninitialize() - UnInitializeLibrary() failed. [0x%08x]", error);
        return false;
    }
    return true;
}
