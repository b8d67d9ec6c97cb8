#pragma once
// The interface of the secure frame component (SecureFrame.dll), shared by the
// agent that calls it and the component that implements it. The agent calls
// through the vtable, so the order of the methods below is binding: slots
// 0-2 are IUnknown's, 3-6 IDispatch's, and the reserved slots hold places the
// agent never calls. A frame id is the id of the UI thread that runs the frame.
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

class IProviderController;

// {C424F6AE-27BE-485A-B8BE-83EE433BEBB1}
inline constexpr IID IID_FrameManager = {0xC424F6AE, 0x27BE, 0x485A,
                                         {0xB8, 0xBE, 0x83, 0xEE, 0x43, 0x3B, 0xEB, 0xB1}};
// {81038E0F-E9FC-4455-9EBC-193C36D3E415}
inline constexpr CLSID CLSID_FrameManager = {0x81038E0F, 0xE9FC, 0x4455,
                                             {0x9E, 0xBC, 0x19, 0x3C, 0x36, 0xD3, 0xE4, 0x15}};

// The thread message that announces a new, still suspended UI thread to the
// main thread: wParam is the kind below, lParam the thread id.
constexpr UINT FRAME_NOTIFY_MESSAGE = 0x400;
constexpr WPARAM FRAME_KIND_UI = 0;
constexpr WPARAM FRAME_KIND_POPUP = 1;

// Longest command a browser frame takes; callers cut longer text.
constexpr size_t FRAME_COMMAND_MAX_CHARS = 259;

// The answer for a frame id that names no living frame.
constexpr HRESULT FRAME_E_NOT_FOUND = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

struct FrameManager : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE SetNotifyThread(DWORD mainThreadId, UINT message) = 0;           // 7
    virtual HRESULT STDMETHODCALLTYPE SetProviderController(IProviderController* controller) = 0;      // 8
    virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;                                                  // 9
    // description: JSON object text (page, title, size, position, script).
    virtual HRESULT STDMETHODCALLTYPE CreateUIFrame(BSTR description, DWORD* frameId) = 0;             // 10
    // frameId may be null.
    virtual HRESULT STDMETHODCALLTYPE CreateBrowserFrame(BSTR command, DWORD* frameId, BOOL autoNavigate) = 0;  // 11
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;                                                 // 12
    virtual HRESULT STDMETHODCALLTYPE GetFrameInfo(DWORD frameId, IUnknown** info) = 0;                // 13
    // timeoutMs 0: the component's own bound.
    virtual HRESULT STDMETHODCALLTYPE WaitForReadyState(DWORD frameId, DWORD timeoutMs) = 0;           // 14
    virtual HRESULT STDMETHODCALLTYPE ShowFrame(DWORD frameId) = 0;                                     // 15
    virtual HRESULT STDMETHODCALLTYPE HideFrame(DWORD frameId) = 0;                                     // 16
    virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;                                                 // 17
    virtual HRESULT STDMETHODCALLTYPE CloseAll() = 0;                                                   // 18
    virtual HRESULT STDMETHODCALLTYPE FrameExecScript(DWORD frameId, BSTR script) = 0;                 // 19
    virtual HRESULT STDMETHODCALLTYPE FrameLoadUrlSync(DWORD frameId, BSTR url) = 0;                   // 20
    virtual HRESULT STDMETHODCALLTYPE DeactivateFrame(DWORD frameId) = 0;                               // 21
    virtual HRESULT STDMETHODCALLTYPE GetFrameHwnd(DWORD frameId, HWND* window) = 0;                   // 22
    virtual HRESULT STDMETHODCALLTYPE Reserved23() = 0;                                                 // 23
    virtual HRESULT STDMETHODCALLTYPE Reserved24() = 0;                                                 // 24
    virtual HRESULT STDMETHODCALLTYPE Reserved25() = 0;                                                 // 25
    virtual HRESULT STDMETHODCALLTYPE GetPopupCount(LONG* count) = 0;                                   // 26
    virtual HRESULT STDMETHODCALLTYPE Uninitialize() = 0;                                               // 27
};
