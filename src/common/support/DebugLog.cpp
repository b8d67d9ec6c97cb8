#include "DebugLog.h"
#include "Process.h"
#include "ProductKeys.h"
#include "QvLog.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>
#include <vector>

namespace QvCommon {
namespace {

constexpr DWORD DUMP_LIMIT = 1800;       // bytes of one memory dump
constexpr DWORD DUMP_ROW = 16;
constexpr DWORD DEFAULT_MASK = QVLOG_ERROR;

const wchar_t* Marker(DWORD level) {
    switch (level) {
    case QVLOG_TRACE: return L".w.";
    case QVLOG_INFO:  return L"@@@";
    case QVLOG_ERROR: return L"!!!";
    default:          return L"???";
    }
}

// Microsoft printf conventions ("%s" is a wide string): msvcrt's formatter.
// Measures the text once and formats it once, so that a line costs time in
// proportion to its length, however long a caller's text is.
std::wstring FormatMessageText(const wchar_t* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = _vscwprintf(format, measure);
    va_end(measure);
    if (length <= 0) return std::wstring();   // nothing, or a format msvcrt refuses
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    va_list copy;
    va_copy(copy, args);
    const int written = _vsnwprintf_s(buffer.data(), buffer.size(), _TRUNCATE, format, copy);
    va_end(copy);
    return std::wstring(buffer.data(), written < 0 ? 0 : static_cast<size_t>(written));
}

std::wstring Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatMessageText(format, args);
    va_end(args);
    return text;
}

// The part of a source path after the last "\", "/" or ":", in UTF-16.
std::wstring SourceFileName(const char* file) {
    if (!file) return std::wstring();
    const char* name = file;
    for (const char* p = file; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    int length = ::MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
    if (length <= 1) return std::wstring();
    std::wstring wide(length, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, name, -1, &wide[0], length);
    wide.resize(length - 1);
    return wide;
}

template <size_t N>
void CopyField(WCHAR (&field)[N], const std::wstring& text) {
    // Cut at the field's size and at the first terminator (a REG_MULTI_SZ
    // gives its first string).
    wcsncpy_s(field, N, text.c_str(), _TRUNCATE);
}

// Which kind of session the process runs in, for the configuration subkey.
void DetectSession(DWORD kind, BYTE& service, BYTE& protectedSession) {
    service = 0;
    protectedSession = 0;
    switch (kind) {
    case QVLOG_SESSION_INTERACTIVE: return;
    case QVLOG_SESSION_SERVICE: service = 1; return;
    case QVLOG_SESSION_PROTECTED: protectedSession = 1; return;
    default: break;
    }
    Process::SessionKind detected = Process::DetectSessionKind();
    service = detected.service ? 1 : 0;
    protectedSession = detected.protectedSession ? 1 : 0;
}

// Null for an unknown kind, or when the object cannot be allocated.
std::unique_ptr<Storage::Base> MakeStorage(DWORD kind) {
    try {
        switch (kind) {
        case QVSTORAGE_REGISTRY:
        case QVSTORAGE_REGISTRY_ALT:
            return std::make_unique<Storage::Registry>(
                Process::IsWow64ModeProcess() ? QVREG_VIEW_64 : QVREG_VIEW_DEFAULT);
        case QVSTORAGE_INI_FILE:
            return std::make_unique<Storage::IniFile>();
        default:
            return nullptr;
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

DebugLog& DebugLog::Instance() {
    static DebugLog s_log;
    return s_log;
}

DebugLog::DebugLog() {
    Synchronize::AutoLock lock(m_stateLock);
    m_initialized = false;
    m_enabled = false;
    m_mask = 0;
}

// At process exit only the library is let go; the session stays open.
DebugLog::~DebugLog() = default;

bool DebugLog::ReadConfiguration(const Storage::Key& location, bool& enabled, DWORD& mask) {
    // Registry reads throw on the first missing value, INI reads take these
    // defaults; either way what was read before stays.
    std::unique_ptr<Storage::Base> storage = MakeStorage(location.GetKind());
    if (!storage) return false;
    const wchar_t* subkey = m_config.serviceSession     ? QV_DEBUGLOG_SERVICE
                            : m_config.protectedSession ? QV_DEBUGLOG_PROTECTED
                                                        : QV_DEBUGLOG_INTERACTIVE;
    try {
        storage->OpenForRead(location, subkey);
        enabled = storage->ReadDword(QV_VALUE_LOG_ENABLE, 1) != 0;
        mask = storage->ReadDword(QV_VALUE_LOG_LEVEL, DEFAULT_MASK);
        m_config.logProcess = storage->ReadDword(QV_VALUE_LOG_PROCESS, 0);
        m_config.logUnitType = storage->ReadDword(QV_VALUE_LOG_UNIT_TYPE, 0);
        CopyField(m_config.logFolder, storage->ReadString(QV_VALUE_LOG_FOLDER, L""));
        CopyField(m_config.logPrefix, storage->ReadString(QV_VALUE_LOG_PREFIX, L"NORDAL"));
        CopyField(m_config.logFile, storage->ReadString(QV_VALUE_LOG_FILE, L""));
        CopyField(m_config.logExtension, storage->ReadString(QV_VALUE_LOG_EXTENSION, L"log"));
        m_config.robust = storage->ReadDword(QV_VALUE_LOG_ROBUST, 0) != 0;
        m_config.debugger = storage->ReadDword(QV_VALUE_LOG_DEBUGGER, 0) != 0;
    } catch (Storage::Exception* e) {
        delete e;
    } catch (const std::bad_alloc&) {
        // Ends the reading like a storage error: the log starts all the same.
    }
    try {
        storage->Close(false);
    } catch (Storage::Exception* e) {
        delete e;
    }
    return true;
}

bool DebugLog::Initialize(const std::wstring& moduleName, const Storage::Key& location,
                          const std::wstring& libraryFolder, DWORD sessionKind) {
    Synchronize::AutoLock libraryLock(m_libraryLock);
    m_moduleName = moduleName;
    m_sessionKind = sessionKind > QVLOG_SESSION_PROTECTED ? QVLOG_SESSION_DETECT : sessionKind;

    m_config = QvDbgConfig();
    ::GetLocalTime(&m_config.localTime);
    DetectSession(m_sessionKind, m_config.serviceSession, m_config.protectedSession);
    CopyField(m_config.moduleName, m_moduleName);

    // An unknown storage kind makes no storage object, and the log stays off.
    bool enabled = false;
    DWORD mask = DEFAULT_MASK;
    if (!ReadConfiguration(location, enabled, mask)) return false;

    bool initialized;
    {
        Synchronize::AutoLock stateLock(m_stateLock);
        if (!enabled) m_initialized = true;
        m_enabled = enabled;
        m_mask = mask;
        initialized = m_initialized;
    }

    if (!initialized && enabled) {
        if (!m_library.LoadFrom(libraryFolder)) {
            m_library.Unload();
            m_library.BindEntryPoints(false, nullptr);
            return false;
        }
        DWORD session = 0;
        if (m_library.Initialize(&session, &m_config) != 0 || session == 0) {
            m_library.Unload();
            m_library.BindEntryPoints(false, nullptr);
            return false;
        }
        m_session = session;
    }

    Synchronize::AutoLock stateLock(m_stateLock);
    m_initialized = true;
    return true;
}

bool DebugLog::Uninitialize() {
    Synchronize::AutoLock libraryLock(m_libraryLock);
    {
        Synchronize::AutoLock stateLock(m_stateLock);
        if (!m_initialized) return false;
    }
    if (m_library.IsBound()) {
        m_library.Uninitialize(m_session);
        m_session = 0;
        m_library.Unload();
        m_library.BindEntryPoints(false, nullptr);
    }
    Synchronize::AutoLock stateLock(m_stateLock);
    m_initialized = false;
    m_enabled = false;
    m_mask = 0;
    return true;
}

// Reads the gate under the state lock. Returns true when the message is to be
// written; otherwise result holds what the call answers.
bool DebugLog::IsWanted(DWORD level, bool& result) {
    Synchronize::AutoLock lock(m_stateLock);
    if (!m_initialized) { result = false; return false; }
    if (!m_enabled) { result = true; return false; }
    if ((m_mask & level) == 0) { result = false; return false; }
    return true;
}

std::wstring DebugLog::FormatLine(const SYSTEMTIME& t, const char* file, int line, DWORD level,
                                  const std::wstring& message) const {
    std::wstring text = Format(L"%02d/%02d/%04d %02d:%02d:%02d.%03d", t.wDay, t.wMonth, t.wYear,
                               t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    text += Format(L" %04x:%04x %3s <%s> ", ::GetCurrentProcessId(), ::GetCurrentThreadId(),
                   Marker(level), m_moduleName.c_str());
    text += message;
    text += Format(L" - %s(%lu)\r\n", SourceFileName(file).c_str(),
                   static_cast<unsigned long>(line));
    return text;
}

bool DebugLog::Trace(const char* file, int line, DWORD level, const wchar_t* format, ...) {
    bool result = false;
    if (!IsWanted(level, result)) return result;

    // A caller of the log must never see an exception: every step that
    // allocates stays inside a try.
    std::wstring message;
    bool formatted = true;
    va_list args;
    va_start(args, format);
    try {
        message = FormatMessageText(format ? format : L"", args);
    } catch (const std::bad_alloc&) {
        message.clear();   // written with an empty message
    } catch (String::Exception* e) {
        delete e;
        message.clear();
    } catch (...) {
        formatted = false;
    }
    va_end(args);
    if (!formatted) return false;

    try {
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        return Write(now, FormatLine(now, file, line, level, message));
    } catch (...) {
        return false;
    }
}

bool DebugLog::Write(const SYSTEMTIME& now, const std::wstring& text) {
    Synchronize::AutoLock libraryLock(m_libraryLock);
    if (!m_library.Trace) return false;
    return m_library.Trace(m_session, &now, text.c_str()) == 0;
}

bool DebugLog::DumpMemory(const char* file, int line, DWORD level, const void* data, DWORD size) {
    bool result = false;
    if (!IsWanted(level, result)) return result;
    try {
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        return Write(now, DumpText(now, file, line, level, data, size));
    } catch (...) {
        return false;   // out of memory: the dump is lost, the caller goes on
    }
}

std::wstring DebugLog::DumpText(const SYSTEMTIME& now, const char* file, int line, DWORD level,
                                const void* data, DWORD size) const {
    std::wstring message = L">>> dump memory";
    if (size > DUMP_LIMIT) {
        message += Format(L"??? size too big, dump %d bytes only!", DUMP_LIMIT);
        size = DUMP_LIMIT;
    }
    std::wstring text = FormatLine(now, file, line, level, message);

    // Every row has 16 positions; a size that is a multiple of 16 (or 0) ends
    // with a row of blanks.
    const BYTE* bytes = static_cast<const BYTE*>(data);
    if (!bytes) size = 0;
    const DWORD positions = (size / DUMP_ROW + 1) * DUMP_ROW;
    for (DWORD i = 0; i < positions; ++i) {
        text += i < size ? Format(L" %02x", bytes[i]) : std::wstring(L"   ");
        if ((i + 1) % DUMP_ROW == 0) {
            text += L"   ";
            for (DWORD j = i + 1 - DUMP_ROW; j <= i; ++j) {
                if (j >= size) text += L' ';
                else text += std::iswprint(bytes[j]) ? static_cast<wchar_t>(bytes[j]) : L'.';
            }
            text += L"\r\n";
        }
    }
    return text;
}

} // namespace QvCommon
