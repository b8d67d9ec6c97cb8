#include "LogFileName.h"

#include <vector>

namespace QvDbg {
namespace {

const wchar_t* const DEFAULT_SUBFOLDER = L"QvDbg";   // below the temp folder
const wchar_t* const FALLBACK_NAME = L"QvDbg";       // no "LogFile" and no module name
const wchar_t* const DEFAULT_EXTENSION = L"log";
const wchar_t* const FORBIDDEN_CHARACTERS = L"<>:\"/\\|?*";

// Calls a "fill this buffer, tell me the size you need" function until the
// text fits. Both Windows functions used here count the terminator when the
// buffer is too small.
template <typename Fill>
std::wstring GrowToFit(Fill fill) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD needed = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (needed == 0) return std::wstring();
        if (needed < buffer.size()) return std::wstring(buffer.data());
        buffer.assign(needed + 1, L'\0');
    }
}

std::wstring ExpandEnvironment(const std::wstring& text) {
    return GrowToFit([&](wchar_t* buffer, DWORD size) {
        // The result counts the terminator, so a fit is a result <= size.
        DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), buffer, size);
        return needed != 0 && needed <= size ? needed - 1 : needed;
    });
}

std::wstring FullPath(const std::wstring& path) {
    return GrowToFit([&](wchar_t* buffer, DWORD size) {
        return ::GetFullPathNameW(path.c_str(), size, buffer, nullptr);
    });
}

std::wstring TempFolder() {
    return GrowToFit([](wchar_t* buffer, DWORD size) { return ::GetTempPathW(size, buffer); });
}

bool IsDriveRoot(const std::wstring& path) {
    return path.size() == 3 && path[1] == L':' && path[2] == L'\\';
}

} // namespace

std::wstring ResolveFolder(const std::wstring& configured) {
    std::wstring folder;
    if (configured.empty()) {
        folder = TempFolder();
        if (folder.empty()) return folder;
        if (folder.back() != L'\\') folder += L'\\';
        folder += DEFAULT_SUBFOLDER;
    } else {
        folder = ExpandEnvironment(configured);
    }
    // Relative folders are taken from the current folder at initialisation, so
    // that a later change of it does not move the log.
    if (folder.empty()) return folder;
    folder = FullPath(folder);
    while (folder.size() > 1 && folder.back() == L'\\' && !IsDriveRoot(folder)) folder.pop_back();
    return folder;
}

FileNameParts NameParts(const QvDbgConfig& config, DWORD processId) {
    FileNameParts parts;
    parts.prefix = SafeFileNamePart(FieldText(config.logPrefix));
    parts.name = SafeFileNamePart(FieldText(config.logFile));
    if (parts.name.empty()) parts.name = SafeFileNamePart(FieldText(config.moduleName));
    if (parts.name.empty()) parts.name = FALLBACK_NAME;
    std::wstring extension = FieldText(config.logExtension);
    size_t start = extension.find_first_not_of(L'.');
    parts.extension = start == std::wstring::npos ? std::wstring()
                                                  : SafeFileNamePart(extension.substr(start));
    if (parts.extension.empty()) parts.extension = DEFAULT_EXTENSION;
    if (config.logProcess != 0) parts.processId = processId;
    return parts;
}

std::wstring BuildFileName(const FileNameParts& parts, const SYSTEMTIME& day) {
    wchar_t date[16];
    _snwprintf_s(date, _countof(date), _TRUNCATE, L"%04u-%02u-%02u", day.wYear, day.wMonth,
                 day.wDay);
    std::wstring name;
    if (!parts.prefix.empty()) name = parts.prefix + L'_';
    name += parts.name + L'_' + date;
    if (parts.processId != 0) name += L"_pid" + std::to_wstring(parts.processId);
    return name + L'.' + parts.extension;
}

std::wstring SafeFileNamePart(const std::wstring& text) {
    std::wstring safe = text;
    for (wchar_t& c : safe)
        if (c < L' ' || std::wcschr(FORBIDDEN_CHARACTERS, c)) c = L'_';
    return safe;
}

} // namespace QvDbg
