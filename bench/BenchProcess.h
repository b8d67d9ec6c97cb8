#pragma once
// A benchmark role in a process of its own: this program started again as
//   ipc_bench <mode> <arguments...> <ready-event> <quit-event>
// which signals Local\<ready-event> once it serves and ends when
// Local\<quit-event> is signalled.
#include <windows.h>
#include <string>
#include "QvHandle.h"

constexpr DWORD START_TIMEOUT_MS = 30000;

HANDLE BenchNamedEvent(const std::wstring& name);

class BenchProcess {
public:
    BenchProcess(const wchar_t* mode, const std::wstring& arguments);
    ~BenchProcess() { Quit(); }
    BenchProcess(const BenchProcess&) = delete;
    BenchProcess& operator=(const BenchProcess&) = delete;

    bool WaitReady();
    // For its figures (times, memory); null when it did not start or has ended.
    HANDLE Handle() const { return m_process.get(); }
    // Asks the process to end; its exit code, or STILL_ACTIVE when it had to be ended.
    DWORD Quit();

private:
    QvCommon::UniqueHandle m_ready, m_quit, m_process;
};
