#pragma once
// The hidden message-only window of the main thread. Windows sends session
// changes and power notifications only to windows; whenever the desktop
// stops being safely in the user's hands the providers hear of it.
#include <windows.h>
#include <string>

class IProviderController;

// Tells every listener that the desktop was locked and has the PIN provider
// invalidate the PIN. Also what the main loop does when the screen saver starts.
void LockReaction(IProviderController* controller);

class CMessageWnd {
public:
    // The style of the window implementation: child, visible, clip siblings and children.
    static constexpr DWORD WINDOW_STYLE = 0x56000000;

    CMessageWnd() = default;
    ~CMessageWnd() { Destroy(); }
    CMessageWnd(const CMessageWnd&) = delete;
    CMessageWnd& operator=(const CMessageWnd&) = delete;

    // controller: not owned; the server provider wrapper.
    bool Initialize(IProviderController* controller);
    void Destroy();
    HWND Handle() const { return m_window; }

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static const std::wstring& ClassName();

    HWND m_window = nullptr;
    IProviderController* m_controller = nullptr;
};
