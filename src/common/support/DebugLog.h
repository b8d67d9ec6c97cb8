#pragma once
// The process's debug log: decides from the configuration whether a message is
// written, formats the whole line and hands it to the tracing library
// QvDbg32.dll, which stores it. Use it through QVLOG (QvLog.h).
#include <windows.h>
#include <string>
#include "Library.h"
#include "Storage.h"
#include "Synchronize.h"

// Session kinds of the configuration.
constexpr DWORD QVLOG_SESSION_DETECT = 0;
constexpr DWORD QVLOG_SESSION_INTERACTIVE = 1;
constexpr DWORD QVLOG_SESSION_SERVICE = 2;
constexpr DWORD QVLOG_SESSION_PROTECTED = 3;

namespace QvCommon {

class DebugLog {
public:
    static DebugLog& Instance();

    bool Initialize(const std::wstring& moduleName, const Storage::Key& location,
                    const std::wstring& libraryFolder, DWORD sessionKind);
    bool Uninitialize();
    bool Trace(const char* file, int line, DWORD level, const wchar_t* format, ...);
    bool DumpMemory(const char* file, int line, DWORD level, const void* data, DWORD size);

    // The record handed to the tracing library at the last initialisation.
    const QvDbgConfig& GetConfig() const { return m_config; }
    // True when a line of the level would be written.
    bool Wants(DWORD level) {
        bool ignored = false;
        return IsWanted(level, ignored);
    }

    DebugLog();
    ~DebugLog();
    DebugLog(const DebugLog&) = delete;
    DebugLog& operator=(const DebugLog&) = delete;

private:
    bool IsWanted(DWORD level, bool& result);
    bool Write(const SYSTEMTIME& now, const std::wstring& text);
    std::wstring DumpText(const SYSTEMTIME& now, const char* file, int line, DWORD level,
                          const void* data, DWORD size) const;
    std::wstring FormatLine(const SYSTEMTIME& time, const char* file, int line, DWORD level,
                            const std::wstring& message) const;
    // False when no storage object could be made for the location.
    bool ReadConfiguration(const Storage::Key& location, bool& enabled, DWORD& mask);

    bool m_initialized = false;
    bool m_enabled = false;
    DWORD m_mask = 0;
    Synchronize::CriticalSection m_stateLock;
    std::wstring m_moduleName;
    Library::QvDbg m_library;
    DWORD m_session = 0;
    Synchronize::CriticalSection m_libraryLock;
    DWORD m_sessionKind = QVLOG_SESSION_DETECT;
    QvDbgConfig m_config = {};
};

} // namespace QvCommon
