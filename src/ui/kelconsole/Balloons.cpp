// The balloons: one frame per browser window, loaded with the page of the
// tab that shows one, and the add-on pop-ups that follow their toolbar.
#include "WorkspaceManager.h"

#include "ProviderInterfaces.h"
#include "ProviderMessages.h"
#include "QvLog.h"
#include "WorkspaceText.h"

namespace {

// The text after the last separator.
std::wstring FileNameOf(const std::wstring& path, wchar_t separator) {
    const size_t last = path.rfind(separator);
    return last == std::wstring::npos ? path : path.substr(last + 1);
}

} // namespace

uint32_t CWorkspaceManager::GetBalloonStatus(JsonValue& body) {
    if (!body.is_object()) return PROVIDER_RESULT_INVALID_PARAMETER;
    body[WORKSPACE_KEY_IS_SHOW] = false;
    if (KelJson::HasBool(body, WORKSPACE_KEY_CREATE_HIDDEN_BHO) && KelJson::GetBool(body, WORKSPACE_KEY_CREATE_HIDDEN_BHO))
        return PROVIDER_RESULT_OK;
    QvCommon::Synchronize::AutoLock lock(m_lock);
    BalloonLookup found;
    if (!LookUpBalloon(body, found)) return PROVIDER_RESULT_INVALID_PARAMETER;
    auto& [windowKey, tabKey, window, tab] = found;
    if (!window || !tab) {
        QVLOG(QVLOG_TRACE, L"CWorkspaceManager::GetBalloonStatus - pBrowserWindowInfo/pBrowserTabInfo is NULL.");
        return WORKSPACE_RESULT_NO_SUCH_BALLOON;
    }
    body[WORKSPACE_KEY_IS_SHOW] = tab->bShowUi;
    return PROVIDER_RESULT_OK;
}

uint32_t CWorkspaceManager::CloseBalloon(JsonValue& body) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    const uint32_t result = [&]() -> uint32_t {
        BrowserWindowInfo* window = nullptr;
        BrowserTabInfo* tab = nullptr;
        std::wstring windowKey, tabKey;
        if (body.is_object() && body.contains(WORKSPACE_KEY_THREAD_ID)) {
            // Closed by the balloon's own frame: only when it still shows
            // the page that asked, not a newer balloon of the same window.
            if (!KelJson::HasIntegral(body, WORKSPACE_KEY_THREAD_ID) || !KelJson::HasString(body, WORKSPACE_KEY_CLOSE_URL)) {
                QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CloseBalloon - Invalid parameters.");
                return PROVIDER_RESULT_FAILED;
            }
            FindBrowserInfo(static_cast<DWORD>(KelJson::GetInt(body, WORKSPACE_KEY_THREAD_ID)), window, tab);
            if (!window || !tab) {
                QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CloseBalloon - pBrowserWindowInfo/pBrowserTabInfo is NULL.");
                return PROVIDER_RESULT_FAILED;
            }
            const std::wstring closeFile = FileNameOf(KelJson::GetString(body, WORKSPACE_KEY_CLOSE_URL), L'/');
            const std::wstring currentFile = FileNameOf(tab->tsPagePath, L'\\');
            if (closeFile != currentFile) {
                QVLOG(QVLOG_INFO, L"CWorkspaceManager::CloseBalloon - CloseBalloon after new ShowBalloon, do not hide "
                                  L"the balloon. tsCloseFile[%s] tsCurrFile[%s]", closeFile.c_str(), currentFile.c_str());
                return PROVIDER_RESULT_FAILED;
            }
            windowKey = window->tsWindowId;
            tabKey = tab->tsTabId;
        } else {
            if (!MakeBalloonIdString(body, windowKey, tabKey)) return PROVIDER_RESULT_INVALID_PARAMETER;
            FindBrowserInfo(windowKey, tabKey, window, tab);
            if (!window || !tab) {
                QVLOG(QVLOG_TRACE, L"CWorkspaceManager::CloseBalloon - pBrowserWindowInfo/pBrowserTabInfo is NULL.");
                return PROVIDER_RESULT_OK;
            }
        }
        const HRESULT hidden = m_frameManager->HideFrame(window->dwUiThreadId);
        if (FAILED(hidden)) QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CloseBalloon - HideFrame() failed. Error[0x%08x]", hidden);
        tab->bShowUi = false;
        m_bBallonShown = false;
        HWND balloon = nullptr;
        const HRESULT found = FrameWindow(window->dwUiThreadId, balloon);
        if (FAILED(found)) QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CloseBalloon - GetFrameHwnd() failed. Error[0x%08x]", found);
        QVLOG(QVLOG_INFO, L"CWorkspaceManager::CloseBalloon - To broadcast closed event for BHO popups. WindowId[%s], TabId[%s]",
              windowKey.c_str(), tabKey.c_str());
        if (m_controller) {
            const JsonValue closed = {
                {WORKSPACE_KEY_WINDOW_ID, KelJson::ToUtf8(windowKey)}, {WORKSPACE_KEY_TAB_ID, KelJson::ToUtf8(tabKey)},
                {WORKSPACE_KEY_BALLOON_WINDOW, std::to_string(reinterpret_cast<uintptr_t>(balloon))}};
            const uint32_t sent = m_controller->BroadcastMessageToListeners(KEL_BROADCAST_BHO_POPUP_CLOSED, closed);
            if (sent != PROVIDER_RESULT_OK)
                QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CloseBalloon - BroadcastMessageToListeners() failed: 0x%08x", sent);
        }
        RemoveBrowserTabInfo(*window, *tab);
        return PROVIDER_RESULT_OK;
    }();
    if (body.is_object() || body.is_array()) body.clear();
    return result;
}

