// The component's entry points: the class object for the frame manager and
// the answer to whether the library may go.
#include <windows.h>
#include <objbase.h>
#include <atomic>
#include <new>

#include "FrameManager.h"
#include "FrameManagerObject.h"
#include "SecureFrameConstants.h"
#include "SecureFrameModule.h"

namespace {

std::atomic<long> s_objects{0};
std::atomic<long> s_locks{0};
std::atomic<long> s_threads{0};
HINSTANCE s_instance = nullptr;

class CFrameManagerFactory final : public CModuleObject<IClassFactory, IID_IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* manager = new (std::nothrow) CFrameManager();
        if (!manager) return E_OUTOFMEMORY;
        HRESULT result = manager->QueryInterface(iid, object);
        manager->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        SecureFrameModule::Lock(lock != FALSE);
        return S_OK;
    }
};

} // namespace

namespace SecureFrameModule {

void ObjectCreated() { ++s_objects; }
void ObjectDestroyed() { --s_objects; }
void Lock(bool lock) { lock ? ++s_locks : --s_locks; }
void ThreadStarted() { ++s_threads; }
void ThreadEnded() { --s_threads; }
bool CanUnload() { return s_objects == 0 && s_locks == 0 && s_threads == 0; }
HINSTANCE Instance() { return s_instance; }

} // namespace SecureFrameModule

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        s_instance = instance;
        ::DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // A class left behind would point at code that is gone.
        ::UnregisterClassW(SFRAME_WINDOW_CLASS, instance);
    }
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID iid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(classId, CLSID_FrameManager)) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) CFrameManagerFactory();
    if (!factory) return E_OUTOFMEMORY;
    HRESULT result = factory->QueryInterface(iid, object);
    factory->Release();
    return result;
}

HRESULT WINAPI DllCanUnloadNow() { return SecureFrameModule::CanUnload() ? S_OK : S_FALSE; }

} // extern "C"
