#pragma once
// The message window's registration for the session's notifications.
#include <windows.h>
#include "AgentDefs.h"
#include "QvHandle.h"
#include "QvLog.h"
#include "Version.h"

// Session notifications come from wtsapi32.dll, which older systems lack.
class SessionNotifications {
public:
    void Register(HWND window) {
        using RegisterProc = BOOL(WINAPI*)(HWND, DWORD);
        m_library.reset(::LoadLibraryW(L"wtsapi32.dll"));
        auto registerProc = m_library ? reinterpret_cast<RegisterProc>(reinterpret_cast<void*>(
                                            ::GetProcAddress(m_library.get(), "WTSRegisterSessionNotification")))
                                      : nullptr;
        BOOL registered = FALSE;
        if (!QvCommon::Version::Check(QVVER_XP_OR_LATER) || !registerProc)
            ::SetLastError(ERROR_NOT_SUPPORTED);
        else
            registered = registerProc(window, NOTIFY_FOR_THIS_SESSION_FLAG);
        if (!registered) {
            QVLOG(QVLOG_ERROR, L"Failed to register session notifications: %d", static_cast<int>(::GetLastError()));
            return;
        }
        m_window = window;
        QVLOG(QVLOG_TRACE, L"Registered to session notifications.");
    }
    void Unregister() {
        using UnregisterProc = BOOL(WINAPI*)(HWND);
        if (!m_window) return;
        auto unregisterProc = reinterpret_cast<UnregisterProc>(
            reinterpret_cast<void*>(::GetProcAddress(m_library.get(), "WTSUnRegisterSessionNotification")));
        if (unregisterProc) unregisterProc(m_window);
        m_window = nullptr;
    }
    ~SessionNotifications() { Unregister(); }

private:
    QvCommon::UniqueModule m_library;
    HWND m_window = nullptr;
};