namespace {

std::wstring WindowText(HWND window) { return std::to_wstring(reinterpret_cast<uintptr_t>(window)); }

// The body emptied on the way out, as the add-ons expect of these operations.
uint32_t Emptied(JsonValue& body, uint32_t result) {
    if (body.is_object() || body.is_array()) body.clear();
    return result;
}

bool HiddenBhoConsoleAsked(const JsonValue& body) {
    return KelJson::HasBool(body, WORKSPACE_KEY_CREATE_HIDDEN_BHO) && KelJson::GetBool(body, WORKSPACE_KEY_CREATE_HIDDEN_BHO);
}

} // namespace

HRESULT CWorkspaceManager::RunCreationScript(DWORD frameId, const std::wstring& tabKey, const JsonValue& body) {
    const std::wstring script =
        KelJson::HasString(body, WORKSPACE_KEY_INIT_DATA)
            ? FormatText(L"%s('%s', %s);", WORKSPACE_SCRIPT_ON_CREATE, tabKey.c_str(),
                         KelJson::GetString(body, WORKSPACE_KEY_INIT_DATA).c_str())
            : FormatText(L"%s('%s');", WORKSPACE_SCRIPT_ON_CREATE, tabKey.c_str());
    return ExecScript(frameId, script);
}

void CWorkspaceManager::PlaceBalloon(DWORD frameId, const JsonValue& body, UINT flags, const wchar_t* failedLog) {
    HWND window = nullptr;
    if (FAILED(FrameWindow(frameId, window)) || !window) return;
    if (!KelJson::HasIntegral(body, WORKSPACE_KEY_POS_X) || !KelJson::HasIntegral(body, WORKSPACE_KEY_POS_Y)) return;
    if (!::SetWindowPos(window, nullptr, static_cast<int>(KelJson::GetInt(body, WORKSPACE_KEY_POS_X)),
                        static_cast<int>(KelJson::GetInt(body, WORKSPACE_KEY_POS_Y)), 0, 0, flags))
        QVLOG(QVLOG_ERROR, failedLog, ::GetLastError());
}

