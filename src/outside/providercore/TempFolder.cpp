#include "TempFolder.h"

#include <windows.h>
#include <vector>

std::wstring GetTempFolder() {
    // The answer is the length written, or the size needed when the buffer
    // was too small, or 0 on failure; TMP may be longer than MAX_PATH.
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return std::wstring();
        if (length < buffer.size()) {
            std::wstring folder(buffer.data(), length);
            if (folder.back() != L'\\') folder += L'\\';
            return folder;
        }
        buffer.resize(length + 1);
    }
    return std::wstring();   // the variable kept growing between the calls
}
