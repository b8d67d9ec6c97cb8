#pragma once
// The workspace's pages, frame kinds, body keys, script entry points, sizes
// and waits: named once, used by the provider and the manager.
#include <windows.h>
#include <cstdint>

// A balloon that the request names does not exist.
constexpr uint32_t WORKSPACE_RESULT_NO_SUCH_BALLOON = 0x10000005;

// Frame ids: none yet, and being created (pop-up, mini browser, warning).
constexpr DWORD WORKSPACE_NO_FRAME = 0;
constexpr DWORD WORKSPACE_FRAME_CREATING = 0xFFFFFFFF;

// Pages.
constexpr char WORKSPACE_PAGE_CONSOLE[] = "ManagementConsole.html";
constexpr char WORKSPACE_PAGE_BHO_CONSOLE[] = "BHOConsole.html";

// "BalloonType" of the frame description.
constexpr unsigned WORKSPACE_TYPE_CONSOLE = 1;       // also the pop-up window
constexpr unsigned WORKSPACE_TYPE_BHO_POPUP = 2;     // a balloon that follows its toolbar
constexpr unsigned WORKSPACE_TYPE_BHO_CONSOLE = 3;
constexpr unsigned WORKSPACE_TYPE_MINI_BROWSER = 5;  // also the suspicious-site warning

// Body and frame-description keys.
constexpr char WORKSPACE_KEY_PAGE_NAME[] = "BalloonPageName";
constexpr char WORKSPACE_KEY_TYPE[] = "BalloonType";
constexpr char WORKSPACE_KEY_TITLE[] = "WindowTitle";
constexpr char WORKSPACE_KEY_SCRIPT[] = "ScriptToExecute";
constexpr char WORKSPACE_KEY_WIDTH[] = "BalloonWidth";
constexpr char WORKSPACE_KEY_HEIGHT[] = "BalloonHeight";
constexpr char WORKSPACE_KEY_POS_X[] = "BalloonPosX";
constexpr char WORKSPACE_KEY_POS_Y[] = "BalloonPosY";
constexpr char WORKSPACE_KEY_TAB_INDEX[] = "TabIndex";
constexpr char WORKSPACE_KEY_EXTRA_SCRIPT[] = "ExtraScript";
constexpr char WORKSPACE_KEY_INIT_DATA[] = "BalloonInitData";
constexpr char WORKSPACE_KEY_CREATE_HIDDEN_BHO[] = "CreateHiddenBhoConsole";
constexpr char WORKSPACE_KEY_THREAD_ID[] = "BalloonThreadId";
constexpr char WORKSPACE_KEY_CLOSE_URL[] = "BalloonCloseUrl";
constexpr char WORKSPACE_KEY_IS_SHOW[] = "BalloonIsShow";
constexpr char WORKSPACE_KEY_BROWSER_NAME[] = "BrowserName";
constexpr char WORKSPACE_KEY_WINDOW_ID[] = "WindowId";
constexpr char WORKSPACE_KEY_TAB_ID[] = "TabId";
constexpr char WORKSPACE_KEY_BALLOON_WINDOW[] = "BalloonWindowHandle";
constexpr char WORKSPACE_KEY_TOOLBAR_WINDOW[] = "BalloonToolbarHWND";
constexpr char WORKSPACE_KEY_CONSOLE_STATUS[] = "ConsoleUiStatus";
constexpr char WORKSPACE_KEY_ACTIVATED_COUNT[] = "ActivatedUiCnt";
constexpr char WORKSPACE_KEY_COPY_DATA[] = "CopyData";
constexpr char WORKSPACE_KEY_DESKTOP[] = "Desktop";
constexpr char WORKSPACE_KEY_MY_DOCUMENT[] = "MyDocument";
constexpr char WORKSPACE_KEY_OPEN_FILE[] = "OpenFile";
constexpr char WORKSPACE_KEY_URL[] = "Url";
constexpr char WORKSPACE_KEY_AUTO_NAVIGATE[] = "AutoNavigate";
constexpr char WORKSPACE_KEY_FRAME_THREAD[] = "ThreadID";
constexpr char WORKSPACE_KEY_SITE_ID[] = "SiteId";
constexpr char WORKSPACE_KEY_LOCATION[] = "Location";
constexpr char WORKSPACE_KEY_RECORD_ID[] = "RecordId";
constexpr char WORKSPACE_KEY_PASSCARD_ID[] = "PasscardId";
constexpr char WORKSPACE_KEY_LOGIN_URL[] = "LoginUrl";
constexpr char WORKSPACE_KEY_LOGIN_PAGE[] = "LoginPagePath";
constexpr char WORKSPACE_KEY_OPEN_URL[] = "OpenURL";
constexpr char WORKSPACE_KEY_CURRENT_PID[] = "CurrentPid";
// Keys of the other providers' replies.
constexpr char WORKSPACE_KEY_DISPLAY_FLAG[] = "DisplayMainConsoleFlag";
constexpr char WORKSPACE_KEY_CLEAR_FLAG[] = "ClearFlag";
constexpr char WORKSPACE_KEY_PIN_STATE[] = "PinState";
// A PIN state under which a console in front announces that the profile changed.
constexpr int64_t WORKSPACE_PIN_STATE_PROFILE_MODIFIED = 3;

