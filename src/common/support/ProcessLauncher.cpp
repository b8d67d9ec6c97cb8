#include "ProcessLauncher.h"

#include "QvHandle.h"

namespace QvCommon {
namespace Process {

namespace {

// Waits for the process; window messages that arrive meanwhile are
// dispatched, so the caller's windows keep answering.
DWORD WaitPumping(HANDLE process, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        const DWORD elapsed = ::GetTickCount() - start;   // wraps correctly
        const DWORD left = timeoutMs == INFINITE ? INFINITE : (elapsed >= timeoutMs ? 0 : timeoutMs - elapsed);
        const DWORD result = ::MsgWaitForMultipleObjects(1, &process, FALSE, left, QS_ALLINPUT);
        if (result != WAIT_OBJECT_0 + 1) return result;
    }
}

} // namespace

bool InvokeProcess(const std::wstring& commandLine, bool wait, bool pumpMessages, Show show, DWORD timeoutMs,
                   DWORD* exitCode, DWORD* error, SECURITY_ATTRIBUTES* processSecurity) {
    DWORD ignored = 0;
    DWORD& reason = error ? *error : ignored;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    DWORD flags = CREATE_NEW_PROCESS_GROUP;
    if (show != Show::Default) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = show == Show::Shown ? SW_SHOW : SW_HIDE;
        if (show == Show::Hidden) flags |= CREATE_NO_WINDOW;
    }
    std::wstring command = commandLine;   // CreateProcessW may write into it
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &command[0], processSecurity, nullptr, FALSE, flags, nullptr, nullptr, &startup, &info)) {
        reason = ::GetLastError();
        return false;
    }
    UniqueHandle process(info.hProcess), thread(info.hThread);
    if (!wait) {
        reason = 0;
        return true;
    }
    const DWORD waited = pumpMessages ? WaitPumping(process.get(), timeoutMs)
                                      : ::WaitForSingleObject(process.get(), timeoutMs);
    if (waited == WAIT_TIMEOUT) {
        reason = WAIT_TIMEOUT;
        return false;
    }
    if (waited != WAIT_OBJECT_0) {
        reason = ::GetLastError();
        return false;
    }
    if (exitCode && !::GetExitCodeProcess(process.get(), exitCode)) {
        reason = ::GetLastError();
        return false;
    }
    reason = 0;
    return true;
}

} // namespace Process
} // namespace QvCommon
