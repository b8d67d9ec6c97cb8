// The small console that the browser add-ons open over a tab: created hidden
// once, placed and shown on request, and closed (hidden) by the frame that
// asked for it.
#include "WorkspaceManager.h"

#include "ProviderInterfaces.h"
#include "QvLog.h"
#include "WorkspaceText.h"

uint32_t CWorkspaceManager::ShowBHOConsole(JsonValue& body) {
    QVLOG(QVLOG_INFO, L"CWorkspaceManager::ShowBHOConsole[Enter] - objParam[%s]", JsonLogText(body).c_str());
    QvCommon::Synchronize::AutoLock lock(m_lock);
    const uint32_t result = [&]() -> uint32_t {
        auto run = [this](const std::wstring& script) {
            const HRESULT ran = ExecScript(m_bhoConsoleFrame, script);
            if (FAILED(ran)) QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBHOConsole: FrameExecScript() failed: 0x%08x", ran);
        };
        std::wstring initText = L"{}";
        JsonValue initData = JsonValue::object();
        if (KelJson::HasString(body, WORKSPACE_KEY_INIT_DATA)) {
            initText = KelJson::GetString(body, WORKSPACE_KEY_INIT_DATA);
            if (!KelJson::Parse(initText, initData)) {
                QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBHOConsole: Invalud balloon init data: [%s]", QvLogCallerText(initText).c_str());
                return PROVIDER_RESULT_INVALID_PARAMETER;
            }
        }
        const bool hidden = KelJson::HasBool(body, WORKSPACE_KEY_CREATE_HIDDEN_BHO) &&
                            KelJson::GetBool(body, WORKSPACE_KEY_CREATE_HIDDEN_BHO);

        // The console takes the place of the tab's balloon.
        if (GetBalloonStatus(body) == PROVIDER_RESULT_OK && KelJson::GetBool(body, WORKSPACE_KEY_IS_SHOW)) {
            JsonValue copy = body;
            const uint32_t closed = CloseBalloon(copy);
            if (closed != PROVIDER_RESULT_OK)
                QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBHOConsole - Unable to close BHO popup. [0x%08x]", closed);
        }

        // A frame that is not ready yet still lives: only one that is gone is replaced.
        if (!FrameLives(m_bhoConsoleFrame)) {
            QVLOG(QVLOG_INFO, L"CWorkspaceManager::ShowBHOConsole: Create UI thread");
            const JsonValue description = {{WORKSPACE_KEY_PAGE_NAME, WORKSPACE_PAGE_BHO_CONSOLE},
                                           {WORKSPACE_KEY_TYPE, WORKSPACE_TYPE_BHO_CONSOLE},
                                           {WORKSPACE_KEY_TITLE, WORKSPACE_PAGE_BHO_CONSOLE}};
            const HRESULT created = CreateFrame(description, m_bhoConsoleFrame);
            if (FAILED(created)) {
                QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBHOConsole: CreateUIFrame() failed: 0x%08x", created);
                return PROVIDER_RESULT_FAILED;
            }
            QVLOG(QVLOG_INFO, L"CWorkspaceManager::ShowBHOConsole: BHO Console UI thread created: (thread id: %u)",
                  m_bhoConsoleFrame);
            const HRESULT ready = m_frameManager->WaitForReadyState(m_bhoConsoleFrame, 0);
            if (FAILED(ready)) QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBHOConsole: WaitForReadyState() failed: 0x%08x", ready);
            JsonValue createData = initData.is_object() ? initData : JsonValue::object();
            createData[WORKSPACE_KEY_CREATE_HIDDEN_BHO] = hidden;
            run(FormatText(L"%s('%s', %s);", WORKSPACE_SCRIPT_ON_CREATE, WORKSPACE_BHO_CONSOLE_NAME,
                           JsonText(createData).c_str()));
        }
        QVLOG(QVLOG_INFO, L"CWorkspaceManager::ShowBHOConsole: bHideUi=%d", hidden);
        if (hidden) return PROVIDER_RESULT_OK;

        std::wstring windowKey, tabKey;
        if (!MakeBalloonIdString(body, windowKey, tabKey)) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBHOConsole: MakeBalloonIdString() failed. objParam[%s]",
                  JsonLogText(body).c_str());
            return PROVIDER_RESULT_INVALID_PARAMETER;
        }
        HWND window = nullptr;
        const HRESULT found = FrameWindow(m_bhoConsoleFrame, window);
        if (FAILED(found)) QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBHOConsole: GetFrameHwnd() failed: 0x%08x", found);
        if (KelJson::HasIntegral(body, WORKSPACE_KEY_POS_X) && KelJson::HasIntegral(body, WORKSPACE_KEY_POS_Y) &&
            !::SetWindowPos(window, nullptr, static_cast<int>(KelJson::GetInt(body, WORKSPACE_KEY_POS_X)),
                            static_cast<int>(KelJson::GetInt(body, WORKSPACE_KEY_POS_Y)), 0, 0, WORKSPACE_PLACE_HIDDEN))
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBHOConsole: SetWindowPos() failed: %d", ::GetLastError());

        run(FormatText(WORKSPACE_SCRIPT_BHO_BEFORE_SHOW, initText.c_str()));
        const HRESULT shown = m_frameManager->ShowFrame(m_bhoConsoleFrame);
        if (FAILED(shown)) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBHOConsole: ShowFrame() failed: 0x%08x", shown);
            return PROVIDER_RESULT_FAILED;
        }
        m_bBhoShown = true;
        if (window) {
            if (!SetForceForegroundWindow(window, WORKSPACE_BHO_FOREGROUND_TIMEOUT_MS))
                QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBHOConsole: SetForceForegroundWindow() failed.");
            QueryPinStateAndAnnounce(window, 0, L"ShowBHOConsole");
        }

        // Joined input lets the console keep the keyboard while the browser
        // stays the foreground application; undone when it closes.
        const DWORD foregroundThread = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
        const DWORD targetThread = ::GetWindowThreadProcessId(window, nullptr);
        m_attachedForegroundThread = m_attachedTargetThread = 0;
        if (foregroundThread != targetThread) {
            ::AttachThreadInput(foregroundThread, targetThread, TRUE);
            m_attachedForegroundThread = foregroundThread;
            m_attachedTargetThread = targetThread;
        }
        QVLOG(QVLOG_INFO, L"CWorkspaceManager::ShowBHOConsole: Attached thread input: foreground[%d], target[%d]",
              m_attachedForegroundThread, m_attachedTargetThread);
        run(FormatText(WORKSPACE_SCRIPT_BHO_SHOW, tabKey.c_str(), initText.c_str()));
        return PROVIDER_RESULT_OK;
    }();
    if (body.is_object() || body.is_array()) body.clear();
    QVLOG(QVLOG_TRACE, L"[Leave] CWorkspaceManager::ShowBHOConsole");
    return result;
}

