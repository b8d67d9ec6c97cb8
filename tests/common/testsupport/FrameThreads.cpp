#include "FrameThreads.h"

#include "TestWait.h"

namespace KelTest {

FrameThreads::FrameThreads(Adopt adopt)
    : m_adopt(adopt), m_started(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_thread([this] { Loop(); }) {
    ::WaitForSingleObject(m_started.get(), CHILD_START_MS);
}

FrameThreads::~FrameThreads() {
    ::PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
    m_thread.join();
}

void FrameThreads::Loop() {
    MSG message;
    // The queue must exist before anyone is told of the thread.
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    m_threadId = ::GetCurrentThreadId();
    ::SetEvent(m_started.get());
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == FRAME_NOTIFY_MESSAGE)
            AdoptThread(message.wParam, static_cast<DWORD>(message.lParam));
    }
}

void FrameThreads::AdoptThread(WPARAM kind, DWORD threadId) {
    QvCommon::UniqueHandle thread(::OpenThread(THREAD_SUSPEND_RESUME | SYNCHRONIZE, FALSE, threadId));
    // Recorded before it runs: a request that made the frame returns only after that.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_announcements.push_back({kind, threadId});
    if (thread && m_adopt == Adopt::Resume) ::ResumeThread(thread.get());
    m_handles[threadId] = std::move(thread);
}

HRESULT FrameThreads::Attach(FrameManager* manager) const {
    return manager->SetNotifyThread(m_threadId, FRAME_NOTIFY_MESSAGE);
}

std::vector<FrameThreads::Announcement> FrameThreads::Announcements() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_announcements;
}

bool FrameThreads::WaitAnnounced(DWORD threadId, Announcement* found, DWORD timeoutMs) const {
    return WaitUntil([&] {
        for (const auto& announcement : Announcements()) {
            if (announcement.threadId != threadId) continue;
            if (found) *found = announcement;
            return true;
        }
        return false;
    }, timeoutMs);
}

bool FrameThreads::Resume(DWORD threadId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto handle = m_handles.find(threadId);
    return handle != m_handles.end() && ::ResumeThread(handle->second.get()) != static_cast<DWORD>(-1);
}

bool FrameThreads::WaitEnded(DWORD threadId, DWORD timeoutMs) const {
    HANDLE thread = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto handle = m_handles.find(threadId);
        if (handle == m_handles.end()) return false;
        thread = handle->second.get();
    }
    return ::WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
}

FrameComponent::FrameComponent() : m_module(::LoadLibraryW(L"SecureFrame.dll")) {
    if (!m_module) return;
    m_getClassObject = reinterpret_cast<GetClassObjectProc>(
        reinterpret_cast<void*>(::GetProcAddress(m_module, "DllGetClassObject")));
}

HRESULT FrameComponent::CreateManager(QvCommon::UniqueCom<FrameManager>& manager) const {
    if (!m_getClassObject) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    QvCommon::UniqueCom<IClassFactory> factory;
    HRESULT result = m_getClassObject(CLSID_FrameManager, IID_IClassFactory, reinterpret_cast<void**>(factory.put()));
    if (FAILED(result)) return result;
    return factory.get()->CreateInstance(nullptr, IID_FrameManager, reinterpret_cast<void**>(manager.put()));
}

std::wstring FrameComponent::Journal(FrameManager* manager, DWORD frameId) {
    QvCommon::UniqueCom<IFrameInspector> inspector;
    if (FAILED(manager->QueryInterface(IID_IFrameInspector, reinterpret_cast<void**>(inspector.put())))) return L"?";
    QvCommon::UniqueBstr text;
    if (FAILED(inspector.get()->GetJournal(frameId, text.put()))) return L"?";
    return std::wstring(text.get(), ::SysStringLen(text.get()));
}

} // namespace KelTest
