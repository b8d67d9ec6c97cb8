#include "MessageWnd.h"

#include <cwchar>
#include "AgentDefs.h"
#include "ProviderInterfaces.h"
#include "ProviderMessages.h"
#include "QvLog.h"

void LockReaction(IProviderController* controller) {
    if (!controller) return;
    controller->BroadcastMessageToListeners(KEL_BROADCAST_DESKTOP_LOCKED, JsonValue());
    JsonValue body;
    controller->SendMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_INVALIDATE, body);
}

// Named at run time, as a window implementation names its class, so that two
// modules of a process never collide on it.
const std::wstring& CMessageWnd::ClassName() {
    static const std::wstring name = [] {
        wchar_t text[64];
        std::swprintf(text, 64, L"KelConsoleMessageWnd:%p", reinterpret_cast<void*>(&CMessageWnd::WindowProc));
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = &CMessageWnd::WindowProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        windowClass.lpszClassName = text;
        ::RegisterClassExW(&windowClass);
        return std::wstring(text);
    }();
    return name;
}

bool CMessageWnd::Initialize(IProviderController* controller) {
    if (m_window) return true;
    m_controller = controller;
    m_window = ::CreateWindowExW(0, ClassName().c_str(), L"", WINDOW_STYLE, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 ::GetModuleHandleW(nullptr), this);
    if (!m_window) {
        QVLOG(QVLOG_ERROR, L"CMessageWnd::Initialize: Failed to create window.");
        m_controller = nullptr;
        return false;
    }
    return true;
}

void CMessageWnd::Destroy() {
    m_controller = nullptr;
    if (m_window) {
        ::DestroyWindow(m_window);
        m_window = nullptr;
    }
}

LRESULT CALLBACK CMessageWnd::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<CMessageWnd*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && (message == WM_WTSSESSION_CHANGE || message == WM_POWERBROADCAST)) {
        // An exception cannot unwind through user32's frames: it ends here.
        try {
            return self->HandleMessage(message, wParam, lParam);
        } catch (...) {
            QVLOG(QVLOG_ERROR, L"CMessageWnd::WindowProc: exception caught in message 0x%04x", message);
            return 0;
        }
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CMessageWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_POWERBROADCAST) {
        if (wParam == KEL_PBT_QUERY_SUSPEND) return TRUE;
        if (wParam == KEL_PBT_SUSPEND) LockReaction(m_controller);
        return 0;
    }
    switch (wParam) {
    case KEL_WTS_CONSOLE_CONNECT:
        QVLOG(QVLOG_TRACE, L"Received WTS_CONSOLE_CONNECT");
        break;
    case KEL_WTS_CONSOLE_DISCONNECT:
        QVLOG(QVLOG_TRACE, L"Received WTS_CONSOLE_DISCONNECT");
        LockReaction(m_controller);
        break;
    case KEL_WTS_SESSION_LOCK:
        QVLOG(QVLOG_TRACE, L"Received WTS_SESSION_LOCK");
        LockReaction(m_controller);
        break;
    case KEL_WTS_SESSION_UNLOCK:
        QVLOG(QVLOG_TRACE, L"Received WTS_SESSION_UNLOCK");
        break;
    default:   // remote connect and disconnect, logon, logoff
        break;
    }
    return 0;
}
