#include "FrameManagerObject.h"

#include <new>
#include <vector>

#include "JsonBody.h"
#include "SecureFrameConstants.h"
#include "SecureFrameModule.h"

using QvCommon::Synchronize::AutoLock;

namespace {

// What GetFrameInfo hands out: it keeps the frame's record, not its window,
// alive, and holds the module while the caller keeps it.
class CFrameInfo final : public CModuleObject<IUnknown, IID_IUnknown> {
public:
    explicit CFrameInfo(std::shared_ptr<CFrame> frame) : m_frame(std::move(frame)) {}

private:
    std::shared_ptr<CFrame> m_frame;
};

std::wstring FromBstr(BSTR text) { return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring(); }

HRESULT ToBstr(const std::wstring& text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// A position is taken only when both coordinates are given; a size of 0 or
// less is no size.
void ReadPlacement(const JsonValue& description, FrameSettings& settings) {
    auto given = [&](const char* key) {
        auto found = description.find(key);
        return found != description.end() && KelJson::IsIntegral(*found);
    };
    if (given(SFRAME_KEY_POS_X) && given(SFRAME_KEY_POS_Y)) {
        settings.x = static_cast<int>(KelJson::GetInt(description, SFRAME_KEY_POS_X));
        settings.y = static_cast<int>(KelJson::GetInt(description, SFRAME_KEY_POS_Y));
    }
    const int64_t width = KelJson::GetInt(description, SFRAME_KEY_WIDTH);
    const int64_t height = KelJson::GetInt(description, SFRAME_KEY_HEIGHT);
    settings.width = width > 0 ? static_cast<int>(width) : SFRAME_DEFAULT_WIDTH;
    settings.height = height > 0 ? static_cast<int>(height) : SFRAME_DEFAULT_HEIGHT;
}

} // namespace

CFrameManager::CFrameManager() { SecureFrameModule::ObjectCreated(); }

CFrameManager::~CFrameManager() {
    // Released without Uninitialize: the frames still close, on their own threads.
    for (auto& entry : m_frames) entry.second->RequestClose();
    SecureFrameModule::ObjectDestroyed();
}

HRESULT CFrameManager::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_FrameManager))
        *object = static_cast<FrameManager*>(this);
    else if (IsEqualIID(iid, IID_IFrameInspector))
        *object = static_cast<IFrameInspector*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG CFrameManager::AddRef() { return ::InterlockedIncrement(&m_references); }

ULONG CFrameManager::Release() {
    ULONG left = ::InterlockedDecrement(&m_references);
    if (left == 0) delete this;
    return left;
}

// The frames are not scriptable from outside; the agent calls through the vtable.
HRESULT CFrameManager::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT CFrameManager::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT CFrameManager::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT CFrameManager::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

HRESULT CFrameManager::SetNotifyThread(DWORD mainThreadId, UINT message) {
    AutoLock lock(m_lock);
    m_notifyThread = mainThreadId;
    m_notifyMessage = message;
    return S_OK;
}

HRESULT CFrameManager::SetProviderController(IProviderController* controller) {
    AutoLock lock(m_lock);
    m_controller = controller;
    return S_OK;
}

