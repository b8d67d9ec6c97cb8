#pragma once
// Provider classes and the messages the agent, the provider library and the
// product's service exchange.
#include <cstdint>

// Provider classes.
constexpr uint32_t KEL_PROVIDER_PIN = 3;
constexpr uint32_t KEL_PROVIDER_WORKSPACE = 6;
constexpr uint32_t KEL_PROVIDER_BROWSER_SETTINGS = 12;
constexpr uint32_t KEL_PROVIDER_MISC = 13;

// PIN provider (class 3).
constexpr uint32_t KEL_PIN_MSG_GET_STATE = 0x11000009;            // reply "PinState"
constexpr uint32_t KEL_PIN_MSG_INVALIDATE = 0x1100001C;
constexpr uint32_t KEL_PIN_MSG_KEYSTROKE_STATUS = 0x1100002C;     // reply "PinDriverEnable"
constexpr uint32_t KEL_PIN_MSG_SET_DRIVER_ENABLE = 0x1100004E;    // {"PinDriverEnable": bool}
constexpr uint32_t KEL_PIN_MSG_BACKUP_GOLDEN_KEY = 0x1100007B;
constexpr uint32_t KEL_PIN_MSG_AGENT_STARTED = 0x1100007C;

// Workspace provider (class 6): the agent's windows and desktop services.
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_FIRST = 0x18000001;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_DO_RECORD = 0x18000001;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN = 0x18000002;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN_IN_DEFAULT_BROWSER = 0x18000003;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_SHOW_HIDDEN_BALLOON = 0x18000004;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON = 0x18000005;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_HIDE_BALLOON = 0x18000006;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BALLOON = 0x18000007;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI = 0x18000008;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN_IN_BROWSER_NEW_TAB = 0x18000009;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_CLEANUP_BROWSER_MAP = 0x1800000A;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_DO_OPEN_IN_BROWSER_NEW_TAB = 0x1800000B;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_HIDE_CONSOLE_UI = 0x1800000C;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_DEACTIVATE_CONSOLE_UI = 0x1800000D;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_GET_BALLOON_STATUS = 0x1800000E;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_SHOW_POPUP_WINDOW = 0x1800000F;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_MOVE_BALLOON = 0x18000010;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_QUERY_PASSCARD_ID_BY_URL = 0x18000011;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_COPY_DATA_TO_CLIPBOARD = 0x18000012;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE = 0x18000013;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_GET_SPECIAL_PATH = 0x18000014;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_SHOW_MINI_BROWSER = 0x18000015;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_DO_OPEN_IN_DEFAULT_BROWSER = 0x18000016;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_GET_OPEN_FILE_NAME = 0x18000017;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_GET_PARENT_PID = 0x18000018;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_SHOW_BHO_CONSOLE = 0x18000019;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BHO_CONSOLE = 0x1800001A;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM = 0x1800001B;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_SHOW_SUSPICIOUS_WARNING = 0x18000020;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_GET_CONSOLE_UI_STATUS = 0x18000021;   // reply "ConsoleUiStatus"
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_GET_ACTIVATED_UI_COUNT = 0x18000022;  // reply "ActivatedUiCnt"
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_LAST = 0x18000022;

// Browser-settings provider (class 12).
constexpr uint32_t KEL_BROWSER_MSG_REFRESH_SETTINGS = 0x1E000001;  // {"RefreshIESettings": true}

// Misc provider (class 13).
constexpr uint32_t KEL_MISC_MSG_SETUP_COMMAND = 0x1F000005;        // reply "SetupCommand"
constexpr uint32_t KEL_MISC_MSG_ENABLE_KBFILTER = 0x1F000011;
constexpr uint32_t KEL_MISC_MSG_DISPLAY_FLAG = 0x1F000014;         // reply "DisplayMainConsoleFlag"; "ClearFlag" clears it
constexpr uint32_t KEL_MISC_MSG_DRIVER_CHECK_PASSED = 0x1F000017;
constexpr uint32_t KEL_MISC_MSG_ETD_CHECK = 0x1F00001C;            // reply "IsETDExistAndNotUpToDate"
constexpr uint32_t KEL_MISC_MSG_BEFORE_DRIVER_CHECK = 0x1F00001F;
constexpr uint32_t KEL_MISC_MSG_ENTRY_POINT = 0x1F000025;          // {"EntryPoint": text}
constexpr uint32_t KEL_MISC_MSG_KEYSTROKE_ENABLED = 0x1F000028;    // {"PinDriverEnable": bool}

// Broadcasts.
constexpr uint32_t KEL_LISTENER_CLASS_AGENT = 0x0000;              // listener classes the agent joins
constexpr uint32_t KEL_LISTENER_CLASS_AGENT_CONTROL = 0x0002;
constexpr uint32_t KEL_BROADCAST_AGENT_EXIT = 0x00020001;
constexpr uint32_t KEL_BROADCAST_AGENT_STOPPING = 0x00020002;
constexpr uint32_t KEL_BROADCAST_AGENT_RESTART = 0x0000000A;
constexpr uint32_t KEL_BROADCAST_DESKTOP_LOCKED = 0x11020004;
constexpr uint32_t KEL_BROADCAST_WINDOW_BLUR = 0x11020004;        // another process took the foreground
constexpr uint32_t KEL_BROADCAST_PROFILE_MODIFIED = 0x1102000A;
constexpr uint32_t KEL_BROADCAST_INSTALLER_SYNC = 0x19020006;
// An add-on pop-up opened or closed: {"WindowId", "TabId", "BalloonWindowHandle"}.
constexpr uint32_t KEL_BROADCAST_BHO_POPUP_CLOSED = 0x18020001;
constexpr uint32_t KEL_BROADCAST_BHO_POPUP_CREATED = 0x18020002;
// To the add-ons: log in through a tab {"TabId", "LoginPagePath"}; open a URL in a tab (the request).
constexpr uint32_t KEL_BROADCAST_LOGIN_IN_TAB = 0x18030002;
constexpr uint32_t KEL_BROADCAST_OPEN_IN_TAB = 0x18030003;

// Control of the product's service (class 0x7F, its own family): for people,
// scripts and tests that drive a service by hand through kelctl.
constexpr uint32_t KEL_PROVIDER_HOST_CONTROL = 0x7F;
constexpr uint32_t KEL_HOST_MSG_STOP = 0x7F000001;        // the service ends
constexpr uint32_t KEL_HOST_MSG_BROADCAST = 0x7F000002;   // {"MessageId": n, "Body": value}
