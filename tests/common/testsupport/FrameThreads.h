#pragma once
// The frame component as the agent meets it: SecureFrame.dll loaded from the
// binary folder and asked for a FrameManager, and a stand-in for the agent's
// main loop that adopts the UI threads the component announces.
#include <windows.h>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FrameInspector.h"
#include "FrameManager.h"
#include "QvHandle.h"

namespace KelTest {

// The window's caption, as the user reads it.
inline std::wstring Caption(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

// A thread with a message queue, given to the component as its notify
// thread. It records every announcement and, unless told to hold them,
// resumes the announced thread at once, as the agent's main loop does.
class FrameThreads {
public:
    enum class Adopt { Resume, Hold };
    struct Announcement {
        WPARAM kind;
        DWORD threadId;
    };

    explicit FrameThreads(Adopt adopt = Adopt::Resume);
    ~FrameThreads();
    FrameThreads(const FrameThreads&) = delete;
    FrameThreads& operator=(const FrameThreads&) = delete;

    DWORD ThreadId() const { return m_threadId; }
    // SetNotifyThread with this thread and the agent's message number.
    HRESULT Attach(FrameManager* manager) const;
    // False when that thread was not announced within the time.
    bool WaitAnnounced(DWORD threadId, Announcement* found = nullptr, DWORD timeoutMs = 10000) const;
    std::vector<Announcement> Announcements() const;
    // Resumes a held thread; false when it was never announced.
    bool Resume(DWORD threadId);
    // True when the announced thread has ended within the time.
    bool WaitEnded(DWORD threadId, DWORD timeoutMs) const;

private:
    void Loop();
    void AdoptThread(WPARAM kind, DWORD threadId);

    const Adopt m_adopt;
    DWORD m_threadId = 0;
    QvCommon::UniqueHandle m_started;
    mutable std::mutex m_mutex;
    std::vector<Announcement> m_announcements;
    std::map<DWORD, QvCommon::UniqueHandle> m_handles;
    std::thread m_thread;
};

// SecureFrame.dll from the binary folder. The library stays loaded for the
// process, as the agent keeps it.
class FrameComponent {
public:
    FrameComponent();
    bool Loaded() const { return m_getClassObject != nullptr; }
    // DllGetClassObject, CreateInstance for FrameManager, the factory released.
    HRESULT CreateManager(QvCommon::UniqueCom<FrameManager>& manager) const;

    // What the frame did, read through the manager's inspector.
    static std::wstring Journal(FrameManager* manager, DWORD frameId);

private:
    using GetClassObjectProc = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    HMODULE m_module = nullptr;
    GetClassObjectProc m_getClassObject = nullptr;
};

} // namespace KelTest
