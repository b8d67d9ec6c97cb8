#pragma once
// What keeps the component loaded: COM objects, LockServer locks and frame
// threads, which run the component's code until their last instruction.
#include <windows.h>
#include <unknwn.h>

namespace SecureFrameModule {

void ObjectCreated();
void ObjectDestroyed();
void Lock(bool lock);
void ThreadStarted();
void ThreadEnded();
bool CanUnload();
HINSTANCE Instance();

} // namespace SecureFrameModule

// IUnknown and the reference count of the component's small objects, each
// with one interface and counted as a living object of the module.
template <typename Interface, const IID& InterfaceId>
class CModuleObject : public Interface {
public:
    CModuleObject() { SecureFrameModule::ObjectCreated(); }
    virtual ~CModuleObject() { SecureFrameModule::ObjectDestroyed(); }
    CModuleObject(const CModuleObject&) = delete;
    CModuleObject& operator=(const CModuleObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, InterfaceId)) return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        this->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&m_references); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = ::InterlockedDecrement(&m_references);
        if (left == 0) delete this;
        return left;
    }

private:
    volatile LONG m_references = 1;
};