uint32_t CWorkspaceManager::CloseBHOConsole(JsonValue& body) {
    if (m_bhoConsoleFrame == WORKSPACE_NO_FRAME) return PROVIDER_RESULT_OK;
    if (KelJson::HasIntegral(body, WORKSPACE_KEY_THREAD_ID) &&
        static_cast<DWORD>(KelJson::GetInt(body, WORKSPACE_KEY_THREAD_ID)) != m_bhoConsoleFrame) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CloseBHOConsole - BHOConsole UI thread UI is not matched.");
        return PROVIDER_RESULT_FAILED;
    }
    QvCommon::Synchronize::AutoLock lock(m_lock);
    HWND window = nullptr;
    const HRESULT found = FrameWindow(m_bhoConsoleFrame, window);
    if (FAILED(found)) QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CloseBHOConsole - GetFrameHwnd() failed: 0x%08x", found);
    if (m_attachedForegroundThread && m_attachedTargetThread && m_attachedForegroundThread != m_attachedTargetThread)
        ::AttachThreadInput(m_attachedForegroundThread, m_attachedTargetThread, FALSE);

    const std::wstring initText =
        KelJson::HasString(body, WORKSPACE_KEY_INIT_DATA) ? KelJson::GetString(body, WORKSPACE_KEY_INIT_DATA) : L"{}";
    const HRESULT ran = ExecScript(m_bhoConsoleFrame, FormatText(WORKSPACE_SCRIPT_BHO_HIDE, initText.c_str()));
    if (FAILED(ran))
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CloseBHOConsole - FrameManager::FrameExecScript() failed. Error[0x%08x]", ran);
    const HRESULT hidden = m_frameManager->HideFrame(m_bhoConsoleFrame);
    if (FAILED(hidden)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CloseBHOConsole - FrameManager::HideFrame() failed. Error[0x%08x]", hidden);
        return PROVIDER_RESULT_FAILED;
    }
    m_bBhoShown = false;
    return PROVIDER_RESULT_OK;
}
