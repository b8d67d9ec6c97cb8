#pragma once
// Locks and kernel objects of the common library: a re-entrant critical
// section with its scope guard, the in-house event object and named mutexes.
#include <windows.h>
#include <string>
#include "QvHandle.h"

namespace QvCommon {
namespace Synchronize {

// Re-entrant: the owning thread may enter again.
class CriticalSection {
public:
    CriticalSection() { ::InitializeCriticalSection(&m_section); }
    ~CriticalSection() { ::DeleteCriticalSection(&m_section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter() { ::EnterCriticalSection(&m_section); }
    void Leave() { ::LeaveCriticalSection(&m_section); }
    bool TryEnter() { return ::TryEnterCriticalSection(&m_section) != FALSE; }
private:
    CRITICAL_SECTION m_section;
};

class AutoLock {
public:
    explicit AutoLock(CriticalSection& lock) : m_lock(lock) { m_lock.Enter(); }
    ~AutoLock() { m_lock.Leave(); }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;
private:
    CriticalSection& m_lock;
};

// The in-house event object. Named events live in the global or the session's
// local namespace; with onlyIfNew the creation fails (ERROR_ALREADY_EXISTS)
// when an object of that name exists, which lets one process at a time own a
// name.
class Event {
public:
    struct Options {
        bool global = false;
        bool manualReset = true;
        bool initialState = false;
        bool onlyIfNew = false;
    };

    Event() = default;
    // An empty name makes an unnamed event. On failure returns false and the
    // Windows error is the thread's last error.
    bool Create(const std::wstring& name, const Options& options);
    bool Create(const std::wstring& name = std::wstring()) { return Create(name, Options()); }
    void Close() { m_handle.reset(); }

    bool Set();
    bool Reset();
    bool Pulse();
    // A zero-time wait succeeds.
    bool IsSignaled() const;
    DWORD Wait(DWORD milliseconds) const { return ::WaitForSingleObject(m_handle.get(), milliseconds); }

    HANDLE Handle() const { return m_handle.get(); }
    bool IsValid() const { return m_handle.valid(); }

private:
    UniqueHandle m_handle;
};

// A named mutex, not owned at creation, opened when it exists already.
class Mutex {
public:
    Mutex() = default;
    bool Create(const std::wstring& name, bool global);
    // WAIT_OBJECT_0 when acquired; WAIT_ABANDONED, WAIT_TIMEOUT or WAIT_FAILED otherwise
    // (an abandoned mutex is owned all the same and must be released).
    DWORD Lock(DWORD milliseconds = INFINITE);
    bool Unlock() { return ::ReleaseMutex(m_handle.get()) != FALSE; }
    HANDLE Handle() const { return m_handle.get(); }
    bool IsValid() const { return m_handle.valid(); }
private:
    UniqueHandle m_handle;
};

} // namespace Synchronize
} // namespace QvCommon