uint32_t CWorkspaceManager::ShowBalloon(JsonValue& body) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (!KelJson::HasString(body, WORKSPACE_KEY_PAGE_NAME)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - WORKSPACE_BALLOON_PAGE_NAME not found.");
        return Emptied(body, PROVIDER_RESULT_INVALID_PARAMETER);
    }
    const std::wstring page = KelJson::GetString(body, WORKSPACE_KEY_PAGE_NAME);
    std::wstring windowKey, tabKey;
    if (!MakeBalloonIdString(body, windowKey, tabKey)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - MakeBalloonIdString() failed. objParam[%s]",
              JsonLogText(body).c_str());
        return Emptied(body, PROVIDER_RESULT_INVALID_PARAMETER);
    }
    BrowserWindowInfo* window = nullptr;
    BrowserTabInfo* tab = nullptr;
    FindBrowserInfo(windowKey, tabKey, window, tab);

    DWORD frame = WORKSPACE_NO_FRAME;
    if (!MayRecord(windowKey, tabKey, window, tab)) {
        // AddBrowserInfo would refuse the tab at the end: no frame is made
        // that nobody could reach.
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - AddBrowserInfo() failed.");
        return Emptied(body, PROVIDER_RESULT_FAILED);
    }
    if (!window) {
        body[WORKSPACE_KEY_TITLE] = body[WORKSPACE_KEY_PAGE_NAME];
        const HRESULT created = CreateFrame(body, frame);
        if (FAILED(created)) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - FrameManager::CreateUIFrame() failed. Error[0x%08x]", created);
            return Emptied(body, PROVIDER_RESULT_FAILED);
        }
        const HRESULT ready = m_frameManager->WaitForReadyState(frame, 0);
        if (FAILED(ready)) QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - WaitForReadyState() failed. Error[0x%08x]", ready);
    } else {
        frame = window->dwUiThreadId;
        QvCommon::UniqueCom<IUnknown> info;
        const HRESULT alive = m_frameManager->GetFrameInfo(frame, info.put());
        if (FAILED(alive)) {
            // The frame went away underneath: forget the window and start again.
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - FrameManager::GetFrameInfo() failed, try to cleanup map "
                               L"info and re-create new balloon. Error[0x%08x]", alive);
            const uint32_t cleaned = CleanupBrowserMap(body);
            if (cleaned != PROVIDER_RESULT_OK)
                QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - CleanupBrowserMap() failed. res[0x%08x]", cleaned);
            return ShowBalloon(body);
        }
        info.reset();
        HRESULT step = m_frameManager->HideFrame(frame);
        if (FAILED(step)) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - FrameManager::HideFrame() failed. Error[0x%08x]", step);
            return Emptied(body, PROVIDER_RESULT_FAILED);
        }
        QvCommon::UniqueBstr url(::SysAllocString(page.c_str()));
        step = url ? m_frameManager->FrameLoadUrlSync(frame, url.get()) : E_OUTOFMEMORY;
        if (FAILED(step)) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - FrameManager::FrameLoadUrlSync() failed. Error[0x%08x]", step);
            return Emptied(body, PROVIDER_RESULT_FAILED);
        }
    }
    const HRESULT ran = RunCreationScript(frame, tabKey, body);
    if (FAILED(ran)) QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - FrameManager::FrameExecScript() failed. Error[0x%08x]", ran);
    PlaceBalloon(frame, body, WORKSPACE_PLACE_HIDDEN, L"CWorkspaceManager::ShowBalloon - SetWindowPos() failed. Error[0x%08x]");
    const HRESULT shown = m_frameManager->ShowFrame(frame);
    if (FAILED(shown)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - FrameManager::ShowFrame() failed. Error[0x%08x]", shown);
        if (!window) CloseFrame(frame);   // unrecorded, it could never be closed
        return Emptied(body, PROVIDER_RESULT_FAILED);
    }
    m_bBallonShown = true;

    if (KelJson::HasIntegral(body, WORKSPACE_KEY_TYPE) && KelJson::GetInt(body, WORKSPACE_KEY_TYPE) == WORKSPACE_TYPE_BHO_POPUP) {
        QVLOG(QVLOG_INFO, L"CWorkspaceManager::ShowBalloon - To broadcast created event for BHO popups. WindowId[%s], TabId[%s]",
              windowKey.c_str(), tabKey.c_str());
        HWND balloon = nullptr;
        FrameWindow(frame, balloon);
        if (m_controller) {
            const JsonValue created = {{WORKSPACE_KEY_WINDOW_ID, KelJson::ToUtf8(windowKey)},
                                       {WORKSPACE_KEY_TAB_ID, KelJson::ToUtf8(tabKey)},
                                       {WORKSPACE_KEY_BALLOON_WINDOW, KelJson::ToUtf8(WindowText(balloon))}};
            const uint32_t sent = m_controller->BroadcastMessageToListeners(KEL_BROADCAST_BHO_POPUP_CREATED, created);
            if (sent != PROVIDER_RESULT_OK)
                QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - BroadcastMessageToListeners() failed: 0x%08x", sent);
        }
        // 0x, a leading 0 or decimal, as the add-on writes it.
        const std::wstring toolbar = KelJson::GetString(body, WORKSPACE_KEY_TOOLBAR_WINDOW);
        const BrowserPopupInfo popup = {KelJson::GetString(body, WORKSPACE_KEY_BROWSER_NAME), balloon,
                                        reinterpret_cast<HWND>(static_cast<uintptr_t>(wcstoul(toolbar.c_str(), nullptr, 0)))};
        QvCommon::Synchronize::AutoLock popups(s_browserPopupLock);
        s_browserPopupMap[KelJson::GetString(body, WORKSPACE_KEY_WINDOW_ID)] = popup;
    }
    if (!AddBrowserInfo(windowKey, tabKey, frame, page)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowBalloon - AddBrowserInfo() failed.");
        return Emptied(body, PROVIDER_RESULT_FAILED);
    }
    return Emptied(body, PROVIDER_RESULT_OK);
}

