// A child for the launcher, the dump writer and the folder tests: "exit N"
// ends with N, "sleep MS" sleeps first, "folder" writes its own module folder
// to standard output as UTF-16, "crash" installs the dump writer and then
// reads through a null pointer.
#include <windows.h>
#include <cwchar>
#include <string>
#include "CrashDump.h"
#include "Folders.h"

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    const DWORD number = argc > 2 ? wcstoul(argv[2], nullptr, 10) : 0;
    if (mode == L"exit") return static_cast<int>(number);
    if (mode == L"sleep") return static_cast<int>(::SleepEx(number, FALSE));
    if (mode == L"folder") {
        const std::wstring folder = GetModuleFolder();
        DWORD written = 0;
        return ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), folder.c_str(),
                           static_cast<DWORD>(folder.size() * sizeof(wchar_t)), &written, nullptr) ? 0 : 2;
    }
    if (mode != L"crash") return 99;
    // No debugger or error box after the dump: the process just ends.
    ::SetErrorMode(SEM_NOGPFAULTERRORBOX);
    QvCommon::Exception::SEH::Instance().Install();
    volatile int* nowhere = nullptr;
    return *nowhere;
}
