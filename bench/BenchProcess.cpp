#include "BenchProcess.h"

#include <atomic>

HANDLE BenchNamedEvent(const std::wstring& name) {
    return ::CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + name).c_str());
}

BenchProcess::BenchProcess(const wchar_t* mode, const std::wstring& arguments) {
    static std::atomic<unsigned> s_counter{0};
    const std::wstring tag = std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++s_counter);
    m_ready.reset(BenchNamedEvent(L"kelbench_ready_" + tag));
    m_quit.reset(BenchNamedEvent(L"kelbench_quit_" + tag));
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = std::wstring(L"\"") + self + L"\" " + mode + L" " + arguments + L" kelbench_ready_" +
                           tag + L" kelbench_quit_" + tag;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        m_process.reset(info.hProcess);
        ::CloseHandle(info.hThread);
    }
}

bool BenchProcess::WaitReady() {
    if (!m_process) return false;
    const HANDLE waits[] = {m_ready.get(), m_process.get()};
    return ::WaitForMultipleObjects(2, waits, FALSE, START_TIMEOUT_MS) == WAIT_OBJECT_0;
}

DWORD BenchProcess::Quit() {
    if (!m_process) return STILL_ACTIVE;
    ::SetEvent(m_quit.get());
    DWORD code = STILL_ACTIVE;
    if (::WaitForSingleObject(m_process.get(), 15000) == WAIT_OBJECT_0) ::GetExitCodeProcess(m_process.get(), &code);
    else ::TerminateProcess(m_process.get(), 1);
    m_process.reset();
    return code;
}