// Browsers: the login command of a browser frame, the browser started when
// the default one cannot log in, and the oldest versions that can.
constexpr wchar_t WORKSPACE_LOGIN_COMMAND[] = L"login\t%s";
constexpr wchar_t WORKSPACE_FALLBACK_BROWSER[] = L"iexplore.exe";
constexpr wchar_t WORKSPACE_SHELL_PARENT[] = L"explorer.exe";
constexpr unsigned long WORKSPACE_IE_MIN_MAJOR = 7;
constexpr unsigned long WORKSPACE_CHROME_MIN_MAJOR = 5;
constexpr unsigned long WORKSPACE_FIREFOX_MIN_MAJOR = 3, WORKSPACE_FIREFOX_MIN_MINOR = 5;

// Page script.
constexpr wchar_t WORKSPACE_SCRIPT_SET_TAB[] = L"app.window.setTabIndexToBeSwitched";
constexpr wchar_t WORKSPACE_SCRIPT_SWITCH_TAB[] = L"app.window.switchToTab";
constexpr wchar_t WORKSPACE_SCRIPT_ON_CREATE[] = L"kel.ext.OnCreate";
constexpr wchar_t WORKSPACE_SCRIPT_BHO_BEFORE_SHOW[] = L"app.window.onBeforeBHOConsoleShow(%s);";
constexpr wchar_t WORKSPACE_SCRIPT_BHO_SHOW[] = L"app.window.onBHOConsoleShow('%s', %s);";
constexpr wchar_t WORKSPACE_SCRIPT_BHO_HIDE[] = L"app.window.onBHOConsoleHide(%s);";
constexpr wchar_t WORKSPACE_BHO_CONSOLE_NAME[] = L"BHOConsole";

// Window titles: string-table keys and the texts used when a key is missing.
constexpr wchar_t WORKSPACE_L10N_SECTION[] = L"KEL_CONSOLE";
constexpr wchar_t WORKSPACE_TITLE_SUBSCRIPTION_KEY[] = L"R_SUBSCRIPTIONFRAME";
constexpr wchar_t WORKSPACE_TITLE_SUBSCRIPTION_DEFAULT[] = L"{Quorvane Password Manager}";
constexpr wchar_t WORKSPACE_TITLE_ABOUT_KEY[] = L"R_ABOUTFRAME";
constexpr wchar_t WORKSPACE_TITLE_ABOUT_DEFAULT[] = L"{About your Software}";
constexpr wchar_t WORKSPACE_TITLE_MAIN_KEY[] = L"R_MAINFRAME";
constexpr wchar_t WORKSPACE_TITLE_MAIN_DEFAULT[] = L"{Quorvane Password Manager}";
constexpr wchar_t WORKSPACE_ALL_FILES_KEY[] = L"R_ALLFILES";
constexpr wchar_t WORKSPACE_ALL_FILES_DEFAULT[] = L"All";

// The open-file dialog.
constexpr size_t WORKSPACE_FILTER_CHARS = 200;
constexpr size_t WORKSPACE_FILTER_LABEL_MAX = 180;
constexpr size_t WORKSPACE_FILE_NAME_CHARS = 520;
constexpr DWORD WORKSPACE_OPEN_FILE_FLAGS = 0x1800;   // path and file must exist

// Sizes of the mini browser and the warning when the body gives none.
constexpr int WORKSPACE_MINI_BROWSER_WIDTH = 589;
constexpr int WORKSPACE_MINI_BROWSER_HEIGHT = 402;

// SetWindowPos flags: placed without size, Z order or activation, and hidden
// until the frame shows it.
constexpr UINT WORKSPACE_PLACE_HIDDEN = SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW;
constexpr UINT WORKSPACE_PLACE_HIDDEN_ACTIVE = SWP_NOSIZE | SWP_NOZORDER | SWP_HIDEWINDOW;
constexpr UINT WORKSPACE_PLACE = SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;

// Where an add-on pop-up goes beside its toolbar button: "IE" keeps it inside
// the browser window when the toolbar is near its right edge.
constexpr wchar_t WORKSPACE_BROWSER_IE[] = L"IE";
constexpr wchar_t WORKSPACE_BROWSER_SW[] = L"SW";
constexpr LONG WORKSPACE_IE_POPUP_LEFT = 390;
constexpr LONG WORKSPACE_IE_POPUP_ROOM = 410;
constexpr LONG WORKSPACE_IE_POPUP_NUDGE = 14;
constexpr LONG WORKSPACE_SW_POPUP_NUDGE = 11;

constexpr wchar_t WORKSPACE_SCRIPT_ON_HIDE[] = L"kel.ext.OnHide";

// Waits.
constexpr DWORD WORKSPACE_INSTALLER_SYNC_WAIT_MS = 500;
constexpr DWORD WORKSPACE_WINDOW_RETRY_MS = 500;
constexpr int WORKSPACE_WINDOW_RETRIES = 4;
constexpr DWORD WORKSPACE_BHO_FOREGROUND_TIMEOUT_MS = 500;
