#include "TestNames.h"

#include <atomic>

namespace KelTest {

std::wstring UniqueName(const std::wstring& base) {
    static std::atomic<unsigned> s_counter{0};
    return base + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           std::to_wstring(::GetTickCount()) + L"_" + std::to_wstring(++s_counter);
}

std::wstring ProgramFolder() {
    wchar_t self[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self, length);
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

std::wstring Argument(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
        } else {
            if (c == L'"') quoted.append(backslashes + 1, L'\\');
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, L'\\');   // before the closing quote
    return quoted + L"\"";
}

} // namespace KelTest
