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

// Workspace provider (class 6).
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE = 0x18000008;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_CREATE_HIDDEN_BHO_CONSOLE = 0x18000019;
constexpr uint32_t KEL_PROVIDER_WORKSPACE_MSG_ACTIVATED_UI_COUNT = 0x18000022;

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

// Control of the product's service (class 0x7F, its own family): for people,
// scripts and tests that drive a service by hand through kelctl.
constexpr uint32_t KEL_PROVIDER_HOST_CONTROL = 0x7F;
constexpr uint32_t KEL_HOST_MSG_STOP = 0x7F000001;        // the service ends
constexpr uint32_t KEL_HOST_MSG_BROADCAST = 0x7F000002;   // {"MessageId": n, "Body": value}