uint32_t CWorkspaceManager::HideBalloon(JsonValue& body) {
    if (HiddenBhoConsoleAsked(body)) return Emptied(body, PROVIDER_RESULT_OK);
    QvCommon::Synchronize::AutoLock lock(m_lock);
    BalloonLookup found;
    if (!LookUpBalloon(body, found)) return Emptied(body, PROVIDER_RESULT_INVALID_PARAMETER);
    auto& [windowKey, tabKey, window, tab] = found;
    if (!window || !tab) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::HideBalloon - pBrowserWindowInfo/pBrowserTabInfo is NULL.");
        return Emptied(body, PROVIDER_RESULT_FAILED);
    }
    const HRESULT hidden = m_frameManager->HideFrame(window->dwUiThreadId);
    if (FAILED(hidden)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::HideBalloon - FrameManager::HideFrame() failed. Error[0x%08x]", hidden);
        return Emptied(body, PROVIDER_RESULT_OK);
    }
    tab->bShowUi = false;
    m_bBallonShown = false;
    const HRESULT ran = ExecScript(window->dwUiThreadId, FormatText(L"%s();", WORKSPACE_SCRIPT_ON_HIDE));
    if (FAILED(ran)) QVLOG(QVLOG_ERROR, L"CWorkspaceManager::HideBalloon - FrameManager::FrameExecScript() failed. Error[0x%08x]", ran);
    return Emptied(body, PROVIDER_RESULT_OK);
}

uint32_t CWorkspaceManager::ShowHiddenBalloon(JsonValue& body) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    BalloonLookup found;
    if (!LookUpBalloon(body, found)) return Emptied(body, PROVIDER_RESULT_INVALID_PARAMETER);
    auto& [windowKey, tabKey, window, tab] = found;
    if (!window || !tab) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowHiddenBalloon - pBrowserWindowInfo/pBrowserTabInfo is NULL, broadcasted "
                           L"close event may not send to BHO. Please wait for a while.");
        return Emptied(body, PROVIDER_RESULT_FAILED);
    }
    if (tab->bShowUi) QVLOG(QVLOG_INFO, L"CWorkspaceManager::ShowHiddenBalloon - pBrowserTabInfo->bShowUi is true.");
    const DWORD frame = window->dwUiThreadId;
    QvCommon::UniqueCom<IUnknown> info;
    const HRESULT alive = m_frameManager->GetFrameInfo(frame, info.put());
    if (FAILED(alive)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowHiddenBalloon - FrameManager::GetFrameInfo() failed, try to cleanup "
                           L"browser map info. Error[0x%08x]", alive);
        CleanupBrowserMap(body);
        return Emptied(body, PROVIDER_RESULT_FAILED);
    }
    info.reset();
    if (!IsBrowserInfoActiveTab(window, tab)) {
        // The frame holds another tab's page: load this tab's again.
        QvCommon::UniqueBstr url(::SysAllocString(tab->tsPagePath.c_str()));
        const HRESULT loaded = url ? m_frameManager->FrameLoadUrlSync(frame, url.get()) : E_OUTOFMEMORY;
        if (FAILED(loaded)) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowHiddenBalloon - FrameManager::FrameLoadUrlSync() failed. Error[0x%08x]", loaded);
            return Emptied(body, PROVIDER_RESULT_FAILED);
        }
        const HRESULT ran = ExecScript(frame, FormatText(L"%s('%s');", WORKSPACE_SCRIPT_ON_CREATE, tabKey.c_str()));
        if (FAILED(ran)) QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowHiddenBalloon - FrameManager::FrameExecScript() failed. Error[0x%08x]", ran);
        if (!SetBrowserInfoActiveTab(window, tab)) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowHiddenBalloon - SetBrowserInfoActiveTab() failed.");
            return Emptied(body, PROVIDER_RESULT_FAILED);
        }
    }
    PlaceBalloon(frame, body, WORKSPACE_PLACE_HIDDEN_ACTIVE, L"CWorkspaceManager::ShowHiddenBalloon - SetWindowPos() failed. Error[0x%08x]");
    const HRESULT shown = m_frameManager->ShowFrame(frame);
    if (SUCCEEDED(shown)) {
        tab->bShowUi = true;
        m_bBallonShown = true;
    } else {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::ShowHiddenBalloon - FrameManager::ShowFrame() failed. Error[0x%08x]", shown);
    }
    return Emptied(body, PROVIDER_RESULT_OK);
}

