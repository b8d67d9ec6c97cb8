// The entry points of the tracing library: sessions by handle, each writing
// the texts it is given to its own log files.
#include <windows.h>
#include <map>
#include <memory>
#include <new>
#include <type_traits>
#include "LogSession.h"
#include "QvDbgConfig.h"

extern "C" {
DWORD WINAPI QvDbgInitialize(DWORD* handle, const QvDbgConfig* config);
DWORD WINAPI QvDbgTrace(DWORD handle, const SYSTEMTIME* localTime, const WCHAR* text);
DWORD WINAPI QvDbgUninitialize(DWORD handle);
}

static_assert(std::is_same<decltype(&QvDbgInitialize), PFN_QvDbgInitialize>::value, "signature");
static_assert(std::is_same<decltype(&QvDbgTrace), PFN_QvDbgTrace>::value, "signature");
static_assert(std::is_same<decltype(&QvDbgUninitialize), PFN_QvDbgUninitialize>::value,
              "signature");

namespace {

using QvDbg::CLogSession;

// Guards the session table and every write: texts of one process reach the
// files one at a time.
SRWLOCK s_lock = SRWLOCK_INIT;
std::map<DWORD, std::unique_ptr<CLogSession>> s_sessions;
DWORD s_lastHandle = 0;

class ExclusiveLock {
public:
    ExclusiveLock() { ::AcquireSRWLockExclusive(&s_lock); }
    ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&s_lock); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
};

// Never 0, never one in use.
DWORD NextHandle() {
    do {
        ++s_lastHandle;
    } while (s_lastHandle == 0 || s_sessions.count(s_lastHandle) != 0);
    return s_lastHandle;
}

} // namespace

// Nothing may leave these functions but a result code.
DWORD WINAPI QvDbgInitialize(DWORD* handle, const QvDbgConfig* config) {
    if (!handle) return ERROR_INVALID_PARAMETER;
    *handle = 0;
    if (!config) return ERROR_INVALID_PARAMETER;
    try {
        std::unique_ptr<CLogSession> session;
        DWORD error = CLogSession::Create(*config, session);
        if (error != 0) return error;
        ExclusiveLock lock;
        DWORD id = NextHandle();
        s_sessions.emplace(id, std::move(session));
        *handle = id;
        return 0;
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD WINAPI QvDbgTrace(DWORD handle, const SYSTEMTIME* localTime, const WCHAR* text) {
    if (!localTime || !text) return ERROR_INVALID_PARAMETER;
    try {
        ExclusiveLock lock;
        auto found = s_sessions.find(handle);
        if (found == s_sessions.end()) return ERROR_INVALID_HANDLE;
        return found->second->Trace(*localTime, text);
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD WINAPI QvDbgUninitialize(DWORD handle) {
    std::unique_ptr<CLogSession> session;
    {
        ExclusiveLock lock;
        auto found = s_sessions.find(handle);
        if (found == s_sessions.end()) return ERROR_INVALID_HANDLE;
        session = std::move(found->second);
        s_sessions.erase(found);
    }
    return 0;
}
