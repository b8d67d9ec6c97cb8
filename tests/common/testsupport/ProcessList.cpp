#include "ProcessList.h"

#include <tlhelp32.h>
#include "QvHandle.h"

namespace KelTest {

std::vector<DWORD> ProcessesNamed(const std::wstring& program) {
    std::vector<DWORD> found;
    QvCommon::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W process = {};
    process.dwSize = sizeof(process);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &process); more; more = ::Process32NextW(snapshot.get(), &process))
        if (::lstrcmpiW(process.szExeFile, program.c_str()) == 0) found.push_back(process.th32ProcessID);
    return found;
}

std::vector<DWORD> ThreadsOf(DWORD processId) {
    std::vector<DWORD> threads;
    QvCommon::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 thread = {};
    thread.dwSize = sizeof(thread);
    for (BOOL more = ::Thread32First(snapshot.get(), &thread); more; more = ::Thread32Next(snapshot.get(), &thread))
        if (thread.th32OwnerProcessID == processId) threads.push_back(thread.th32ThreadID);
    return threads;
}

} // namespace KelTest
