// Stands in for the browsers and the URL handler that the workspace starts:
// writes its command line, one line each, into the file that the variable
// KEL_LAUNCH_RECORD names. "wait EVENT" waits (at most 30 s) until the event
// (without "Local\") is set; "spawn EVENT" starts itself with "wait EVENT",
// prints the child's process id and waits for it, as a browser's main
// process with one tab process.
#include <windows.h>
#include <cstdio>
#include <string>
#include "JsonBody.h"
#include "QvHandle.h"

namespace {
constexpr DWORD WAIT_MS = 30000;

int Record() {
    wchar_t path[MAX_PATH] = {};
    if (!::GetEnvironmentVariableW(L"KEL_LAUNCH_RECORD", path, MAX_PATH)) return 2;
    QvCommon::UniqueHandle file(::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string line = KelJson::ToUtf8(::GetCommandLineW()) + "\n";
    DWORD written = 0;
    return file && ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ? 0 : 3;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc >= 3 ? argv[1] : L"";
    if (mode != L"wait" && mode != L"spawn") return Record();
    const std::wstring event = argv[2];
    if (mode == L"wait") {
        QvCommon::UniqueHandle done(::OpenEventW(SYNCHRONIZE, FALSE, (L"Local\\" + event).c_str()));
        return done && ::WaitForSingleObject(done.get(), WAIT_MS) == WAIT_OBJECT_0 ? 0 : 4;
    }
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" wait " + event;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) return 5;
    QvCommon::UniqueHandle process(child.hProcess), thread(child.hThread);
    printf("%lu\n", static_cast<unsigned long>(child.dwProcessId));
    fflush(stdout);
    return ::WaitForSingleObject(process.get(), WAIT_MS) == WAIT_OBJECT_0 ? 0 : 6;
}
