#pragma once
// The component's one object: the FrameManager the agent calls, and the
// inspector that shows what its frames did. It owns the table of frames by
// id; each frame's thread holds the frame too, so a frame outlives neither
// its thread nor its last caller. A closed frame leaves the table at the next
// launch, and only its journal stays, for a bounded number of frames.
#include <deque>
#include <map>
#include <memory>

#include "Frame.h"
#include "FrameInspector.h"
#include "FrameManager.h"
#include "Synchronize.h"

class CFrameManager final : public FrameManager, public IFrameInspector {
public:
    CFrameManager();
    ~CFrameManager();
    CFrameManager(const CFrameManager&) = delete;
    CFrameManager& operator=(const CFrameManager&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

    HRESULT STDMETHODCALLTYPE SetNotifyThread(DWORD mainThreadId, UINT message) override;
    HRESULT STDMETHODCALLTYPE SetProviderController(IProviderController* controller) override;
    HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateUIFrame(BSTR description, DWORD* frameId) override;
    HRESULT STDMETHODCALLTYPE CreateBrowserFrame(BSTR command, DWORD* frameId, BOOL autoNavigate) override;
    HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFrameInfo(DWORD frameId, IUnknown** info) override;
    HRESULT STDMETHODCALLTYPE WaitForReadyState(DWORD frameId, DWORD timeoutMs) override;
    HRESULT STDMETHODCALLTYPE ShowFrame(DWORD frameId) override;
    HRESULT STDMETHODCALLTYPE HideFrame(DWORD frameId) override;
    HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CloseAll() override;
    HRESULT STDMETHODCALLTYPE FrameExecScript(DWORD frameId, BSTR script) override;
    HRESULT STDMETHODCALLTYPE FrameLoadUrlSync(DWORD frameId, BSTR url) override;
    HRESULT STDMETHODCALLTYPE DeactivateFrame(DWORD frameId) override;
    HRESULT STDMETHODCALLTYPE GetFrameHwnd(DWORD frameId, HWND* window) override;
    HRESULT STDMETHODCALLTYPE Reserved23() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved24() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved25() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPopupCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE Uninitialize() override;

    HRESULT STDMETHODCALLTYPE GetJournal(DWORD frameId, BSTR* text) override;

private:
    std::shared_ptr<CFrame> Find(DWORD frameId) const;   // living, or closed since the last launch
    // Lets the table's closed frames go, keeping their journals; under m_lock.
    void ForgetClosedFrames();
    HRESULT Launch(FrameSettings settings, DWORD* frameId);
    HRESULT RunOnFrame(DWORD frameId, CFrame::Op op, BSTR text);

    volatile LONG m_references = 1;
    mutable QvCommon::Synchronize::CriticalSection m_lock;
    std::map<DWORD, std::shared_ptr<CFrame>> m_frames;
    // The journals of the last frames that closed, oldest first.
    std::deque<std::pair<DWORD, std::wstring>> m_closedJournals;
    DWORD m_notifyThread = 0;
    UINT m_notifyMessage = FRAME_NOTIFY_MESSAGE;
    // Kept for the frames' pages; not owned.
    IProviderController* m_controller = nullptr;
    bool m_uninitialized = false;
};
