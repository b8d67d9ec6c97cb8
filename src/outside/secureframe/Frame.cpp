#include "Frame.h"

#include <new>

#include "FrameManager.h"
#include "Folders.h"
#include "PageText.h"
#include "SecureFrameConstants.h"
#include "SecureFrameModule.h"

using QvCommon::Synchronize::AutoLock;

namespace {

struct StartBlock {
    std::shared_ptr<CFrame> frame;
    HMODULE module;
};

HANDLE NewManualEvent() { return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }

// Registered once per process; the module takes it away when it unloads, so
// that a later load at another address does not find a stale procedure.
void RegisterFrameClass(WNDPROC procedure) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = SecureFrameModule::Instance();
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = SFRAME_WINDOW_CLASS;
    ::RegisterClassExW(&windowClass);   // already registered by another frame is fine
}

} // namespace

CFrame::CFrame(FrameSettings settings)
    : m_settings(std::move(settings)), m_ready(NewManualEvent()), m_closedEvent(NewManualEvent()) {}

HRESULT CFrame::Start(const std::shared_ptr<CFrame>& frame, DWORD& threadId) {
    if (!frame->m_ready || !frame->m_closedEvent) return HRESULT_FROM_WIN32(::GetLastError());
    // The thread's own reference on the module: it is given back by the
    // thread's last call, so no unload can pull the code from under it.
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&CFrame::ThreadProc),
                              &module))
        return HRESULT_FROM_WIN32(::GetLastError());
    auto* start = new (std::nothrow) StartBlock{frame, module};
    if (!start) { ::FreeLibrary(module); return E_OUTOFMEMORY; }
    AutoLock lock(frame->m_lock);
    frame->m_thread.reset(::CreateThread(nullptr, 0, &CFrame::ThreadProc, start, CREATE_SUSPENDED, &threadId));
    if (!frame->m_thread) {
        HRESULT result = HRESULT_FROM_WIN32(::GetLastError());
        delete start;
        ::FreeLibrary(module);
        return result;
    }
    frame->m_threadId = threadId;
    SecureFrameModule::ThreadStarted();
    return S_OK;
}

void CFrame::Resume() { ::ResumeThread(m_thread.get()); }

DWORD WINAPI CFrame::ThreadProc(void* param) {
    HMODULE module = static_cast<StartBlock*>(param)->module;
    {
        std::unique_ptr<StartBlock> start(static_cast<StartBlock*>(param));
        try {
            start->frame->RunThread();
        } catch (...) {
            // Nothing leaves the thread; the frame just ends.
        }
        start->frame->EndThread();
    }
    SecureFrameModule::ThreadEnded();
    ::FreeLibraryAndExitThread(module, 0);
    return 0;
}

