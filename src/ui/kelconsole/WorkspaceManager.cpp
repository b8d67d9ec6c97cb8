#include "WorkspaceManager.h"

#include "Folders.h"
#include "L10nReader.h"
#include "ProviderInterfaces.h"
#include "ProviderMessages.h"
#include "QvException.h"
#include "QvLog.h"
#include "WorkspaceText.h"

std::atomic<bool> CWorkspaceManager::s_consoleVisible{false};
std::atomic<IProviderController*> CWorkspaceManager::s_controller{nullptr};
BrowserPopupMap CWorkspaceManager::s_browserPopupMap;
QvCommon::Synchronize::CriticalSection CWorkspaceManager::s_browserPopupLock;

CWorkspaceManager::CWorkspaceManager(IProviderController* controller, FrameManager* frameManager)
    : m_controller(controller) {
    if (frameManager) {
        frameManager->AddRef();
        m_frameManager.reset(frameManager);
    }
    s_controller = controller;
    m_comInitialized = SUCCEEDED(::CoInitialize(nullptr));
    // Foreground changes in other processes tell the pages that the console
    // lost the user's attention. The hook runs through this thread's loop.
    m_foregroundHook.reset(::SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr,
                                             &CWorkspaceManager::ForegroundHook, 0, 0,
                                             WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS));
    // Browser windows of other processes moving: their add-on pop-ups follow.
    m_locationHook.reset(::SetWinEventHook(EVENT_OBJECT_LOCATIONCHANGE, EVENT_OBJECT_LOCATIONCHANGE, nullptr,
                                           &CWorkspaceManager::LocationHook, 0, 0, WINEVENT_OUTOFCONTEXT));
    ReadTitlesAndFilter();
}

CWorkspaceManager::~CWorkspaceManager() {
    QVLOG(QVLOG_INFO, L"CWorkspaceManager::~CWorkspaceManager");
    m_foregroundHook.reset();
    m_locationHook.reset();
    // The hooks' copy, unless a later manager has put its own there.
    IProviderController* mine = m_controller;
    s_controller.compare_exchange_strong(mine, nullptr);
    if (m_comInitialized) ::CoUninitialize();
}

void CWorkspaceManager::ReadTitlesAndFilter() {
    CL10nReader reader;
    reader.ParseL10nFile(KelCommon::GetProductLanguage(), WORKSPACE_L10N_SECTION);
    auto text = [&reader](const wchar_t* key, const wchar_t* fallback) {
        const wchar_t* found = reader.GetString(key);
        return std::wstring(found ? found : fallback);
    };
    m_subscriptionTitle = text(WORKSPACE_TITLE_SUBSCRIPTION_KEY, WORKSPACE_TITLE_SUBSCRIPTION_DEFAULT);
    m_aboutTitle = text(WORKSPACE_TITLE_ABOUT_KEY, WORKSPACE_TITLE_ABOUT_DEFAULT);
    m_mainTitle = text(WORKSPACE_TITLE_MAIN_KEY, WORKSPACE_TITLE_MAIN_DEFAULT);
    std::wstring label = text(WORKSPACE_ALL_FILES_KEY, WORKSPACE_ALL_FILES_DEFAULT);
    if (label.size() > WORKSPACE_FILTER_LABEL_MAX) label = WORKSPACE_ALL_FILES_DEFAULT;

    // label, "*.*", "CSV", "*.CSV", each ending in a zero, and an empty string.
    const std::wstring filter = label + L'\0' + L"*.*" + L'\0' + L"CSV" + L'\0' + L"*.CSV" + L'\0' + L'\0';
    filter.copy(m_openFileFilter, WORKSPACE_FILTER_CHARS - 1);
}

bool CWorkspaceManager::FrameLives(DWORD frameId) {
    return frameId != WORKSPACE_NO_FRAME && m_frameManager &&
           m_frameManager->WaitForReadyState(frameId, 0) != FRAME_E_NOT_FOUND;
}

HRESULT CWorkspaceManager::CreateFrame(const JsonValue& description, DWORD& frameId) {
    if (!m_frameManager) return E_POINTER;
    QvCommon::UniqueBstr text(::SysAllocString(JsonText(description).c_str()));
    if (!text) throw QvCommon::Exception::Result(E_OUTOFMEMORY);
    return m_frameManager->CreateUIFrame(text.get(), &frameId);
}

HRESULT CWorkspaceManager::ExecScript(DWORD frameId, const std::wstring& script) {
    if (!m_frameManager) return E_POINTER;
    QvCommon::UniqueBstr text(::SysAllocStringLen(script.data(), static_cast<UINT>(script.size())));
    if (!text) throw QvCommon::Exception::Result(E_OUTOFMEMORY);
    return m_frameManager->FrameExecScript(frameId, text.get());
}

HRESULT CWorkspaceManager::FrameWindow(DWORD frameId, HWND& window) {
    window = nullptr;
    return m_frameManager ? m_frameManager->GetFrameHwnd(frameId, &window) : E_POINTER;
}

