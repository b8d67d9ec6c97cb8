#pragma once
// The application module: the main thread's id, to which the frame component
// announces new UI threads, and the process-wide lock of the handle table.
#include <windows.h>
#include "Synchronize.h"

class CAppModule {
public:
    static CAppModule& Instance() {
        static CAppModule module;
        return module;
    }
    void Init() { m_mainThreadId = ::GetCurrentThreadId(); }
    void Term() { m_mainThreadId = 0; }
    DWORD MainThreadId() const { return m_mainThreadId; }
    QvCommon::Synchronize::CriticalSection& GlobalLock() { return m_lock; }

private:
    CAppModule() = default;
    DWORD m_mainThreadId = 0;
    QvCommon::Synchronize::CriticalSection m_lock;
};