void CFrame::RunThread() {
    {
        AutoLock lock(m_lock);
        if (m_closeRequested) { m_journal += L"close\n"; return; }
    }
    RegisterFrameClass(&CFrame::WindowProc);
    HWND window = ::CreateWindowExW(0, SFRAME_WINDOW_CLASS, m_settings.title.c_str(), WS_OVERLAPPEDWINDOW,
                                    m_settings.x, m_settings.y, m_settings.width, m_settings.height, nullptr,
                                    nullptr, SecureFrameModule::Instance(), this);
    if (!window) return;
    ::GetWindowRect(window, &m_lastRect);
    m_tracking = true;
    Append(m_settings.createLine);
    {
        AutoLock lock(m_lock);
        m_window = window;
        m_painted = m_settings.title;
        if (m_closeRequested) ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (!m_settings.page.empty()) LoadPage(m_settings.page);
    if (!m_settings.script.empty()) Execute(Op::Script, m_settings.script);
    // A browser frame is there to be seen, once ready; other frames wait to be shown.
    if (m_settings.popup) Execute(Op::Show, std::wstring());
    ::SetEvent(m_ready.get());
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        // A thread the agent could not adopt is told to close by a thread message.
        if (!message.hwnd && message.message == WM_CLOSE) {
            ::PostMessageW(window, WM_CLOSE, 0, 0);
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void CFrame::EndThread() noexcept {
    std::deque<std::shared_ptr<Command>> abandoned;
    {
        AutoLock lock(m_lock);
        m_closed = true;
        m_window = nullptr;
        abandoned.swap(m_commands);
        for (auto& command : abandoned) {
            command->result = FRAME_E_NOT_FOUND;
            ::SetEvent(command->done.get());
        }
    }
    ::SetEvent(m_closedEvent.get());
}

// Calls are refused from here on; the closed event waits for the end of the
// thread, when the window is really gone.
void CFrame::MarkClosed() {
    AutoLock lock(m_lock);
    m_closed = true;
    m_window = nullptr;
}

void CFrame::RequestClose() {
    AutoLock lock(m_lock);
    m_closeRequested = true;
    if (m_window) ::PostMessageW(m_window, WM_CLOSE, 0, 0);
}

HRESULT CFrame::WaitReady(DWORD timeoutMs) const {
    if (Closed()) return FRAME_E_NOT_FOUND;
    // The closed event comes first: a closed frame was ready once, too.
    HANDLE events[] = {m_closedEvent.get(), m_ready.get()};
    switch (::WaitForMultipleObjects(2, events, FALSE, timeoutMs)) {
    case WAIT_OBJECT_0: return FRAME_E_NOT_FOUND;
    case WAIT_OBJECT_0 + 1: return S_OK;
    case WAIT_TIMEOUT: return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    default: return HRESULT_FROM_WIN32(::GetLastError());
    }
}

bool CFrame::WaitClosed(DWORD timeoutMs) const {
    return ::WaitForSingleObject(m_closedEvent.get(), timeoutMs) == WAIT_OBJECT_0;
}

HRESULT CFrame::Run(Op op, const std::wstring& text, DWORD timeoutMs) {
    HRESULT result = WaitReady(timeoutMs);
    if (FAILED(result)) return result;
    if (::GetCurrentThreadId() == m_threadId) return Execute(op, text);   // a call from the frame's own page
    auto command = std::make_shared<Command>();
    command->op = op;
    command->text = text;
    command->done.reset(NewManualEvent());
    if (!command->done) return HRESULT_FROM_WIN32(::GetLastError());
    {
        AutoLock lock(m_lock);
        if (m_closed || !m_window) return FRAME_E_NOT_FOUND;
        m_commands.push_back(command);
        if (!::PostMessageW(m_window, SFRAME_MSG_COMMANDS, 0, 0)) {
            m_commands.pop_back();
            return HRESULT_FROM_WIN32(::GetLastError());
        }
    }
    // The command stays shared with the queue: a late run after a time-out
    // still finds it.
    if (::WaitForSingleObject(command->done.get(), timeoutMs) != WAIT_OBJECT_0) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    AutoLock lock(m_lock);
    return command->result;
}

void CFrame::RunCommands() {
    for (;;) {
        std::shared_ptr<Command> command;
        {
            AutoLock lock(m_lock);
            if (m_commands.empty()) return;
            command = m_commands.front();
            m_commands.pop_front();
        }
        HRESULT result = E_FAIL;
        try {
            result = Execute(command->op, command->text);
        } catch (const std::bad_alloc&) {
            result = E_OUTOFMEMORY;
        } catch (...) {
        }
        AutoLock lock(m_lock);
        command->result = result;
        ::SetEvent(command->done.get());
    }
}

HRESULT CFrame::Execute(Op op, const std::wstring& text) {
    HWND window = Window();
    switch (op) {
    case Op::Show:
        ::ShowWindow(window, SW_SHOW);
        Append(L"show");
        return S_OK;
    case Op::Hide:
        ::ShowWindow(window, SW_HIDE);
        Append(L"hide");
        return S_OK;
    case Op::Deactivate:
        // Behind every other window, and the foreground handed on, so the
        // window stays as it is but no longer takes the user's input.
        ::SetWindowPos(window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (::GetForegroundWindow() == window) ::SetForegroundWindow(::GetDesktopWindow());
        Append(L"deactivate");
        return S_OK;
    case Op::Load:
        Append(LoadPage(text) ? L"load " + text : L"load " + text + L" (page not found)");
        return S_OK;
    case Op::Script:
        // No script engine: the script is recorded, as a page would receive it.
        Append(L"script " + text);
        return S_OK;
    }
    return E_INVALIDARG;
}

bool CFrame::LoadPage(const std::wstring& page) {
    std::wstring html;
    const bool found = ReadPage(ResolvePage(page, Frwk::Utility::GetInstalledFolder()), html);
    PageText text = found ? ExtractPageText(html) : PageText{page, SFRAME_PAGE_NOT_FOUND};
    {
        AutoLock lock(m_lock);
        m_painted = text.title + L"\n" + text.body;
    }
    HWND window = Window();
    if (m_settings.title.empty() && !text.title.empty()) ::SetWindowTextW(window, text.title.c_str());
    ::InvalidateRect(window, nullptr, TRUE);
    return found;
}

LRESULT CALLBACK CFrame::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* frame = reinterpret_cast<CFrame*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!frame) return ::DefWindowProcW(window, message, wParam, lParam);
    try {
        return frame->HandleMessage(window, message, wParam, lParam);
    } catch (...) {
        // An exception must not unwind through the system's dispatcher.
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CFrame::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case SFRAME_MSG_COMMANDS:
        RunCommands();
        return 0;
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_WINDOWPOSCHANGED:
        TrackPosition(*reinterpret_cast<const WINDOWPOS*>(lParam));
        break;
    case WM_DESTROY:
        Append(L"close");
        MarkClosed();
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void CFrame::TrackPosition(const WINDOWPOS& pos) {
    if (!m_tracking) return;
    if (!(pos.flags & SWP_NOMOVE) && (pos.x != m_lastRect.left || pos.y != m_lastRect.top)) {
        Append(L"move " + std::to_wstring(pos.x) + L"," + std::to_wstring(pos.y));
        ::OffsetRect(&m_lastRect, pos.x - m_lastRect.left, pos.y - m_lastRect.top);
    }
    if (!(pos.flags & SWP_NOSIZE) &&
        (pos.cx != m_lastRect.right - m_lastRect.left || pos.cy != m_lastRect.bottom - m_lastRect.top)) {
        Append(L"size " + std::to_wstring(pos.cx) + L"," + std::to_wstring(pos.cy));
        m_lastRect.right = m_lastRect.left + pos.cx;
        m_lastRect.bottom = m_lastRect.top + pos.cy;
    }
}

void CFrame::Paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(window, &paint);
    RECT area;
    ::GetClientRect(window, &area);
    std::wstring text = PaintedText();
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    ::EndPaint(window, &paint);
}

// Long-lived frames and callers' long scripts must not grow the journal
// without end: the oldest lines go first, and the journal starts at a line.
void CFrame::Append(const std::wstring& line) {
    AutoLock lock(m_lock);
    m_journal += line;
    m_journal += L'\n';
    if (m_journal.size() <= SFRAME_JOURNAL_MAX_CHARS) return;
    const size_t cut = m_journal.size() - SFRAME_JOURNAL_MAX_CHARS;
    const size_t lineEnd = m_journal.find(L'\n', cut - 1);
    // One line longer than the bound keeps its tail.
    m_journal.erase(0, lineEnd + 1 < m_journal.size() ? lineEnd + 1 : cut);
}

bool CFrame::Closed() const {
    AutoLock lock(m_lock);
    return m_closed;
}

HWND CFrame::Window() const {
    AutoLock lock(m_lock);
    return m_window;
}

std::wstring CFrame::Journal() const {
    AutoLock lock(m_lock);
    return m_journal;
}

std::wstring CFrame::PaintedText() const {
    AutoLock lock(m_lock);
    return m_painted;
}
