// The management console, the pop-up window, the mini browser and the
// suspicious-site warning: one frame each, created on first use and reused.
#include "WorkspaceManager.h"

#include "ProviderInterfaces.h"
#include "ProviderMessages.h"
#include "QvException.h"
#include "QvLog.h"
#include "WorkspaceText.h"

namespace {

// The script that opens the console on a tab: the tab index when there is
// one; a negative index runs the caller's "ExtraScript" instead (or nothing).
std::wstring ComposeScriptAfterShowConsole(const JsonValue& body) {
    int64_t tab = 0;
    if (KelJson::HasIntegral(body, WORKSPACE_KEY_TAB_INDEX)) tab = KelJson::GetInt(body, WORKSPACE_KEY_TAB_INDEX);
    if (tab < 0) return KelJson::GetString(body, WORKSPACE_KEY_EXTRA_SCRIPT);
    const unsigned index = static_cast<unsigned>(tab);
    return FormatText(L"%s(%u); %s(%u)", WORKSPACE_SCRIPT_SET_TAB, index, WORKSPACE_SCRIPT_SWITCH_TAB, index);
}

} // namespace

uint32_t CWorkspaceManager::ShowConsoleUI(JsonValue& body) {
    QVLOG(QVLOG_TRACE, L"[Enter] CWorkspaceManager::ShowConsoleUI");
    const std::wstring script = ComposeScriptAfterShowConsole(body);
    QvCommon::Synchronize::AutoLock lock(m_lock);
    uint32_t result = PROVIDER_RESULT_OK;

    const bool existed = FrameLives(m_consoleFrame);
    if (!existed) {
        const JsonValue description = {{WORKSPACE_KEY_PAGE_NAME, WORKSPACE_PAGE_CONSOLE},
                                       {WORKSPACE_KEY_TYPE, WORKSPACE_TYPE_CONSOLE},
                                       {WORKSPACE_KEY_SCRIPT, KelJson::ToUtf8(script)},
                                       {WORKSPACE_KEY_TITLE, KelJson::ToUtf8(m_mainTitle)}};
        const HRESULT created = CreateFrame(description, m_consoleFrame);
        if (FAILED(created)) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowConsoleUI: CreateUIFrame() failed: 0x%08x", created);
            QVLOG(QVLOG_TRACE, L"[Leave] CWorkspaceManager::ShowConsoleUI");
            return PROVIDER_RESULT_FAILED;
        }
        QVLOG(QVLOG_INFO, L"CWorkspaceManager::ShowConsoleUI: Created console UI thread: %d", m_consoleFrame);
    }
    if (m_consoleFrame == WORKSPACE_NO_FRAME) throw QvCommon::Exception::Result(E_FAIL);

    // An installer may have asked for the console: the service keeps the
    // flag, and the pages resynchronise before it is cleared.
    if (m_controller) {
        JsonValue flag = JsonValue::object();
        uint32_t sent = m_controller->SendMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_DISPLAY_FLAG, flag);
        if (sent != PROVIDER_RESULT_OK) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowConsoleUI: get display flag failed [0x%08x]", sent);
        } else if (KelJson::GetBool(flag, WORKSPACE_KEY_DISPLAY_FLAG)) {
            const uint32_t sync = m_controller->BroadcastMessageToListeners(KEL_BROADCAST_INSTALLER_SYNC,
                                                                            JsonValue::object());
            if (sync != PROVIDER_RESULT_OK)
                QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowConsoleUI: Boardcast do installer sync failed [0x%08x]", sync);
            flag = {{WORKSPACE_KEY_CLEAR_FLAG, nullptr}};
            sent = m_controller->SendMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_DISPLAY_FLAG, flag);
            if (sent != PROVIDER_RESULT_OK)
                QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowConsoleUI: clear display flag failed [0x%08x]", sent);
            ::Sleep(WORKSPACE_INSTALLER_SYNC_WAIT_MS);
        }
    }

    s_consoleVisible = true;
    HRESULT shown = m_frameManager->WaitForReadyState(m_consoleFrame, 0);
    if (SUCCEEDED(shown)) shown = m_frameManager->ShowFrame(m_consoleFrame);
    if (FAILED(shown)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowConsoleUI: Failed to show console UI (%d): 0x%08x", m_consoleFrame,
              shown);
        result = PROVIDER_RESULT_FAILED;
    }

    QueryPinStateAndAnnounce(nullptr, WORKSPACE_WINDOW_RETRIES, L"ShowConsoleUI");

    // A new console got the script with its description.
    if (existed) {
        const HRESULT ran = ExecScript(m_consoleFrame, script);
        if (FAILED(ran)) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowConsoleUI: Failed to execute script on console UI (%d): 0x%08x",
                  m_consoleFrame, ran);
            result = PROVIDER_RESULT_FAILED;
        }
    }
    QVLOG(QVLOG_TRACE, L"[Leave] CWorkspaceManager::ShowConsoleUI");
    return result;
}

uint32_t CWorkspaceManager::HideConsoleUI() {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (!FrameLives(m_consoleFrame)) return PROVIDER_RESULT_OK;
    s_consoleVisible = false;
    if (FAILED(m_frameManager->HideFrame(m_consoleFrame))) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::HideConsoleUI: HideFrame() failed");
        return PROVIDER_RESULT_FAILED;
    }
    return PROVIDER_RESULT_OK;
}

