#pragma once
// The component's fixed intervals, sizes and names.
#include <windows.h>

// How long a call waits for a frame's UI thread: a thread that nobody resumed
// must not hold its caller for ever.
constexpr DWORD SFRAME_CALL_WAIT_MS = 5000;

// What the component remembers for those who inspect it: the journals of the
// last frames that closed, and the newest characters of each journal.
constexpr size_t SFRAME_CLOSED_JOURNALS_KEPT = 32;
constexpr size_t SFRAME_JOURNAL_MAX_CHARS = 64 * 1024;

// Size of a frame whose description gives none.
constexpr int SFRAME_DEFAULT_WIDTH = 800;
constexpr int SFRAME_DEFAULT_HEIGHT = 600;

constexpr wchar_t SFRAME_WINDOW_CLASS[] = L"KelSecureFrameWindow";

// Posted to a frame's window when commands wait in its queue.
constexpr UINT SFRAME_MSG_COMMANDS = WM_APP + 1;

// What a frame paints in place of a page it cannot read.
constexpr wchar_t SFRAME_PAGE_NOT_FOUND[] = L"page not found";

// Description keys.
constexpr char SFRAME_KEY_PAGE[] = "BalloonPageName";
constexpr char SFRAME_KEY_TITLE[] = "WindowTitle";
constexpr char SFRAME_KEY_SCRIPT[] = "ScriptToExecute";
constexpr char SFRAME_KEY_WIDTH[] = "BalloonWidth";
constexpr char SFRAME_KEY_HEIGHT[] = "BalloonHeight";
constexpr char SFRAME_KEY_POS_X[] = "BalloonPosX";
constexpr char SFRAME_KEY_POS_Y[] = "BalloonPosY";