HRESULT CFrameManager::CreateUIFrame(BSTR description, DWORD* frameId) {
    if (!frameId) return E_POINTER;
    *frameId = 0;
    try {
        JsonValue parsed;
        if (!KelJson::Parse(FromBstr(description), parsed) || !parsed.is_object()) return E_INVALIDARG;
        FrameSettings settings;
        settings.page = KelJson::GetString(parsed, SFRAME_KEY_PAGE);
        settings.title = KelJson::GetString(parsed, SFRAME_KEY_TITLE);
        settings.script = KelJson::GetString(parsed, SFRAME_KEY_SCRIPT);
        ReadPlacement(parsed, settings);
        settings.createLine = L"create page=" + settings.page + L" title=" + settings.title + L" hidden";
        return Launch(std::move(settings), frameId);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CFrameManager::CreateBrowserFrame(BSTR command, DWORD* frameId, BOOL autoNavigate) {
    if (frameId) *frameId = 0;
    std::wstring text = FromBstr(command);
    if (text.size() > FRAME_COMMAND_MAX_CHARS) return E_INVALIDARG;
    try {
        FrameSettings settings;
        settings.popup = true;
        settings.title = text;
        if (autoNavigate) settings.page = text;
        settings.width = SFRAME_DEFAULT_WIDTH;
        settings.height = SFRAME_DEFAULT_HEIGHT;
        settings.createLine = L"create browser command=" + text + (autoNavigate ? L" navigate=1" : L" navigate=0");
        return Launch(std::move(settings), frameId);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CFrameManager::Launch(FrameSettings settings, DWORD* frameId) {
    const bool popup = settings.popup;
    auto frame = std::make_shared<CFrame>(std::move(settings));
    DWORD notifyThread, id = 0;
    UINT message;
    {
        AutoLock lock(m_lock);
        if (m_uninitialized) return E_UNEXPECTED;
        ForgetClosedFrames();
        HRESULT result = CFrame::Start(frame, id);
        if (FAILED(result)) return result;
        // In the table before anyone can hear of it; a reused thread id
        // takes the place of the old frame's journal.
        m_frames[id] = frame;
        for (auto kept = m_closedJournals.begin(); kept != m_closedJournals.end();)
            kept = kept->first == id ? m_closedJournals.erase(kept) : kept + 1;
        notifyThread = m_notifyThread;
        message = m_notifyMessage;
    }
    if (frameId) *frameId = id;
    if (notifyThread == 0) {
        // Nobody adopts threads: the frame runs at once.
        frame->Resume();
        return S_OK;
    }
    if (!::PostThreadMessageW(notifyThread, message, popup ? FRAME_KIND_POPUP : FRAME_KIND_UI, id)) {
        HRESULT result = HRESULT_FROM_WIN32(::GetLastError());
        // Unannounced, nobody would resume it: let it run only to end.
        frame->RequestClose();
        frame->Resume();
        if (frameId) *frameId = 0;
        return result;
    }
    return S_OK;
}

void CFrameManager::ForgetClosedFrames() {
    for (auto entry = m_frames.begin(); entry != m_frames.end();) {
        if (!entry->second->Closed()) { ++entry; continue; }
        m_closedJournals.emplace_back(entry->first, entry->second->Journal());
        if (m_closedJournals.size() > SFRAME_CLOSED_JOURNALS_KEPT) m_closedJournals.pop_front();
        entry = m_frames.erase(entry);
    }
}

std::shared_ptr<CFrame> CFrameManager::Find(DWORD frameId) const {
    AutoLock lock(m_lock);
    auto found = m_frames.find(frameId);
    return found == m_frames.end() ? nullptr : found->second;
}

HRESULT CFrameManager::GetFrameInfo(DWORD frameId, IUnknown** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    std::shared_ptr<CFrame> frame = Find(frameId);
    if (!frame || frame->Closed()) return FRAME_E_NOT_FOUND;
    *info = new (std::nothrow) CFrameInfo(frame);
    return *info ? S_OK : E_OUTOFMEMORY;
}

HRESULT CFrameManager::WaitForReadyState(DWORD frameId, DWORD timeoutMs) {
    std::shared_ptr<CFrame> frame = Find(frameId);
    if (!frame) return FRAME_E_NOT_FOUND;
    return frame->WaitReady(timeoutMs ? timeoutMs : SFRAME_CALL_WAIT_MS);
}

HRESULT CFrameManager::RunOnFrame(DWORD frameId, CFrame::Op op, BSTR text) {
    std::shared_ptr<CFrame> frame = Find(frameId);
    if (!frame) return FRAME_E_NOT_FOUND;
    try {
        return frame->Run(op, FromBstr(text), SFRAME_CALL_WAIT_MS);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CFrameManager::ShowFrame(DWORD frameId) { return RunOnFrame(frameId, CFrame::Op::Show, nullptr); }
HRESULT CFrameManager::HideFrame(DWORD frameId) { return RunOnFrame(frameId, CFrame::Op::Hide, nullptr); }
HRESULT CFrameManager::DeactivateFrame(DWORD frameId) { return RunOnFrame(frameId, CFrame::Op::Deactivate, nullptr); }
HRESULT CFrameManager::FrameExecScript(DWORD frameId, BSTR script) {
    return RunOnFrame(frameId, CFrame::Op::Script, script);
}
HRESULT CFrameManager::FrameLoadUrlSync(DWORD frameId, BSTR url) { return RunOnFrame(frameId, CFrame::Op::Load, url); }

HRESULT CFrameManager::CloseAll() {
    std::vector<std::shared_ptr<CFrame>> frames;
    {
        AutoLock lock(m_lock);
        for (auto& entry : m_frames) {
            if (!entry.second->Closed()) frames.push_back(entry.second);
        }
    }
    for (auto& frame : frames) frame->RequestClose();
    // One bound for all: the frames close in parallel on their own threads.
    const ULONGLONG deadline = ::GetTickCount64() + SFRAME_CALL_WAIT_MS;
    HRESULT result = S_OK;
    for (auto& frame : frames) {
        const ULONGLONG now = ::GetTickCount64();
        if (!frame->WaitClosed(now < deadline ? static_cast<DWORD>(deadline - now) : 0))
            result = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    return result;
}

HRESULT CFrameManager::GetFrameHwnd(DWORD frameId, HWND* window) {
    if (!window) return E_POINTER;
    *window = nullptr;
    std::shared_ptr<CFrame> frame = Find(frameId);
    if (!frame || frame->Closed()) return FRAME_E_NOT_FOUND;
    // No window yet (the thread has not run): success without one, so that
    // callers can ask again.
    *window = frame->Window();
    return *window ? S_OK : S_FALSE;
}

HRESULT CFrameManager::GetPopupCount(LONG* count) {
    if (!count) return E_POINTER;
    AutoLock lock(m_lock);
    *count = 0;
    for (auto& entry : m_frames) {
        if (entry.second->IsPopup() && !entry.second->Closed()) ++*count;
    }
    return S_OK;
}

HRESULT CFrameManager::Uninitialize() {
    {
        AutoLock lock(m_lock);
        if (m_uninitialized) return S_FALSE;
        m_uninitialized = true;
        m_controller = nullptr;
    }
    return CloseAll();
}

HRESULT CFrameManager::GetJournal(DWORD frameId, BSTR* text) {
    if (!text) return E_POINTER;
    *text = nullptr;
    try {
        std::shared_ptr<CFrame> frame = Find(frameId);
        if (frame) return ToBstr(frame->Journal(), text);
        AutoLock lock(m_lock);
        for (const auto& kept : m_closedJournals)
            if (kept.first == frameId) return ToBstr(kept.second, text);
        return FRAME_E_NOT_FOUND;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
