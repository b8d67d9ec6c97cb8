// The balloon maps and the balloon operations the consoles rely on.
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

bool CWorkspaceManager::MakeBalloonIdString(const JsonValue& body, std::wstring& windowKey, std::wstring& tabKey) {
    if (!KelJson::HasString(body, WORKSPACE_KEY_BROWSER_NAME) || !KelJson::HasString(body, WORKSPACE_KEY_WINDOW_ID) ||
        !KelJson::HasString(body, WORKSPACE_KEY_TAB_ID)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::MakeBalloonIdString - Invalid parameters.");
        return false;
    }
    const std::wstring browser = KelJson::GetString(body, WORKSPACE_KEY_BROWSER_NAME);
    windowKey = FormatText(L"%s_%s", browser.c_str(), KelJson::GetString(body, WORKSPACE_KEY_WINDOW_ID).c_str());
    tabKey = FormatText(L"%s_%s", browser.c_str(), KelJson::GetString(body, WORKSPACE_KEY_TAB_ID).c_str());
    QVLOG(QVLOG_INFO, L"CWorkspaceManager::MakeBalloonIdString - _tsBrowserWindowId[%s], _tsBrowserTabId[%s]",
          windowKey.c_str(), tabKey.c_str());
    return true;
}

void CWorkspaceManager::FindBrowserInfo(const std::wstring& windowKey, const std::wstring& tabKey,
                                        BrowserWindowInfo*& window, BrowserTabInfo*& tab) {
    const auto foundWindow = m_browserWindowMap.find(windowKey);
    const auto foundTab = m_browserTabMap.find(tabKey);
    window = foundWindow == m_browserWindowMap.end() ? nullptr : &foundWindow->second;
    tab = foundTab == m_browserTabMap.end() ? nullptr : &foundTab->second;
    DumpBrowserInfo();
}

void CWorkspaceManager::FindBrowserInfo(DWORD frameId, BrowserWindowInfo*& window, BrowserTabInfo*& tab) {
    window = nullptr;
    tab = nullptr;
    for (auto& entry : m_browserWindowMap)
        if (entry.second.dwUiThreadId == frameId) {
            window = &entry.second;
            tab = window->pActiveBrowserTabInfo;
            break;
        }
    DumpBrowserInfo();
}

unsigned CWorkspaceManager::RemoveBrowserTabInfo(BrowserWindowInfo& window, BrowserTabInfo& tab) {
    window.pBrowserTabInfoList.remove(&tab);
    if (window.pActiveBrowserTabInfo == &tab) window.pActiveBrowserTabInfo = nullptr;
    m_browserTabMap.erase(tab.tsTabId);
    const unsigned remained = static_cast<unsigned>(window.pBrowserTabInfoList.size());
    QVLOG(QVLOG_INFO, L"CWorkspaceManager::RemoveBrowserTabInfo - Remained _dwRemainedTabCount[%u]", remained);
    return remained;
}

void CWorkspaceManager::DumpBrowserInfo() {
    std::wstring tabs = L"m_browserTabMap: \n";
    for (const auto& entry : m_browserTabMap) {
        const BrowserTabInfo& tab = entry.second;
        tabs += FormatText(L"key[%s] -> address[0x%08x], tsTabId[%s], tsWindowId[%s], tsPagePath[%s], bShowUi[%d]\n",
                           entry.first.c_str(), static_cast<unsigned>(reinterpret_cast<uintptr_t>(&tab)),
                           tab.tsTabId.c_str(), tab.tsWindowId.c_str(), tab.tsPagePath.c_str(), tab.bShowUi);
    }
    QVLOG(QVLOG_TRACE, L"CWorkspaceManager::DumpBrowserInfo - %s", tabs.c_str());
    std::wstring windows = L"m_browserWindowMap: \n";
    for (const auto& entry : m_browserWindowMap) {
        const BrowserWindowInfo& window = entry.second;
        std::wstring list;
        for (const BrowserTabInfo* tab : window.pBrowserTabInfoList)
            list += FormatText(L"0x%08x ", static_cast<unsigned>(reinterpret_cast<uintptr_t>(tab)));
        windows += FormatText(L"key[%s] -> tsWindowId[%s], dwUiThreadId[%u], pActiveBrowserTabInfo[0x%08x], "
                              L"pBrowserTabInfoList[%s]\n",
                              entry.first.c_str(), window.tsWindowId.c_str(), window.dwUiThreadId,
                              static_cast<unsigned>(reinterpret_cast<uintptr_t>(window.pActiveBrowserTabInfo)),
                              list.c_str());
    }
    QVLOG(QVLOG_TRACE, L"CWorkspaceManager::DumpBrowserInfo - %s", windows.c_str());
}

uint32_t CWorkspaceManager::GetBalloonStatus(JsonValue& body) {
    if (!body.is_object()) return PROVIDER_RESULT_INVALID_PARAMETER;
    body[WORKSPACE_KEY_IS_SHOW] = false;
    if (KelJson::HasBool(body, WORKSPACE_KEY_CREATE_HIDDEN_BHO) && KelJson::GetBool(body, WORKSPACE_KEY_CREATE_HIDDEN_BHO))
        return PROVIDER_RESULT_OK;
    QvCommon::Synchronize::AutoLock lock(m_lock);
    std::wstring windowKey, tabKey;
    if (!MakeBalloonIdString(body, windowKey, tabKey)) return PROVIDER_RESULT_INVALID_PARAMETER;
    BrowserWindowInfo* window = nullptr;
    BrowserTabInfo* tab = nullptr;
    FindBrowserInfo(windowKey, tabKey, window, tab);
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
