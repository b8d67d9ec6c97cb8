#pragma once
// The agent's single-instance windows (management console, add-on console,
// pop-up window, mini browser, suspicious-site warning), the balloons' maps,
// and the desktop services (clipboard, special folders, file dialog). Every
// window is a frame of the secure frame component, created on first use and
// reused while it lives. Operations take the request body, answer in it, and
// return a workspace result code.
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include "BrowserMaps.h"
#include "FrameManager.h"
#include "JsonBody.h"
#include "QvHandle.h"
#include "Synchronize.h"
#include "WorkspaceDefs.h"

class IProviderController;

class CWorkspaceManager {
public:
    CWorkspaceManager(IProviderController* controller, FrameManager* frameManager);
    virtual ~CWorkspaceManager();
    CWorkspaceManager(const CWorkspaceManager&) = delete;
    CWorkspaceManager& operator=(const CWorkspaceManager&) = delete;

    // Management console.
    uint32_t ShowConsoleUI(JsonValue& body);
    uint32_t HideConsoleUI();
    uint32_t DeactivateConsoleUI();
    DWORD GetConsoleUiThreadId() const { return m_consoleFrame; }

    // Pop-up window, mini browser, suspicious-site warning.
    uint32_t ShowPopupWindow(JsonValue& body);
    uint32_t ShowMiniBrowser(JsonValue& body);
    uint32_t ShowSuspiciousWarning(JsonValue& body);

    // The add-on console.
    uint32_t ShowBHOConsole(JsonValue& body);
    uint32_t CloseBHOConsole(JsonValue& body);

    // Balloons: one frame per browser window, shared by its tabs.
    uint32_t ShowBalloon(JsonValue& body);
    uint32_t HideBalloon(JsonValue& body);
    uint32_t ShowHiddenBalloon(JsonValue& body);
    uint32_t GetBalloonStatus(JsonValue& body);
    uint32_t MoveBalloon(JsonValue& body);
    uint32_t CloseBalloon(JsonValue& body);
    uint32_t CleanupBrowserMap(JsonValue& body);
    // Moves the add-on pop-ups of a browser window that moved, beside its toolbar.
    static void HandleLocationChange(HWND window);

    // Navigation, login and browser launching.
    uint32_t DoNavigate(JsonValue& body);
    uint32_t DoRecord(JsonValue& body);
    uint32_t DoLogin(JsonValue& body);
    uint32_t DoLoginInDefaultBrowser(JsonValue& body);
    uint32_t DoLoginInBrowserNewTab(JsonValue& body);
    uint32_t DoOpenInDefaultBrowser(JsonValue& body);
    uint32_t DoOpenInBrowserNewTab(JsonValue& body);
    uint32_t QueryPasscardIdByUrl(JsonValue& body);
    uint32_t GetParentPid(JsonValue& body);

    // Desktop services.
    uint32_t CopyDataToClipboard(JsonValue& body);
    uint32_t DoCopyDataToClipboard(const std::wstring& text);
    uint32_t GetSpecialPath(JsonValue& body);
    uint32_t GetOpenFileNameW(JsonValue& body);
    // The dialog's filter pairs, each part ending in a zero, then an empty string.
    const wchar_t* GetOpenFileFilter() const { return m_openFileFilter; }

    // Shown add-on console, shown balloon and visible management console.
    unsigned ActivatedUiCount();
    bool SetForceForegroundWindow(HWND window, DWORD timeoutMs);
    static void HandleWindowBlur();

    // Set while the management console is shown; read by the provider.
    static bool IsConsoleVisible() { return s_consoleVisible; }

private:
    bool FrameLives(DWORD frameId);
    // Creates a frame from the description; false (logged by the caller) on failure.
    HRESULT CreateFrame(const JsonValue& description, DWORD& frameId);
    HRESULT ExecScript(DWORD frameId, const std::wstring& script);
    HRESULT FrameWindow(DWORD frameId, HWND& window);
    // Asks a living frame's window to close, once the frame has one.
    void CloseFrame(DWORD frameId);
    // The shared path of the mini browser and the warning.
    struct SingleFrame;
    uint32_t ShowSingleFrame(const SingleFrame& kind, DWORD& frameId, JsonValue description);
    void QueryPinStateAndAnnounce(HWND window, int retries, const wchar_t* operation);
    void ReadTitlesAndFilter();
    // A workspace result; a failure is logged under the operation's name.
    uint32_t CreateBrowserFrame(const wchar_t* operation, const std::wstring& command, DWORD* frameId, bool autoNavigate);
    void RememberLogin(const JsonValue& body);
    static void OpenInDefaultBrowser(const std::wstring& url);

