#pragma once
// Writes a minidump when the process meets an unhandled exception, into the
// folder the debug-log configuration names, so that a crash leaves a file.
#include <windows.h>
#include <string>
#include "Synchronize.h"

// What the filter answers once a dump was written.
constexpr DWORD QVSEH_CONTINUE_SEARCH = 0;   // the system's own handling follows
constexpr DWORD QVSEH_EXECUTE_HANDLER = 1;
constexpr DWORD QVSEH_CONTINUE_EXECUTION = 2;

namespace QvCommon {
namespace Exception {

class SEH {
public:
    static SEH& Instance();

    // Reads "DumpType" and the dump folder, and becomes the process's
    // unhandled-exception filter with the policy given.
    void Install(DWORD policy = QVSEH_CONTINUE_SEARCH);
    // The dump's file: folder, local date and time, and the program's base name.
    std::wstring DumpFileName(const SYSTEMTIME& time) const;
    // Writes the dump; the filter's answer. exception may be null.
    LONG WriteDump(EXCEPTION_POINTERS* exception);

    void SetDumpFolder(const std::wstring& folder) { m_folder = folder; }
    void SetFullMemory(bool full) { m_fullMemory = full ? 1 : 0; }

private:
    SEH() = default;
    static LONG WINAPI Filter(EXCEPTION_POINTERS* exception);

    std::wstring m_folder = L".\\";
    DWORD m_policy = QVSEH_CONTINUE_SEARCH;
    DWORD m_fullMemory = 0;
    Synchronize::CriticalSection m_lock;
};

} // namespace Exception
} // namespace QvCommon
