#pragma once
// Where a session's log files live and what they are called. The rules are
// described for people in docs/tracing-library.md.
#include <windows.h>
#include <cwchar>
#include <string>
#include "QvDbgConfig.h"

namespace QvDbg {

// The parts of a file name that stay the same for a whole session.
struct FileNameParts {
    std::wstring prefix;      // "LogPrefix"; may be empty
    std::wstring name;        // "LogFile", else the module name, else QVDBG_FALLBACK_NAME
    std::wstring extension;   // "LogExtension" without a leading dot; "log" when empty
    DWORD processId = 0;      // set when "LogProcess" asks for a file per process
};

// The text of a fixed-size field of the record: up to its first terminator,
// and never past its end even when the caller left it unterminated.
template <size_t N>
std::wstring FieldText(const WCHAR (&field)[N]) {
    return std::wstring(field, wcsnlen(field, N));
}

// The absolute folder of the session's files, without a trailing "\" (a drive
// root keeps its own). Environment strings are expanded; an empty setting
// gives "<temp folder>\QvDbg". Empty when the folder cannot be resolved.
std::wstring ResolveFolder(const std::wstring& configured);

FileNameParts NameParts(const QvDbgConfig& config, DWORD processId);

// "<prefix>_<name>_<yyyy-mm-dd>[_pid<n>].<extension>"; an empty prefix leaves
// out its separator too.
std::wstring BuildFileName(const FileNameParts& parts, const SYSTEMTIME& day);

// Replaces what Windows does not allow in a file name with "_".
std::wstring SafeFileNamePart(const std::wstring& text);

} // namespace QvDbg
