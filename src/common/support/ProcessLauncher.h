#pragma once
// Starts a child process, with or without waiting for it; a waiting caller
// that owns windows can keep them responsive by pumping its messages.
#include <windows.h>
#include <string>

namespace QvCommon {
namespace Process {

// How the child's window is shown, when the caller says.
enum class Show { Default, Shown, Hidden };

// False on failure with the reason in *error: the creation's error, 258
// (WAIT_TIMEOUT) when the child outlived timeoutMs, or the wait's error.
// processSecurity: the child process object's, or null for the default.
bool InvokeProcess(const std::wstring& commandLine, bool wait, bool pumpMessages, Show show, DWORD timeoutMs,
                   DWORD* exitCode = nullptr, DWORD* error = nullptr, SECURITY_ATTRIBUTES* processSecurity = nullptr);

} // namespace Process
} // namespace QvCommon
