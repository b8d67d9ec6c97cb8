#include "Process.h"
#include "Library.h"
#include "QvHandle.h"
#include "Version.h"

#include <vector>

namespace QvCommon {
namespace {

constexpr DWORD ERROR_WORD_NOT_SUPPORTED = ERROR_NOT_SUPPORTED;   // 50
constexpr DWORD ERROR_WORD_NO_ENTRY = ERROR_INVALID_HANDLE;       // 6
constexpr DWORD LOW_INTEGRITY_RID = SECURITY_MANDATORY_LOW_RID;   // 0x1000

void SetErrorWord(DWORD* error, DWORD value) {
    if (error) *error = value;
}

// Checks the predicate a bound function needs; false with the error word set
// when the call must not be made.
bool VersionAllows(DWORD predicate, DWORD* error) {
    if (predicate == 0) return true;
    if (Version::GetError() != 0) { SetErrorWord(error, Version::GetError()); return false; }
    if (!Version::Check(predicate)) { SetErrorWord(error, ERROR_WORD_NOT_SUPPORTED); return false; }
    return true;
}

// Loads a system DLL for the length of one call and resolves one entry point.
class BoundFunction {
public:
    BoundFunction(const wchar_t* dll, const char* entry)
        : m_module(::LoadLibraryW(dll)) {
        if (!m_module) { m_error = ::GetLastError(); return; }
        m_entry = ::GetProcAddress(m_module.get(), entry);
        if (!m_entry) m_error = ERROR_WORD_NO_ENTRY;
    }
    template <typename Fn> Fn As() const { return Library::EntryPointCast<Fn>(m_entry); }
    bool Ok() const { return m_entry != nullptr; }
    DWORD Error() const { return m_error; }
private:
    UniqueModule m_module;
    FARPROC m_entry = nullptr;
    DWORD m_error = 0;
};

} // namespace

namespace Process {

bool IsWow64ModeProcess(DWORD* error) {
    SetErrorWord(error, 0);
    BoundFunction fn(L"kernel32.dll", "IsWow64Process");
    if (!fn.Ok()) { SetErrorWord(error, fn.Error()); return false; }
    BOOL wow64 = FALSE;
    if (!fn.As<BOOL(WINAPI*)(HANDLE, PBOOL)>()(::GetCurrentProcess(), &wow64)) {
        SetErrorWord(error, ::GetLastError());
        return false;
    }
    return wow64 != FALSE;
}

DWORD GetCurrentSessionId(DWORD* error) {
    DWORD session = 0xFFFFFFFF;
    SetErrorWord(error, 0);
    if (!VersionAllows(QVVER_NT5_OR_LATER, error)) return session;
    BoundFunction fn(L"kernel32.dll", "ProcessIdToSessionId");
    if (!fn.Ok()) { SetErrorWord(error, fn.Error()); return session; }
    if (!fn.As<BOOL(WINAPI*)(DWORD, DWORD*)>()(::GetCurrentProcessId(), &session)) {
        SetErrorWord(error, ::GetLastError());
        return 0xFFFFFFFF;
    }
    return session;
}

bool IsLocalSystem(HANDLE token, DWORD* error) {
    SetErrorWord(error, 0);
    if (!VersionAllows(QVVER_NT5_OR_LATER, error)) return false;
    BoundFunction create(L"advapi32.dll", "CreateWellKnownSid");
    if (!create.Ok()) { SetErrorWord(error, create.Error()); return false; }
    BoundFunction check(L"advapi32.dll", "CheckTokenMembership");
    if (!check.Ok()) { SetErrorWord(error, check.Error()); return false; }

    BYTE sid[SECURITY_MAX_SID_SIZE] = {};   // 68 bytes
    DWORD sidSize = sizeof(sid);
    if (!create.As<BOOL(WINAPI*)(WELL_KNOWN_SID_TYPE, PSID, PSID, DWORD*)>()(
            WinLocalSystemSid, nullptr, sid, &sidSize)) {
        SetErrorWord(error, ::GetLastError());
        return false;
    }
    BOOL member = FALSE;
    if (!check.As<BOOL(WINAPI*)(HANDLE, PSID, PBOOL)>()(token, sid, &member)) {
        SetErrorWord(error, ::GetLastError());
        return false;
    }
    return member != FALSE;
}

bool IsLowIntegrity() {
    if (Version::GetError() != 0 || !Version::Check(QVVER_NT6_OR_LATER)) return false;
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenIntegrityLevel,
                                            buffer.data(), size, &size)) {
        return false;
    }
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
    DWORD rid = *::GetSidSubAuthority(sid, *::GetSidSubAuthorityCount(sid) - 1);
    return rid == LOW_INTEGRITY_RID;
}

SessionKind DetectSessionKind() {
    SessionKind kind;
    const Version::Record& v = Version::Current();
    if (v.error != 0 || v.platformId != VER_PLATFORM_WIN32_NT) return kind;
    if (v.major >= 6) {
        DWORD error = 0;
        DWORD session = GetCurrentSessionId(&error);
        kind.service = error == 0 && session == 0;
        kind.protectedSession = IsLowIntegrity();
    } else if (v.major >= 5) {
        kind.service = IsLocalSystem();
    }
    return kind;
}

bool RegisterSessionNotification(HWND window, DWORD flags, DWORD* error) {
    SetErrorWord(error, 0);
    if (!VersionAllows(QVVER_XP_OR_LATER, error)) return false;
    BoundFunction fn(L"wtsapi32.dll", "WTSRegisterSessionNotification");
    if (!fn.Ok()) { SetErrorWord(error, fn.Error()); return false; }
    if (!fn.As<BOOL(WINAPI*)(HWND, DWORD)>()(window, flags)) {
        SetErrorWord(error, ::GetLastError());
        return false;
    }
    return true;
}

bool UnregisterSessionNotification(HWND window, DWORD* error) {
    SetErrorWord(error, 0);
    if (!VersionAllows(QVVER_XP_OR_LATER, error)) return false;
    BoundFunction fn(L"wtsapi32.dll", "WTSUnRegisterSessionNotification");
    if (!fn.Ok()) { SetErrorWord(error, fn.Error()); return false; }
    if (!fn.As<BOOL(WINAPI*)(HWND)>()(window)) {
        SetErrorWord(error, ::GetLastError());
        return false;
    }
    return true;
}

} // namespace Process

namespace Synchronize {

std::wstring KernelObjectName(const std::wstring& name, bool global) {
    if (name.empty() || Version::GetError() != 0) return std::wstring();
    if (!Version::Check(QVVER_NT5_OR_LATER)) return name;
    const std::wstring prefix = global ? L"Global\\" : L"Local\\";
    if (name.find(prefix) != std::wstring::npos) return name;
    return prefix + name;
}

} // namespace Synchronize

namespace String {

HRESULT GuidToText(const GUID& guid, std::wstring& text) {
    LPOLESTR raw = nullptr;
    HRESULT hr = ::StringFromCLSID(guid, &raw);
    UniqueCoTaskMemory owner(raw);
    if (SUCCEEDED(hr) && raw) text = raw;
    return hr;
}

} // namespace String
} // namespace QvCommon