void CWorkspaceManager::CloseFrame(DWORD frameId) {
    // FrameLives waits, bounded, for a new frame's window to exist.
    if (!FrameLives(frameId)) return;
    HWND window = nullptr;
    if (FAILED(FrameWindow(frameId, window)) || !window || !::PostMessageW(window, WM_CLOSE, 0, 0))
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CloseFrame - The frame %u could not be asked to close.", frameId);
}

// Asks the PIN provider for its state; in state 3, a console window that has
// come to the front announces that the profile changed. window: none for the
// management console, whose window is then asked for, with retries further
// attempts 500 ms apart while the frame has none yet.
void CWorkspaceManager::QueryPinStateAndAnnounce(HWND window, int retries, const wchar_t* operation) {
    if (!m_controller) return;
    JsonValue pin = {{WORKSPACE_KEY_PIN_STATE, 0}};
    const uint32_t result = m_controller->SendMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_GET_STATE, pin);
    if (result != PROVIDER_RESULT_OK) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::%s: Get pin status failed, [0x%08x]", operation, result);
        return;
    }
    if (KelJson::GetInt(pin, WORKSPACE_KEY_PIN_STATE) != WORKSPACE_PIN_STATE_PROFILE_MODIFIED) return;
    if (!window) FrameWindow(m_consoleFrame, window);
    for (int attempt = 0; !window && attempt < retries; ++attempt) {
        ::Sleep(WORKSPACE_WINDOW_RETRY_MS);
        FrameWindow(m_consoleFrame, window);
    }
    if (!window || window != ::GetForegroundWindow()) return;
    const uint32_t broadcast = m_controller->BroadcastMessageToListeners(KEL_BROADCAST_PROFILE_MODIFIED,
                                                                         JsonValue::object());
    if (broadcast != PROVIDER_RESULT_OK)
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::%s: Broadcast profile modified failed, [0x%08x]", operation, broadcast);
}

unsigned CWorkspaceManager::ActivatedUiCount() {
    HWND console = nullptr;
    const bool consoleVisible = m_consoleFrame != WORKSPACE_NO_FRAME && SUCCEEDED(FrameWindow(m_consoleFrame, console)) &&
                                console && ::IsWindowVisible(console);
    const bool bhoShown = m_bBhoShown, balloonShown = m_bBallonShown;
    QVLOG(QVLOG_INFO, L"CWorkspaceManager::ActivatedUiCount: >>> m_bBhoShown=%d, m_bBallonShown=%d, bConsoleVisible=%d",
          bhoShown, balloonShown, consoleVisible);
    return static_cast<unsigned>(bhoShown) + balloonShown + consoleVisible;
}

// Windows lets a process take the foreground only under conditions; the
// input of the two threads is joined and the lock time-out lifted for the
// moment of the switch.
bool CWorkspaceManager::SetForceForegroundWindow(HWND window, DWORD timeoutMs) {
    QVLOG(QVLOG_INFO, L"CWorkspaceManager::SetForceForegroundWindow");
    if (!::IsWindow(window)) return false;
    HWND foreground = ::GetForegroundWindow();
    DWORD_PTR ignored = 0;
    if (!foreground ||
        !::SendMessageTimeoutW(foreground, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &ignored)) {
        ::SetForegroundWindow(window);
        return false;
    }
    const DWORD foregroundThread = ::GetWindowThreadProcessId(foreground, nullptr);
    const DWORD targetThread = ::GetWindowThreadProcessId(window, nullptr);
    const bool attach = foregroundThread != targetThread;
    if (attach && !::AttachThreadInput(foregroundThread, targetThread, TRUE)) {
        ::SetForegroundWindow(window);
        return false;
    }
    DWORD lockTimeout = 0;
    ::SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &lockTimeout, 0);
    ::SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, 0);
    const bool top = ::BringWindowToTop(window) != FALSE;
    const bool front = ::SetForegroundWindow(window) != FALSE;
    if (lockTimeout != 0)
        ::SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<void*>(static_cast<ULONG_PTR>(lockTimeout)), 0);
    if (attach) ::AttachThreadInput(foregroundThread, targetThread, FALSE);
    return top && front;
}

void CWorkspaceManager::HandleWindowBlur() {
    IProviderController* controller = s_controller;
    if (!s_consoleVisible || !controller) return;
    const uint32_t result = controller->BroadcastMessageToListeners(KEL_BROADCAST_WINDOW_BLUR, JsonValue::object());
    if ((result & PROVIDER_FAILURE_MASK) == PROVIDER_FAILURE_BITS)
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::HandleWindowBlur: Broadcast window blur failed, [0x%08x]", result);
}

void CALLBACK CWorkspaceManager::ForegroundHook(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {
    try {
        HandleWindowBlur();
    } catch (...) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ForegroundHook: exception caught");
    }
}
