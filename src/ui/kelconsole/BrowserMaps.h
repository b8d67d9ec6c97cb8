#pragma once
// The records that tie browser windows and their tabs to a balloon frame.
// A window's tab list and active tab point into the tab map, whose nodes stay
// where they are until erased.
#include <windows.h>
#include <list>
#include <map>
#include <string>

struct BrowserTabInfo {
    std::wstring tsTabId;      // the tab key
    std::wstring tsWindowId;   // the window key
    std::wstring tsPagePath;   // the balloon page last loaded for this tab
    bool bShowUi = false;
};

struct BrowserWindowInfo {
    std::wstring tsWindowId;
    DWORD dwUiThreadId = 0;    // the window's balloon frame
    std::list<BrowserTabInfo*> pBrowserTabInfoList;   // in order of first use
    BrowserTabInfo* pActiveBrowserTabInfo = nullptr;  // the tab whose page the frame holds
};

// An add-on pop-up that follows its toolbar when the browser window moves.
struct BrowserPopupInfo {
    std::wstring browserName;
    HWND balloonWindow = nullptr;
    HWND toolbarWindow = nullptr;
};

using BrowserTabMap = std::map<std::wstring, BrowserTabInfo>;
using BrowserPopupMap = std::map<std::wstring, BrowserPopupInfo>;
using BrowserWindowMap = std::map<std::wstring, BrowserWindowInfo>;
