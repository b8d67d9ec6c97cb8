#include "LogFile.h"

#include <sddl.h>
#include <cwchar>

namespace QvDbg {
namespace {

// A writer that hangs while holding the lock costs other writers this line,
// never their progress.
constexpr DWORD APPEND_LOCK_TIMEOUT_MS = 5000;

// The lock lives in the global namespace so that writers in other sessions (a
// service in session 0 and the agent of a user) share it. Everyone may wait on
// it and release it; nothing else. A low-integrity writer can open it too,
// because both rights map to read and execute, which the default no-write-up
// label allows.
const wchar_t* const APPEND_LOCK_PREFIX = L"Global\\QvDbg32_";
const wchar_t* const APPEND_LOCK_SDDL = L"D:(A;;0x00100001;;;WD)";
constexpr DWORD APPEND_LOCK_ACCESS = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Append only, so every write lands at the current end of the file even when
// other processes write too; readers and other writers may open it alongside.
// Windows makes each such write atomic on a local disk, but not every network
// share does, and Wine finds the end of the file and writes there in two
// steps; the append lock keeps lines whole on all of them.
constexpr DWORD FILE_ACCESS = FILE_APPEND_DATA | SYNCHRONIZE;
constexpr DWORD FILE_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;

constexpr unsigned long long FNV_OFFSET = 0xcbf29ce484222325ULL;
constexpr unsigned long long FNV_PRIME = 0x100000001b3ULL;

DWORD LastErrorOr(DWORD fallback) {
    DWORD error = ::GetLastError();
    return error != 0 ? error : fallback;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\') return folder + name;
    return folder + L'\\' + name;
}

QvCommon::UniqueHandle CreateAppendLock(const std::wstring& name) {
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    QvCommon::UniqueLocalMemory descriptor;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(APPEND_LOCK_SDDL, SDDL_REVISION_1,
                                                               &raw, nullptr)) {
        descriptor.reset(raw);
        attributes.lpSecurityDescriptor = raw;
    }
    return QvCommon::UniqueHandle(
        ::CreateMutexExW(&attributes, name.c_str(), 0, APPEND_LOCK_ACCESS));
}

// Owns the append lock for one scope. An abandoned lock (its last owner died
// while writing) is owned all the same.
class AppendLockScope {
public:
    explicit AppendLockScope(HANDLE lock) : m_lock(lock) {
        DWORD wait = ::WaitForSingleObject(m_lock, APPEND_LOCK_TIMEOUT_MS);
        m_owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        m_error = m_owned ? 0 : wait == WAIT_TIMEOUT ? ERROR_TIMEOUT : LastErrorOr(ERROR_LOCK_FAILED);
    }
    ~AppendLockScope() {
        if (m_owned) ::ReleaseMutex(m_lock);
    }
    AppendLockScope(const AppendLockScope&) = delete;
    AppendLockScope& operator=(const AppendLockScope&) = delete;
    DWORD Error() const { return m_error; }

private:
    HANDLE m_lock;
    bool m_owned = false;
    DWORD m_error = 0;
};

} // namespace

DWORD CreateFolderTree(const std::wstring& folder) {
    if (folder.empty()) return ERROR_PATH_NOT_FOUND;
    // Every prefix ending before a "\" is tried; those that exist or cannot be
    // folders ("C:", "\\server") fail harmlessly. Only the end result counts.
    for (size_t at = folder.find(L'\\'); at != std::wstring::npos; at = folder.find(L'\\', at + 1))
        if (at > 0) ::CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return LastErrorOr(ERROR_PATH_NOT_FOUND);
    DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastErrorOr(ERROR_PATH_NOT_FOUND);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
    return 0;
}

std::wstring AppendLockName(const std::wstring& path) {
    std::wstring upper = path;
    if (!upper.empty())
        ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.c_str(),
                       static_cast<int>(path.size()), &upper[0], static_cast<int>(upper.size()));
    // FNV-1a over the UTF-16 code units: object names cannot hold a "\", and
    // a path can be longer than a name may be.
    unsigned long long hash = FNV_OFFSET;
    for (wchar_t c : upper) {
        hash ^= static_cast<unsigned char>(c & 0xFF);
        hash *= FNV_PRIME;
        hash ^= static_cast<unsigned char>(c >> 8);
        hash *= FNV_PRIME;
    }
    wchar_t text[17];
    _snwprintf_s(text, _countof(text), _TRUNCATE, L"%016I64x", hash);
    return APPEND_LOCK_PREFIX + std::wstring(text);
}

DWORD CLogFile::Open(const std::wstring& folder, const std::wstring& fileName) {
    Close();
    DWORD error = CreateFolderTree(folder);
    if (error != 0) return error;
    std::wstring path = JoinPath(folder, fileName);
    QvCommon::UniqueHandle lock = CreateAppendLock(AppendLockName(path));
    if (!lock) return LastErrorOr(ERROR_LOCK_FAILED);
    QvCommon::UniqueHandle file(::CreateFileW(path.c_str(), FILE_ACCESS, FILE_SHARING, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastErrorOr(ERROR_OPEN_FAILED);
    m_file = std::move(file);
    m_appendLock = std::move(lock);
    m_fileName = fileName;
    return 0;
}

void CLogFile::Close() {
    m_file.reset();
    m_appendLock.reset();
    m_fileName.clear();
}

DWORD CLogFile::Append(const std::string& bytes, bool flush) {
    if (!IsOpen()) return ERROR_INVALID_HANDLE;
    if (bytes.empty()) return 0;
    AppendLockScope scope(m_appendLock.get());
    if (scope.Error() != 0) return scope.Error();
    DWORD written = 0;
    if (!::WriteFile(m_file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr))
        return LastErrorOr(ERROR_WRITE_FAULT);
    if (written != bytes.size()) return ERROR_WRITE_FAULT;
    if (flush && !::FlushFileBuffers(m_file.get())) return LastErrorOr(ERROR_WRITE_FAULT);
    return 0;
}

} // namespace QvDbg
