// The provider library's four entry points. One controller per process,
// made by InitializeProviders and gone after UninitializeProviders.
#include <windows.h>
#include <memory>
#include <type_traits>

#include "IpcGuard.h"
#include "ProviderController.h"
#include "LibProviderManager.h"
#include "PinProvider.h"
#include "ProductKeys.h"
#include "QvLog.h"

namespace {

struct Library {
    std::unique_ptr<CProviderController> controller;
    std::unique_ptr<CPinProvider> pin;
};

Library& Instance() {
    static Library s_library;
    return s_library;
}

QvCommon::Synchronize::CriticalSection& EntryLock() {
    static QvCommon::Synchronize::CriticalSection s_lock;
    return s_lock;
}

uint32_t Start(Library& library, IProviderController* host) {
    auto controller = std::make_unique<CProviderController>(host);
    if (!controller->Start()) return PROVIDER_RESULT_FAILED;
    auto pin = std::make_unique<CPinProvider>(controller.get());
    uint32_t result = pin->Initialize();
    if (IsProviderFailure(result)) return result;
    result = controller->RegisterProvider(pin.get());
    if (IsProviderFailure(result)) return result;
    library.controller = std::move(controller);
    library.pin = std::move(pin);
    return PROVIDER_RESULT_OK;
}

// A post worker that is still inside a provider runs this module's code and
// uses the controller: both stay for the life of the process.
void KeepForStalledWorker(Library& library) {
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCWSTR>(&KeepForStalledWorker), &self))
        QVLOG(QVLOG_ERROR, L"UninitializeProviders: Cannot pin the library: %u", ::GetLastError());
    QVLOG(QVLOG_ERROR, L"UninitializeProviders: A posted message is still being handled; "
                       L"the library stays loaded.");
    library.controller.release();
}

} // namespace

extern "C" {

uint32_t WINAPI InitializeProviders(uint32_t side, IProviderController* host) {
    QvCommon::Synchronize::AutoLock lock(EntryLock());
    Library& library = Instance();
    if (library.controller) return PROVIDER_RESULT_OK;
    if (!host) return PROVIDER_RESULT_INVALID_PARAMETER;
    // The library logs through a log of its own, configured as the agent's is.
    QvCommon::DebugLog::Instance().Initialize(
        L"ProviderManager32", QvCommon::Storage::Key(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, QV_DEBUGLOG_KEY),
        L".\\", QVLOG_SESSION_DETECT);
    QVLOG(QVLOG_TRACE, L"[Enter] InitializeProviders (side=%u)", side);
    const uint32_t result = IpcGuard::Call(L"InitializeProviders", [&] { return Start(library, host); });
    // A library that did not start is unloaded next: its log must not stay open.
    if (IsProviderFailure(result)) QvCommon::DebugLog::Instance().Uninitialize();
    return result;
}

uint32_t WINAPI QueryProviderController(IProviderController** controller) {
    QvCommon::Synchronize::AutoLock lock(EntryLock());
    if (!controller) return PROVIDER_RESULT_INVALID_PARAMETER;
    *controller = Instance().controller.get();
    return *controller ? PROVIDER_RESULT_OK : PROVIDER_RESULT_NOT_INITIALIZED;
}

uint32_t WINAPI PostInitializeProviders() {
    QvCommon::Synchronize::AutoLock lock(EntryLock());
    Library& library = Instance();
    if (!library.controller) return PROVIDER_RESULT_NOT_INITIALIZED;
    library.controller->PostInitializeProviders();
    return PROVIDER_RESULT_OK;
}

uint32_t WINAPI UninitializeProviders() {
    QvCommon::Synchronize::AutoLock lock(EntryLock());
    Library& library = Instance();
    if (!library.controller) return PROVIDER_RESULT_NOT_INITIALIZED;
    library.controller->UnregisterProvider(library.pin->GetClassId());
    library.pin->Uninitialize();
    if (!library.controller->Stop()) KeepForStalledWorker(library);
    library.controller.reset();
    library.pin.reset();
    QVLOG(QVLOG_TRACE, L"[Leave] UninitializeProviders");
    QvCommon::DebugLog::Instance().Uninitialize();
    return PROVIDER_RESULT_OK;
}

} // extern "C"

// The exports are exactly what the agent's loader calls.
static_assert(std::is_same<decltype(&InitializeProviders), PFN_InitializeProviders>::value, "signature");
static_assert(std::is_same<decltype(&PostInitializeProviders), PFN_PostInitializeProviders>::value, "signature");
static_assert(std::is_same<decltype(&UninitializeProviders), PFN_UninitializeProviders>::value, "signature");
static_assert(std::is_same<decltype(&QueryProviderController), PFN_QueryProviderController>::value, "signature");
