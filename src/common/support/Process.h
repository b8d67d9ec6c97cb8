#pragma once
// Windows functions bound at run time (older systems lack them), the session
// and token tests, kernel object names and GUID text. Each bound function
// loads its DLL, makes the call and unloads it again. Error words: 0 success,
// 50 the required Windows version is missing, the version error when the
// version query failed, 6 a missing entry point, else the call's last error.
#include <windows.h>
#include <string>

namespace QvCommon {
namespace Process {

// True when the process runs under WOW64.
bool IsWow64ModeProcess(DWORD* error = nullptr);

// Session of the current process; 0xFFFFFFFF when it cannot be told.
DWORD GetCurrentSessionId(DWORD* error = nullptr);

// True when the token (null: the caller's) is a member of LocalSystem.
bool IsLocalSystem(HANDLE token = nullptr, DWORD* error = nullptr);

// True when the process token's integrity level is low (RID 0x1000).
bool IsLowIntegrity();

// The kind of session the process runs in, as the debug log and the dump
// folder tell them apart: service in session 0 (NT 6 and later) or as
// LocalSystem (NT 5); protected at low integrity (NT 6 and later). Both can be
// set; service then wins. Neither is set when the version query failed.
struct SessionKind {
    bool service = false;
    bool protectedSession = false;
};
SessionKind DetectSessionKind();

bool RegisterSessionNotification(HWND window, DWORD flags, DWORD* error = nullptr);
bool UnregisterSessionNotification(HWND window, DWORD* error = nullptr);

} // namespace Process

namespace Synchronize {
// "Global\" or "Local\" plus the name on NT 5 and later (no second prefix when
// the name has one); the bare name before; empty for an empty name or when the
// version query failed.
std::wstring KernelObjectName(const std::wstring& name, bool global);
} // namespace Synchronize

namespace String {
// The registry form of a GUID, in braces. Returns StringFromCLSID's HRESULT.
HRESULT GuidToText(const GUID& guid, std::wstring& text);
} // namespace String

} // namespace QvCommon
