#pragma once
// A FrameManager whose frame operations a test scripts: for the failure
// paths that the real component does not take on demand.
#include <gmock/gmock.h>
#include "FrameManager.h"

class MockFrameManager : public FrameManager {
public:
    // Lives on the test's stack: the references are not counted.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override { *object = nullptr; return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetNotifyThread(DWORD, UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProviderController(IProviderController*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
    MOCK_METHOD(HRESULT, CreateUIFrame, (BSTR, DWORD*), (override, Calltype(STDMETHODCALLTYPE)));
    MOCK_METHOD(HRESULT, CreateBrowserFrame, (BSTR, DWORD*, BOOL), (override, Calltype(STDMETHODCALLTYPE)));
    HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
    MOCK_METHOD(HRESULT, GetFrameInfo, (DWORD, IUnknown**), (override, Calltype(STDMETHODCALLTYPE)));
    MOCK_METHOD(HRESULT, WaitForReadyState, (DWORD, DWORD), (override, Calltype(STDMETHODCALLTYPE)));
    MOCK_METHOD(HRESULT, ShowFrame, (DWORD), (override, Calltype(STDMETHODCALLTYPE)));
    MOCK_METHOD(HRESULT, HideFrame, (DWORD), (override, Calltype(STDMETHODCALLTYPE)));
    HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
    MOCK_METHOD(HRESULT, CloseAll, (), (override, Calltype(STDMETHODCALLTYPE)));
    MOCK_METHOD(HRESULT, FrameExecScript, (DWORD, BSTR), (override, Calltype(STDMETHODCALLTYPE)));
    MOCK_METHOD(HRESULT, FrameLoadUrlSync, (DWORD, BSTR), (override, Calltype(STDMETHODCALLTYPE)));
    MOCK_METHOD(HRESULT, DeactivateFrame, (DWORD), (override, Calltype(STDMETHODCALLTYPE)));
    MOCK_METHOD(HRESULT, GetFrameHwnd, (DWORD, HWND*), (override, Calltype(STDMETHODCALLTYPE)));
    HRESULT STDMETHODCALLTYPE Reserved23() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved24() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved25() override { return E_NOTIMPL; }
    MOCK_METHOD(HRESULT, GetPopupCount, (LONG*), (override, Calltype(STDMETHODCALLTYPE)));
    MOCK_METHOD(HRESULT, Uninitialize, (), (override, Calltype(STDMETHODCALLTYPE)));
};
