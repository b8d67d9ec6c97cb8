#pragma once
// Counts the users of a shared object under a lock. The count never wraps:
// an AddRef at the upper limit and a Release at 0 are logged and change
// nothing, so a stray Release cannot make the next user look like the last.
#include <windows.h>
#include <cstdint>
#include "QvLog.h"
#include "Synchronize.h"

class ReferenceCount {
public:
    ReferenceCount() = default;
    virtual ~ReferenceCount() = default;
    ReferenceCount(const ReferenceCount&) = delete;
    ReferenceCount& operator=(const ReferenceCount&) = delete;

    uint32_t AddRef() {
        QvCommon::Synchronize::AutoLock lock(m_countLock);
        if (m_count < UINT32_MAX) ++m_count;
        else QVLOG(QVLOG_ERROR, L"***ReferenceCount::AddRef() - Reference Count was the upper limit.");
        return m_count;
    }

    uint32_t Release() {
        QvCommon::Synchronize::AutoLock lock(m_countLock);
        if (m_count > 0) --m_count;
        else QVLOG(QVLOG_ERROR, L"***ReferenceCount::AddRef() - Reference Count was the lower limit.");
        return m_count;
    }

    uint32_t GetCount() {
        QvCommon::Synchronize::AutoLock lock(m_countLock);
        return m_count;
    }

    void ResetCount() {
        QvCommon::Synchronize::AutoLock lock(m_countLock);
        m_count = 0;
    }

private:
    QvCommon::Synchronize::CriticalSection m_countLock;
    uint32_t m_count = 0;
};
