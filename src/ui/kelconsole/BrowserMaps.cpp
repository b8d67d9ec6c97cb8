// The records that tie browser windows and tabs to their balloon frame, and
// the add-on pop-ups; every primitive but the pop-up ones runs under m_lock.
#include "WorkspaceManager.h"

#include "QvLog.h"
#include "WorkspaceText.h"

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

// A tab is in its own window's list only, but any window may hold it as its
// active tab (ShowHiddenBalloon makes it so): every window lets go of it
// before the record is erased.
void CWorkspaceManager::EraseBrowserTabInfo(BrowserTabInfo& tab) {
    const auto owner = m_browserWindowMap.find(tab.tsWindowId);
    if (owner != m_browserWindowMap.end()) owner->second.pBrowserTabInfoList.remove(&tab);
    for (auto& entry : m_browserWindowMap)
        if (entry.second.pActiveBrowserTabInfo == &tab) entry.second.pActiveBrowserTabInfo = nullptr;
    const std::wstring key = tab.tsTabId;   // the record holds it
    m_browserTabMap.erase(key);
}

unsigned CWorkspaceManager::RemoveBrowserTabInfo(BrowserWindowInfo& window, BrowserTabInfo& tab) {
    window.pBrowserTabInfoList.remove(&tab);
    EraseBrowserTabInfo(tab);
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

bool CWorkspaceManager::MayRecord(const std::wstring& windowKey, const std::wstring& tabKey,
                                  const BrowserWindowInfo* window, const BrowserTabInfo* tab) const {
    if (window || !tab) return true;
    QVLOG(QVLOG_ERROR, L"CWorkspaceManager::AddBrowserInfo - Unexpected call flow. _tsWindowId[%s], _tsTabId[%s]",
          windowKey.c_str(), tabKey.c_str());
    return false;
}

bool CWorkspaceManager::AddBrowserInfo(const std::wstring& windowKey, const std::wstring& tabKey, DWORD frameId,
                                       const std::wstring& pagePath) {
    BrowserWindowInfo* window = nullptr;
    BrowserTabInfo* tab = nullptr;
    FindBrowserInfo(windowKey, tabKey, window, tab);
    if (window && tab) {
        tab->tsPagePath = pagePath;
        tab->bShowUi = true;
        return true;
    }
    if (!MayRecord(windowKey, tabKey, window, tab)) return false;
    BrowserTabInfo& added = m_browserTabMap[tabKey];
    added = {tabKey, windowKey, pagePath, true};
    if (!window) {
        window = &m_browserWindowMap[windowKey];
        window->tsWindowId = windowKey;
        window->dwUiThreadId = frameId;
    }
    window->pBrowserTabInfoList.push_back(&added);
    window->pActiveBrowserTabInfo = &added;
    return true;
}

// The window's frame goes with its record: nobody could reach it afterwards.
void CWorkspaceManager::RemoveBrowserWindowInfo(BrowserWindowInfo& window) {
    std::list<BrowserTabInfo*> tabs;
    tabs.swap(window.pBrowserTabInfoList);
    for (BrowserTabInfo* tab : tabs) EraseBrowserTabInfo(*tab);
    CloseFrame(window.dwUiThreadId);
    m_browserWindowMap.erase(window.tsWindowId);
}

bool CWorkspaceManager::RemoveBrowserPopupInfo(const std::wstring& windowId) {
    QvCommon::Synchronize::AutoLock lock(s_browserPopupLock);
    if (s_browserPopupMap.erase(windowId) == 0) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::RemoveBrowserPopupInfos_browserPopupMap[%s] not found", windowId.c_str());
        return false;
    }
    return true;
}

bool CWorkspaceManager::SetBrowserInfoActiveTab(BrowserWindowInfo* window, BrowserTabInfo* tab) {
    if (!window || !tab) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::SetBrowserInfoActiveTab - pBrowserWindowInfo/pBrowserTabInfo is NULL.");
        return false;
    }
    window->pActiveBrowserTabInfo = tab;
    return true;
}

bool CWorkspaceManager::IsBrowserInfoActiveTab(BrowserWindowInfo* window, BrowserTabInfo* tab) {
    if (!window || !tab) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::IsBrowserInfoActiveTab - pBrowserWindowInfo/pBrowserTabInfo is NULL.");
        return false;
    }
    return window->pActiveBrowserTabInfo == tab;
}

bool CWorkspaceManager::LookUpBalloon(const JsonValue& body, BalloonLookup& found) {
    if (!MakeBalloonIdString(body, found.windowKey, found.tabKey)) return false;
    FindBrowserInfo(found.windowKey, found.tabKey, found.window, found.tab);
    return true;
}