uint32_t CWorkspaceManager::MoveBalloon(JsonValue& body) {
    if (!KelJson::HasIntegral(body, WORKSPACE_KEY_POS_X) || !KelJson::HasIntegral(body, WORKSPACE_KEY_POS_Y)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::MoveBalloon - Invalid parameters. objParam[%s]", JsonLogText(body).c_str());
        return Emptied(body, PROVIDER_RESULT_INVALID_PARAMETER);
    }
    QvCommon::Synchronize::AutoLock lock(m_lock);
    BalloonLookup found;
    if (!LookUpBalloon(body, found)) return Emptied(body, PROVIDER_RESULT_INVALID_PARAMETER);
    auto& [windowKey, tabKey, window, tab] = found;
    // Only the balloon that is on screen follows; others keep their place.
    if (!window || !tab || window->pActiveBrowserTabInfo != tab || !tab->bShowUi) return Emptied(body, PROVIDER_RESULT_OK);
    HWND balloon = nullptr;
    if (FAILED(FrameWindow(window->dwUiThreadId, balloon)) || !balloon) return Emptied(body, PROVIDER_RESULT_FAILED);
    if (!::SetWindowPos(balloon, nullptr, static_cast<int>(KelJson::GetInt(body, WORKSPACE_KEY_POS_X)),
                        static_cast<int>(KelJson::GetInt(body, WORKSPACE_KEY_POS_Y)), 0, 0, WORKSPACE_PLACE))
        return Emptied(body, PROVIDER_RESULT_FAILED);
    return Emptied(body, PROVIDER_RESULT_OK);
}

uint32_t CWorkspaceManager::CleanupBrowserMap(JsonValue& body) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    BalloonLookup found;
    if (!LookUpBalloon(body, found)) return PROVIDER_RESULT_INVALID_PARAMETER;
    auto& [windowKey, tabKey, window, tab] = found;
    if (!window) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CleanupBrowserMap - pBrowserWindowInfo is NULL.");
        return PROVIDER_RESULT_FAILED;
    }
    RemoveBrowserWindowInfo(*window);
    if (!RemoveBrowserPopupInfo(KelJson::GetString(body, WORKSPACE_KEY_WINDOW_ID))) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CleanupBrowserMap - RemoveBrowserPopupInfo() failed.");
        return PROVIDER_RESULT_FAILED;
    }
    return PROVIDER_RESULT_OK;
}

// Runs on the manager's thread for every window that moved, without m_lock:
// frame calls may hold it for seconds.
void CWorkspaceManager::HandleLocationChange(HWND moved) {
    BrowserPopupInfo popup;
    {
        QvCommon::Synchronize::AutoLock lock(s_browserPopupLock);
        const auto found = s_browserPopupMap.find(WindowText(moved));
        if (found == s_browserPopupMap.end()) return;
        popup = found->second;
    }
    RECT toolbar = {}, browser = {};
    if (!::GetWindowRect(popup.toolbarWindow, &toolbar) || !::GetWindowRect(moved, &browser)) return;
    LONG x = 0;
    if (popup.browserName == WORKSPACE_BROWSER_IE)
        x = toolbar.left - browser.right + WORKSPACE_IE_POPUP_ROOM > 0 ? toolbar.left - WORKSPACE_IE_POPUP_LEFT
                                                                       : toolbar.left - WORKSPACE_IE_POPUP_NUDGE;
    else if (popup.browserName == WORKSPACE_BROWSER_SW)
        x = toolbar.left - WORKSPACE_SW_POPUP_NUDGE;
    else
        return;
    ::SetWindowPos(popup.balloonWindow, nullptr, x, toolbar.bottom, 0, 0, WORKSPACE_PLACE);
}

void CALLBACK CWorkspaceManager::LocationHook(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
    if (!window || object != OBJID_WINDOW) return;
    try {
        HandleLocationChange(window);
    } catch (...) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::LocationHook: exception caught");
    }
}
