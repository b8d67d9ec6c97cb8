// Writes the module folder of its own executable to standard output as UTF-16
// and exits with 0, so that tests can start it from any folder.
#include <windows.h>

#include "Folders.h"

int main() {
    const std::wstring folder = GetModuleFolder();
    if (folder.empty()) return 1;
    DWORD written = 0;
    if (!::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), folder.c_str(),
                     static_cast<DWORD>(folder.size() * sizeof(wchar_t)), &written, nullptr))
        return 2;
    return 0;
}
