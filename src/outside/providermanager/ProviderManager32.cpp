// The provider library's four entry points. One controller per process,
// made by InitializeProviders and gone after UninitializeProviders.
#include <windows.h>
#include <memory>
#include <type_traits>

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
    library.controller->Stop();
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
