#pragma once
// The agent's own constants: its named state objects, the limits and
// intervals of its main loop and watchdog, and its exit codes.
#include <windows.h>

// Followed by every process of the product that needs to know whether the
// agent serves the session; in the session's Local namespace.
#define KEL_AGENT_STATE_EVENT L"QVEVTAGENT"
#define KEL_AGENT_STATE_MUTEX L"QVMTXAGENT"

// What a restart starts, from the running program's folder.
#define KEL_RESTART_COMMAND L"KelConsole.exe -s"

// Command-line options, compared whole and in any letter case.
#define KEL_OPTION_SILENT L"-s"
#define KEL_OPTION_ENTRY_MAIN L"/ZOENTRY:Main"
#define KEL_OPTION_ENTRY_WELCOME L"/ZOENTRY:Welcome"
#define KEL_OPTION_SETUP_WIZARD L"/NeedSetupWizard"
#define KEL_ENTRY_MAIN L"Main"
#define KEL_ENTRY_WELCOME L"Welcome"

// One wait watches the handles and the message queue: 63 handles is the most.
constexpr DWORD KEL_MAX_WAIT_HANDLES = MAXIMUM_WAIT_OBJECTS - 1;
constexpr DWORD KEL_MAIN_LOOP_WAIT_MS = 500;

// Memory watchdog.
constexpr DWORD KEL_MEMORY_CHECK_INTERVAL_MS = 180000;
constexpr DWORD KEL_DEFAULT_WORKING_SET_MB = 350;
// In whole MiB, rounded down, and strictly above: 350 MiB and a few bytes do
// not restart an agent whose threshold is 350.
inline bool WorkingSetAbove(SIZE_T workingSetBytes, DWORD thresholdMB) { return (workingSetBytes >> 20) > thresholdMB; }

// A UI thread that was just resumed has no message queue until it has run
// (Wine then refuses the post with ERROR_INVALID_THREAD_ID), so telling it to
// close is tried again, briefly: the main loop waits meanwhile.
constexpr DWORD KEL_CLOSE_POST_TRIES = 25;
constexpr DWORD KEL_CLOSE_POST_RETRY_MS = 10;

// Session-change and power notifications, as the message window receives them.
constexpr WPARAM KEL_WTS_CONSOLE_CONNECT = 1;
constexpr WPARAM KEL_WTS_CONSOLE_DISCONNECT = 2;
constexpr WPARAM KEL_WTS_SESSION_LOCK = 7;
constexpr WPARAM KEL_WTS_SESSION_UNLOCK = 8;
constexpr WPARAM KEL_PBT_QUERY_SUSPEND = 0;
constexpr WPARAM KEL_PBT_SUSPEND = 4;

// Exit codes of KelConsole.exe.
constexpr int KEL_EXIT_OK = 0;
constexpr int KEL_EXIT_ALREADY_RUNNING = 1;
constexpr int KEL_EXIT_FAILED = -1;

// Access rights for adopting an announced UI thread.
constexpr DWORD KEL_UI_THREAD_ACCESS = SYNCHRONIZE | THREAD_SUSPEND_RESUME;

// Session notifications for this session only.
constexpr DWORD NOTIFY_FOR_THIS_SESSION_FLAG = 0;