uint32_t CWorkspaceManager::DeactivateConsoleUI() {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (!FrameLives(m_consoleFrame)) return PROVIDER_RESULT_OK;
    if (FAILED(m_frameManager->DeactivateFrame(m_consoleFrame))) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::DeactivateConsoleUI: DeactivateFrame() failed");
        return PROVIDER_RESULT_FAILED;
    }
    return PROVIDER_RESULT_OK;
}

// What tells the pop-up, the mini browser and the warning apart.
struct CWorkspaceManager::SingleFrame {
    const wchar_t* operation;
    const wchar_t* createdLog;
    const wchar_t* showFailedLog;
};

uint32_t CWorkspaceManager::ShowSingleFrame(const SingleFrame& kind, DWORD& frameId, JsonValue description) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (!FrameLives(frameId)) {
        frameId = WORKSPACE_FRAME_CREATING;
        const HRESULT created = CreateFrame(description, frameId);
        if (FAILED(created)) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::%s: CreateUIFrame() failed: 0x%08x", kind.operation, created);
            return PROVIDER_RESULT_FAILED;
        }
        QVLOG(QVLOG_INFO, kind.createdLog, frameId);
    }
    if (frameId == WORKSPACE_NO_FRAME) throw QvCommon::Exception::Result(E_FAIL);
    HRESULT shown = m_frameManager->WaitForReadyState(frameId, 0);
    if (SUCCEEDED(shown)) shown = m_frameManager->ShowFrame(frameId);
    if (FAILED(shown)) {
        QVLOG(QVLOG_ERROR, kind.showFailedLog, frameId, shown);
        return PROVIDER_RESULT_FAILED;
    }
    return PROVIDER_RESULT_OK;
}

uint32_t CWorkspaceManager::ShowPopupWindow(JsonValue& body) {
    if (!KelJson::HasString(body, WORKSPACE_KEY_PAGE_NAME)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowPopupWindow - Invalid parameter.");
        return PROVIDER_RESULT_INVALID_PARAMETER;
    }
    static const SingleFrame popup = {L"ShowPopupWindow", L"CWorkspaceManager::ShowPopupWindow: Created about box UI thread: %d",
                                      L"CWorkspaceManager::ShowPopupWindow: Failed to show about box UI (%d): 0x%08x"};
    return ShowSingleFrame(popup, m_popupFrame,
                           {{WORKSPACE_KEY_PAGE_NAME, body[WORKSPACE_KEY_PAGE_NAME]},
                            {WORKSPACE_KEY_TYPE, WORKSPACE_TYPE_CONSOLE},
                            {WORKSPACE_KEY_TITLE, KelJson::ToUtf8(m_aboutTitle)}});
}

namespace {

// The caller's description with the defaults of a mini browser; centred on
// the desktop when asked.
JsonValue MiniBrowserDescription(const JsonValue& body, const std::wstring& title, bool centre) {
    JsonValue description = body.is_object() ? body : JsonValue::object();
    if (!description.contains(WORKSPACE_KEY_WIDTH)) description[WORKSPACE_KEY_WIDTH] = WORKSPACE_MINI_BROWSER_WIDTH;
    if (!description.contains(WORKSPACE_KEY_HEIGHT)) description[WORKSPACE_KEY_HEIGHT] = WORKSPACE_MINI_BROWSER_HEIGHT;
    if (centre) {
        RECT desktop = {};
        ::GetWindowRect(::GetDesktopWindow(), &desktop);
        const int64_t width = KelJson::GetInt(description, WORKSPACE_KEY_WIDTH);
        const int64_t height = KelJson::GetInt(description, WORKSPACE_KEY_HEIGHT);
        if (!description.contains(WORKSPACE_KEY_POS_X))
            description[WORKSPACE_KEY_POS_X] = static_cast<unsigned>((desktop.right - desktop.left - width) / 2);
        if (!description.contains(WORKSPACE_KEY_POS_Y))
            description[WORKSPACE_KEY_POS_Y] = static_cast<unsigned>((desktop.bottom - desktop.top - height) / 2);
    }
    description[WORKSPACE_KEY_TYPE] = WORKSPACE_TYPE_MINI_BROWSER;
    description[WORKSPACE_KEY_TITLE] = KelJson::ToUtf8(title);
    return description;
}

} // namespace

uint32_t CWorkspaceManager::ShowMiniBrowser(JsonValue& body) {
    static const SingleFrame miniBrowser = {
        L"ShowMiniBrowser", L"CWorkspaceManager::ShowMiniBrowser: Created mini-browser thread: %d",
        L"CWorkspaceManager::ShowMiniBrowser: Failed to show mini-browser (%d): 0x%08x"};
    return ShowSingleFrame(miniBrowser, m_miniBrowserFrame, MiniBrowserDescription(body, m_subscriptionTitle, false));
}

uint32_t CWorkspaceManager::ShowSuspiciousWarning(JsonValue& body) {
    static const SingleFrame warning = {
        L"ShowSuspiciousWarning", L"CWorkspaceManager::ShowSuspiciousWarning: Created suspicious-warning thread: %d",
        L"CWorkspaceManager::ShowSuspiciousWarning: Failed to show suspicious-warning (%d): 0x%08x"};
    return ShowSingleFrame(warning, m_warningFrame, MiniBrowserDescription(body, m_subscriptionTitle, true));
}