    // Balloon maps; called with the lock held.
    struct BalloonLookup {
        std::wstring windowKey, tabKey;
        BrowserWindowInfo* window = nullptr;
        BrowserTabInfo* tab = nullptr;
    };
    // The body's keys and their records (none when not found); false when
    // the body does not name a balloon.
    bool LookUpBalloon(const JsonValue& body, BalloonLookup& found);
    bool MakeBalloonIdString(const JsonValue& body, std::wstring& windowKey, std::wstring& tabKey);
    void FindBrowserInfo(const std::wstring& windowKey, const std::wstring& tabKey, BrowserWindowInfo*& window,
                         BrowserTabInfo*& tab);
    void FindBrowserInfo(DWORD frameId, BrowserWindowInfo*& window, BrowserTabInfo*& tab);
    // False (and logged) for a tab that is recorded without its window:
    // it belongs to another window and cannot be recorded under this one.
    bool MayRecord(const std::wstring& windowKey, const std::wstring& tabKey, const BrowserWindowInfo* window,
                   const BrowserTabInfo* tab) const;
    bool AddBrowserInfo(const std::wstring& windowKey, const std::wstring& tabKey, DWORD frameId,
                        const std::wstring& pagePath);
    void RemoveBrowserWindowInfo(BrowserWindowInfo& window);
    unsigned RemoveBrowserTabInfo(BrowserWindowInfo& window, BrowserTabInfo& tab);
    void EraseBrowserTabInfo(BrowserTabInfo& tab);
    static bool RemoveBrowserPopupInfo(const std::wstring& windowId);
    bool SetBrowserInfoActiveTab(BrowserWindowInfo* window, BrowserTabInfo* tab);
    bool IsBrowserInfoActiveTab(BrowserWindowInfo* window, BrowserTabInfo* tab);
    void DumpBrowserInfo();
    // Places a balloon frame's window at the body's position, if it gives one.
    void PlaceBalloon(DWORD frameId, const JsonValue& body, UINT flags, const wchar_t* failedLog);
    HRESULT RunCreationScript(DWORD frameId, const std::wstring& tabKey, const JsonValue& body);

    static void CALLBACK LocationHook(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object, LONG child,
                                      DWORD thread, DWORD time);
    static void CALLBACK ForegroundHook(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object, LONG child,
                                        DWORD thread, DWORD time);

    QvCommon::Synchronize::CriticalSection m_lock;
    DWORD m_consoleFrame = WORKSPACE_NO_FRAME;
    DWORD m_popupFrame = WORKSPACE_NO_FRAME;
    DWORD m_miniBrowserFrame = WORKSPACE_NO_FRAME;
    DWORD m_warningFrame = WORKSPACE_NO_FRAME;
    DWORD m_bhoConsoleFrame = WORKSPACE_NO_FRAME;
    IProviderController* m_controller;
    QvCommon::UniqueCom<FrameManager> m_frameManager;
    QvCommon::UniqueWinEventHook m_foregroundHook, m_locationHook;
    bool m_comInitialized = false;
    std::atomic<bool> m_bBhoShown{false};
    std::atomic<bool> m_bBallonShown{false};
    BrowserWindowMap m_browserWindowMap;
    BrowserTabMap m_browserTabMap;
    // Login URL (one trailing "/" removed) to the card an add-on asks for once.
    std::map<std::wstring, std::wstring> m_urlPasscardIdMap;
    QvCommon::Synchronize::CriticalSection m_urlLock;
    DWORD m_attachedForegroundThread = 0;
    DWORD m_attachedTargetThread = 0;
    std::wstring m_subscriptionTitle, m_aboutTitle, m_mainTitle;
    wchar_t m_openFileFilter[WORKSPACE_FILTER_CHARS] = {};

    // The add-on pop-ups by their browser's "WindowId" text. The location
    // hook reads it while frame calls run under m_lock, so it has a guard of
    // its own that is never held across a frame call.
    static BrowserPopupMap s_browserPopupMap;
    static QvCommon::Synchronize::CriticalSection s_browserPopupLock;
    static std::atomic<bool> s_consoleVisible;
    static std::atomic<IProviderController*> s_controller;
};
