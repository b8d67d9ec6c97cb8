#pragma once
// One frame: a top-level window on a UI thread of its own. The thread starts
// suspended and makes its window only once someone resumes it; until then,
// and after the window is gone, calls that need the window fail within a
// bounded wait instead of blocking. Work for the window is queued and done on
// its thread, where the window's state belongs.
#include <windows.h>
#include <deque>
#include <memory>
#include <string>

#include "QvHandle.h"
#include "Synchronize.h"

struct FrameSettings {
    bool popup = false;
    std::wstring page;        // loaded when the thread starts; empty: none
    std::wstring title;       // window caption
    std::wstring script;      // run once the page is ready
    std::wstring createLine;  // the journal's first line
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT, width = CW_USEDEFAULT, height = CW_USEDEFAULT;
};

class CFrame {
public:
    enum class Op { Show, Hide, Deactivate, Load, Script };

    explicit CFrame(FrameSettings settings);
    CFrame(const CFrame&) = delete;
    CFrame& operator=(const CFrame&) = delete;

    // Creates the suspended thread; it holds the frame and the module until it ends.
    static HRESULT Start(const std::shared_ptr<CFrame>& frame, DWORD& threadId);
    void Resume();
    // A thread that has not run yet ends as soon as it runs.
    void RequestClose();

    // S_OK once ready, FRAME_E_NOT_FOUND once closed, else a time-out error.
    HRESULT WaitReady(DWORD timeoutMs) const;
    bool WaitClosed(DWORD timeoutMs) const;
    HRESULT Run(Op op, const std::wstring& text, DWORD timeoutMs);

    bool Closed() const;
    bool IsPopup() const { return m_settings.popup; }
    HWND Window() const;
    std::wstring Journal() const;
    std::wstring PaintedText() const;

private:
    struct Command {
        Op op;
        std::wstring text;
        HRESULT result = E_FAIL;
        QvCommon::UniqueHandle done;
    };

    static DWORD WINAPI ThreadProc(void* param);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void RunThread();
    void EndThread() noexcept;
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void RunCommands();
    HRESULT Execute(Op op, const std::wstring& text);
    bool LoadPage(const std::wstring& page);
    void TrackPosition(const WINDOWPOS& pos);
    void Paint(HWND window);
    void Append(const std::wstring& line);
    void MarkClosed();

    const FrameSettings m_settings;
    // Guards what other threads read or queue; the window itself is only
    // touched on the frame's thread.
    mutable QvCommon::Synchronize::CriticalSection m_lock;
    HWND m_window = nullptr;
    DWORD m_threadId = 0;
    bool m_closeRequested = false;
    bool m_closed = false;
    std::wstring m_journal;
    std::wstring m_painted;
    std::deque<std::shared_ptr<Command>> m_commands;
    QvCommon::UniqueHandle m_thread;
    QvCommon::UniqueHandle m_ready;
    QvCommon::UniqueHandle m_closedEvent;
    // The frame's thread only.
    bool m_tracking = false;
    RECT m_lastRect{};
};
