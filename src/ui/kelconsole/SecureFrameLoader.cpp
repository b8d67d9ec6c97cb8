#include "SecureFrameLoader.h"

#define SFRAME_LIBRARY L"SecureFrame.dll"

HRESULT CreateSecureFrame(QvCommon::UniqueCom<FrameManager>& manager) {
    using GetClassObjectProc = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    HMODULE library = ::GetModuleHandleW(SFRAME_LIBRARY);
    if (!library) library = ::LoadLibraryW(SFRAME_LIBRARY);
    if (!library) return SFRAME_E_LIBRARY_NOT_LOADED;
    auto getClassObject = reinterpret_cast<GetClassObjectProc>(
        reinterpret_cast<void*>(::GetProcAddress(library, "DllGetClassObject")));
    if (!getClassObject) return SFRAME_E_ENTRY_MISSING;
    QvCommon::UniqueCom<IClassFactory> factory;
    HRESULT result = getClassObject(CLSID_FrameManager, IID_IClassFactory, reinterpret_cast<void**>(factory.put()));
    if (FAILED(result)) return result;
    return factory.get()->CreateInstance(nullptr, IID_FrameManager, reinterpret_cast<void**>(manager.put()));
}
