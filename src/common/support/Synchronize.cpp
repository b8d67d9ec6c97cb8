#include "Synchronize.h"
#include "Process.h"
#include "SecurityAttributes.h"

namespace QvCommon {
namespace Synchronize {

bool Event::Create(const std::wstring& name, const Options& options) {
    m_handle.reset();
    std::wstring fullName;
    if (!name.empty()) {
        fullName = KernelObjectName(name, options.global);
        if (fullName.empty()) {
            ::SetLastError(ERROR_INVALID_NAME);
            return false;
        }
    }
    AccessControl::SecurityAttributes security(QVSEC_KIND_EVENT, QVSEC_INTEGRITY_NONE, false);
    HANDLE handle = ::CreateEventW(fullName.empty() ? nullptr : security.Get(),
                                   options.manualReset, options.initialState,
                                   fullName.empty() ? nullptr : fullName.c_str());
    if (!handle) return false;
    m_handle.reset(handle);
    if (options.onlyIfNew && ::GetLastError() == ERROR_ALREADY_EXISTS) {
        m_handle.reset();
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    ::SetLastError(ERROR_SUCCESS);
    return true;
}

bool Event::Set() { return ::SetEvent(m_handle.get()) != FALSE; }

bool Event::Reset() { return ::ResetEvent(m_handle.get()) != FALSE; }

bool Event::Pulse() { return ::PulseEvent(m_handle.get()) != FALSE; }

bool Event::IsSignaled() const {
    return m_handle.valid() && ::WaitForSingleObject(m_handle.get(), 0) == WAIT_OBJECT_0;
}

bool Mutex::Create(const std::wstring& name, bool global) {
    m_handle.reset();
    std::wstring fullName = KernelObjectName(name, global);
    if (fullName.empty()) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    AccessControl::SecurityAttributes security(QVSEC_KIND_MUTEX, QVSEC_INTEGRITY_NONE, false);
    HANDLE handle = ::CreateMutexW(security.Get(), FALSE, fullName.c_str());
    if (!handle) return false;
    m_handle.reset(handle);
    return true;
}

DWORD Mutex::Lock(DWORD milliseconds) {
    return ::WaitForSingleObject(m_handle.get(), milliseconds);
}

} // namespace Synchronize
} // namespace QvCommon
